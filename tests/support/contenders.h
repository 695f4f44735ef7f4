// Test support for heartbeat contention: what the listing says of one contender, and waiting
// for a condition with a limit.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace testing_support {

// "active", "standby" or "absent": contender `name` of `host` in a fresh listing of `server`
// (default realm); "no listing" when the listing fails.
std::string contenderRole(const char* server, const std::string& host, const std::string& name);
// The number of contenders the listing of `server` holds, over all hosts; -1 when it fails.
int contenderCount(const char* server);
// Polls `condition` every 100 ms until it holds (true) or `limit` has passed (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace testing_support
