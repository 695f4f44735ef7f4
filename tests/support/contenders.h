// Test support for heartbeat contention: `ostrel contend` processes on hosts of their own, what
// the listing says of one contender, and waiting for a condition with a limit. The processes are
// Linux only.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

#if !defined(_WIN32)
// One `ostrel contend pump --period 1` process. With a `host` name it runs in a UTS namespace of
// its own under that name (`unshare --uts`, which needs root); `launcher` are the words that start
// it elsewhere (NetworkLab::inside). It reads the settings of TARN_SETTINGS. SIGKILL on scope exit.
class Contender {
 public:
  explicit Contender(const std::string& host, std::vector<std::string> launcher = {});
  ~Contender() { signal(SIGKILL); }
  Contender(const Contender&) = delete;
  Contender& operator=(const Contender&) = delete;
  // Sends `sig` and waits for the process to end.
  void signal(int sig);

 private:
  int pid_ = -1;
};
#endif

// "active", "standby" or "absent": contender `name` of `host` in a fresh listing of `server`
// (default realm); "no listing" when the listing fails.
std::string contenderRole(const char* server, const std::string& host, const std::string& name);
// The number of contenders the listing of `server` holds, over all hosts; -1 when it fails.
int contenderCount(const char* server);
// Polls `condition` every 100 ms until it holds (true) or `limit` has passed (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace testing_support
