/// @file
/// The middleware's remote interfaces (stubs generated from tarn/idl/tarn.idl).
///
/// References handed out by the naming client and the reference container belong to the caller,
/// who releases them with CORBA::release on every path. Remote calls may raise any CORBA exception.
#pragma once

#include <omniORB4/CORBA.h>

#include "tarn.hh"
