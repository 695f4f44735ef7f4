// Test support: real tarnd processes on loopback, settings files, fault plans, slot guards.
//
// Every helper cleans up on scope exit: a TarndProcess kills its server (stops it, in
// the coverage build, so that it writes its profile), ScopedSettings restores
// TARN_SETTINGS and makes the middleware read the settings again, SlotGuard restores a slot.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <boost/function.hpp>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/name_lists.h"
#include "tests/support/environment.h"

namespace testing_support {

// A loopback TCP port that nothing listens on right now.
int freePort();
// A loopback address that nothing answers at right now.
inline std::string deadAddress() { return "127.0.0.1:" + std::to_string(freePort()); }

#if !defined(_WIN32)
// The command that runs tarnd: the built one, or the words of OSTREL_TARND when it is set (for
// example "/usr/lib/wine/wine64 /path/tarnd.exe": this program's tests against the Windows server
// under wine), joined by spaces for a shell.
std::string tarndCommand();
#endif

// One tarnd process serving server `name` on 127.0.0.1:port (or on `host`).
class TarndProcess {
 public:
  TarndProcess(std::string name, int port, std::vector<std::string> extraArgs = {});
  ~TarndProcess();
  TarndProcess(const TarndProcess&) = delete;
  TarndProcess& operator=(const TarndProcess&) = delete;

  // Starts the server and waits until it answers (at most 10 s). False when it did not come up.
  // The first start moves to another free port when the process ends at once (its port was
  // taken meanwhile); port() and address() say where it came up.
  bool start();
  // SIGKILL, then waits for the process to end: the server vanishes without a goodbye.
  void kill();
  // kill() after `delay`, on a thread of its own that the caller joins (a failover mid-test).
  std::thread killAfter(std::chrono::milliseconds delay) {
    return std::thread([this, delay] {
      std::this_thread::sleep_for(delay);
      kill();
    });
  }
  // SIGTERM (SIGINT for OSTREL_TARND: wine ends a program at SIGTERM, and turns SIGINT into the
  // console's stop event), then waits: the clean stop. Returns the exit status.
  int stop();
  bool running() const { return pid_ > 0; }
  // Whether the server takes fault plans (--allow-fault-plans); set before start().
  bool faultPlans = true;
  // The host address it listens on (--listen, besides any in the extra arguments), and the words
  // that start it there (NetworkLab::inside; empty: this host); set before start(). Linux only.
  std::string host = "127.0.0.1";
  std::vector<std::string> launcher;
  // Whether manager() reaches it over TLS (a tarnd started --tls-only; this process's ORB must
  // have its TLS files, tls.h); set before start().
  bool tls = false;
  pid_t pid() const { return pid_; }
  int port() const { return port_; }
  std::string address() const { return host + ":" + std::to_string(port_); }
  // The service manager, reached straight over loopback (no naming client involved).
  kxTarn::kxTarnServiceManager_ptr manager() const;

 private:
  std::string name_;
  int port_;
  std::vector<std::string> extraArgs_;
  pid_t pid_ = -1;
  bool startedOnce_ = false;
  bool startOnce();
};

struct ServerEntry {
  std::string name;
  std::string position;
  std::vector<std::string> addresses;  // empty and embedded: served in this process
  bool embedded = false;
  bool tls = false;  // reached over TLS (tls="true")
};

// Writes a settings file, points TARN_SETTINGS at it and makes the naming client and the
// reference container read it. The destructor restores the previous settings.
class ScopedSettings {
 public:
  explicit ScopedSettings(const std::vector<ServerEntry>& servers);
  ~ScopedSettings();
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// Makes the middleware read its settings again (after TARN_SETTINGS or the file changed).
void reloadSettings();

// Plans a fault on `server` (reached through the reference container).
// mode: 0 raise `exception`, 1 return `code`, 2 stall `stallMs` milliseconds; the first `skip`
// calls of the operation run normally.
void planFault(const char* server, const std::string& operation, int mode, int count,
               const std::string& exception = "TRANSIENT", int code = 0, int stallMs = 0, int skip = 0);
void clearFaults(const char* server);

// The strings of `list`, which is released; {"<rc N>"} when `rc`, the listing call's result,
// is not 0.
std::vector<std::string> takeNames(int rc, ObjectNames& list);

// Replaces a slot for the length of a scope and restores what it held before.
template <typename Signature>
class SlotGuard {
 public:
  SlotGuard(boost::function<Signature>& slot, boost::function<Signature> replacement)
      : slot_(slot), saved_(slot) {
    slot_ = std::move(replacement);
  }
  ~SlotGuard() { slot_ = saved_; }
  SlotGuard(const SlotGuard&) = delete;
  SlotGuard& operator=(const SlotGuard&) = delete;

 private:
  boost::function<Signature>& slot_;
  boost::function<Signature> saved_;
};

}  // namespace testing_support
