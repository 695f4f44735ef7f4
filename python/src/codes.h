// The result codes the binding acts on: the library's own (result_codes.h) and the few
// middleware codes it sorts into exception classes or retries on, as the flat client API
// documents them (the middleware's own list is not among the installed headers).
#pragma once

#include "ostrel/api/result_codes.h"

namespace pyostrel::code {

constexpr int kOk = OstrelCode::kOk;
constexpr int kUnknownServer = 2001;       // the settings name no such server
constexpr int kServerNotAnswering = 2002;  // the server did not answer in time
constexpr int kNoSuchObject = 2003;        // no data point, port or event box of that name
constexpr int kReceiveRefused = OstrelCode::kReceiveRefused;  // refused for a passing reason: retry
constexpr int kAlreadyExists = 2005;
constexpr int kUnknownType = 2007;
constexpr int kNothingReceived = OstrelCode::kNothingReceived;  // a wait ended with nothing
constexpr int kSettingsNotWritable = 2009;
constexpr int kNoSuchSnapshot = 2013;
constexpr int kRemoteFailure = 2016;       // the remote call failed (a call time-out among the causes)
constexpr int kNoSuchField = 2021;
constexpr int kLibraryEnded = OstrelCode::kLibraryEnded;
constexpr int kNotPermitted = 2026;  // the server's rights file does not grant the call (tarnd --rights)

}  // namespace pyostrel::code
