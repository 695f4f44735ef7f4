/// @file
/// Ostrel for applications: this one header brings the whole public interface of the client
/// library: the operations (Ostrel::X, their slots and result codes), typed and partial records,
/// their meta data and stream form, data types, the result lists the operations fill, status
/// listeners, server settings, the contender listing and remote snapshot files.
///
/// Including a narrower header instead is fine; this one exists so that a program never meets an
/// incomplete type of the interface. The middleware declarations (ostrel/api/middleware/) are not
/// part of it: an application does not need them.
#pragma once

#include "ostrel/api/name_lists.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/connection/server_settings.h"
#include "ostrel/connection/status_listener.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "ostrel/data/store.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/data/value_convertor.h"
#include "ostrel/datapoints/query_names.h"
#include "ostrel/datapoints/remote_file.h"
#include "ostrel/redundancy/contender_lists.h"
