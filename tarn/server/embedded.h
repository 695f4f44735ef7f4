// The embedded server: a middleware server hosted inside the calling process, on the process's
// own ORB (calls to it are collocated, no sockets). Started on first use, one per server name;
// the types come from the file named by TARN_TYPES, else the built-in plant types.
#pragma once

#include <string>

#include "ostrel/api/middleware/kxTarn.h"

namespace tarn {

class ServerHost;

// The service manager of the embedded server `name`, started when it first asked for;
// nil when it cannot start. Thread-safe.
kxTarn::kxTarnServiceManager_ptr embeddedManager(const std::string& name);
// The embedded host itself (started if needed), for in-process tests: fault plans, types.
ServerHost* embeddedHost(const std::string& name);

}  // namespace tarn
