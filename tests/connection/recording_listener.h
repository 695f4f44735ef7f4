// A status listener for tests: records every event and lets a test wait for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/status_listener.h"

namespace testing_support {

struct StatusEvent {
  std::string server;
  bool connected;
  std::chrono::steady_clock::time_point at = {};  // when it was heard; not compared
  bool operator==(const StatusEvent& other) const {
    return server == other.server && connected == other.connected;
  }
};

inline std::ostream& operator<<(std::ostream& out, const StatusEvent& event) {
  return out << (event.connected ? "up:" : "down:") << event.server;
}

class RecordingListener : public BrennicStatusListenerBase {
 public:
  // `log`, when given, gets "<tag><+|-><server>" per event, for the order across listeners.
  explicit RecordingListener(std::vector<std::string>* log = nullptr, std::string tag = "")
      : log_(log), tag_(std::move(tag)) {}

  void onConnected(const char* server) override { record(server, true); }
  void onDisconnected(const char* server) override { record(server, false); }
  void onNamingServerChanged(const char*, int) override {}
  void onDataServerChanged(const char*, const char*, int) override {}
  void onEventServerChanged(const char*, const char*, int) override {}
  void onMasterChanged(const char*, bool) override {}

  std::vector<StatusEvent> events() {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.clear();
  }
  // Whether an event of kind `connected` was heard in [from, to].
  bool heard(bool connected, std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const StatusEvent& e : events_)
      if (e.connected == connected && e.at >= from && e.at <= to) return true;
    return false;
  }
  // Waits until an event {server, connected} arrives (counting from the last clear()).
  bool waitFor(const std::string& server, bool connected, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, limit, [&] {
      for (const StatusEvent& event : events_)
        if (event.server == server && event.connected == connected) return true;
      return false;
    });
  }

 private:
  void record(const char* server, bool connected) {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.push_back({server, connected, std::chrono::steady_clock::now()});
    if (log_ != nullptr) log_->push_back(tag_ + (connected ? "+" : "-") + server);
    changed_.notify_all();
  }

  std::vector<std::string>* log_;
  std::string tag_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<StatusEvent> events_;
};

// Installs a listener for the length of a scope.
class ScopedListener {
 public:
  explicit ScopedListener(BrennicStatusListenerBase& listener) : listener_(listener) {
    Ostrel::InstallListener(listener_);
  }
  ~ScopedListener() { Ostrel::RemoveListener(listener_); }
  ScopedListener(const ScopedListener&) = delete;
  ScopedListener& operator=(const ScopedListener&) = delete;

 private:
  BrennicStatusListenerBase& listener_;
};

}  // namespace testing_support
