#include "ostrel/connection/connector.h"

#include <algorithm>
#include <chrono>
#include <new>

#include <ace/Guard_T.h>
#include <boost/bind/bind.hpp>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/status_listener.h"
#include "ostrel/platform/clock.h"

namespace {

using ListenerGuard = ACE_Guard<ACE_Recursive_Thread_Mutex>;
using ReadGuard = ACE_Read_Guard<ACE_RW_Mutex>;
using WriteGuard = ACE_Write_Guard<ACE_RW_Mutex>;
using PositionGuard = ACE_Guard<ACE_Thread_Mutex>;

// Set once the monitor thread has been stopped for good (ExitOstrel). A connector made after
// that, for instance by a late call once ACE has ended and destroyed the first one, starts no
// thread and registers nothing with the naming client, which has ended too.
std::atomic<bool> monitorRetired{false};

// connect() and disconnect() name a null server after the server at "own", or leave it empty.
std::string nameOrOwn(const char* server) {
  if (server != nullptr) return server;
  return ostrel::ownServerName().value_or(std::string());
}

}  // namespace

TarnConnector* TarnConnector::instance() {
  TarnConnector* connector = ostrel::platform::Singleton<TarnConnector>::instance();
  if (connector == nullptr) throw std::bad_alloc();
  return connector;
}

TarnConnector::TarnConnector() {
  if (monitorRetired.load()) {
    stopFlag_ = 1;
    return;
  }
  activate(THR_NEW_LWP | THR_JOINABLE, 1);
  namingConnection_ = kxNaming_Client::GetInstance()->registerConnectionSlot(
      boost::bind(&TarnConnector::onServerConnection, this, boost::placeholders::_1,
                  boost::placeholders::_2));
}

TarnConnector::~TarnConnector() {
  ostrel::platform::Singleton<TarnConnector>::retire();
  // The naming client may outlive this object; its thread must not call into freed memory.
  namingConnection_.disconnect();
  wakeMonitor();
  wait();
}

int TarnConnector::connect(const char* server) { return connectIn(server, generation_.load()); }

int TarnConnector::connectIn(const char* server, std::uint64_t generation) {
  const int result = kx_tarn_connect(server);
  const std::string name = nameOrOwn(server);
  if (name.empty()) return OstrelCode::kNoServerName;

  bool known = false;
  int previous = OstrelCode::kNoState;
  {
    ReadGuard guard(stateLock_);
    if (!guard.locked()) return OstrelCode::kNoState;
    auto it = connectStates_.find(name);
    if (it != connectStates_.end()) {
      known = true;
      previous = it->second;
    }
  }

  // Asked before any lock is taken: the naming client calls back into onServerConnection from
  // its own thread, so asking it while holding the write side could deadlock. It is recorded with
  // an announced change too; otherwise the next scan would report the address as another change.
  const char* active = Ostrel::activeServer(name.c_str());
  std::string oldActive;
  if (known) {
    ListenerGuard guard(listenerLock_);
    if (!guard.locked()) return OstrelCode::kOk;
    oldActive = activeServers_[name];
  } else {
    WriteGuard guard(stateLock_);
    if (!guard.locked()) return OstrelCode::kNoState;
    if (generation != generation_.load()) return result;  // a disconnect came in between
    connectStates_.insert({name, result});
    publishStates();
  }

  {
    ListenerGuard guard(listenerLock_);
    if (!guard.locked()) return OstrelCode::kOk;
    // A disconnect since this attempt began dropped every state; its result is no news.
    if (generation != generation_.load()) return result;
    // Compare with what listeners last heard rather than with the recorded state alone: the
    // naming client may already have recorded a server's return (or loss), and listeners would
    // otherwise never hear of it.
    int heard = previous;
    if (known) {
      auto it = announced_.find(name);
      if (it != announced_.end()) heard = it->second;
    }
    const bool changed = heard != result;
    // Recorded before anyone hears of it, so that a listener (or a caller woken by one) that asks
    // IsConnect gets the news rather than the state before it. listenerLock then stateLock is
    // the nesting disconnect uses too; no listener runs with stateLock held.
    {
      WriteGuard stateGuard(stateLock_);
      if (!stateGuard.locked()) return OstrelCode::kNoState;
      connectStates_[name] = result;
      publishStates();
    }
    if (changed) notifyAll(name, result == OstrelCode::kOk);
    announced_[name] = result;
    if (active != nullptr) {
      if (!changed && oldActive != active) notifyAll(name, active[0] != '\0');
      activeServers_[name] = active;
    }
  }
  return result;
}

void TarnConnector::disconnect(const char* server) {
  const std::string name = nameOrOwn(server);
  if (name.empty()) return;
  ListenerGuard guard(listenerLock_);
  if (!guard.locked()) return;
  {
    WriteGuard stateGuard(stateLock_);
    if (!stateGuard.locked()) return;
    connectStates_.clear();
    publishStates();
    ++generation_;
  }
  announced_.clear();
  notifyAll(name, false);
}

int TarnConnector::connectState(const char* server) {
  std::string name;
  if (server == nullptr) {
    auto own = ostrel::ownServerName();
    if (!own) return OstrelCode::kNoServerName;
    name = std::move(*own);
  } else if (server[0] == '\0') {
    name = ostrel::ownServerName().value_or(std::string());
  } else {
    name = server;
  }
#if defined(__MINGW32__)
  // Under mingw-w64 a thread_local object with a destructor is not safe: its emulated storage can
  // be released before the destructor runs, and the per-thread shared_ptr below corrupted the
  // heap when its thread ended (the Windows tests, under wine). So each call takes its own
  // reference to the published states there.
  const std::shared_ptr<const StateMap> states = std::atomic_load(&published_);
  auto found = states->find(name);
  return found != states->end() ? found->second : OstrelCode::kNoState;
#else
  // Every guarded operation asks this: it reads a per-thread copy of the published states and
  // writes no shared memory unless a writer has published since this thread last looked.
  struct Seen {
    const TarnConnector* owner = nullptr;
    std::uint64_t version = 0;
    std::shared_ptr<const StateMap> states;
  };
  thread_local Seen seen;
  const std::uint64_t version = publishedVersion_.load(std::memory_order_acquire);
  if (seen.owner != this || seen.version != version || !seen.states) {
    seen.states = std::atomic_load(&published_);
    seen.version = version;
    seen.owner = this;
  }
  auto it = seen.states->find(name);
  return it != seen.states->end() ? it->second : OstrelCode::kNoState;
#endif
}

const char* TarnConnector::defaultPosition(const char* server) {
  PositionGuard guard(positionLock_);
  const std::string*& text = defaultPositions_[server != nullptr ? server : ""];
  if (text == nullptr) text = &*positionTexts_.emplace().first;
  return text->c_str();
}

std::string TarnConnector::defaultPositionCopy(const char* server) {
  PositionGuard guard(positionLock_);
  auto it = defaultPositions_.find(server != nullptr ? server : "");
  return it != defaultPositions_.end() ? *it->second : std::string();
}

void TarnConnector::setDefaultPosition(const char* server, const char* position) {
  PositionGuard guard(positionLock_);
  const std::string* text = &*positionTexts_.emplace(position != nullptr ? position : "").first;
  defaultPositions_[server != nullptr ? server : ""] = text;
}

void TarnConnector::installListener(BrennicStatusListenerBase& listener) {
  ListenerGuard guard(listenerLock_);
  if (!guard.locked()) return;
  listeners_.push_back(&listener);
}

void TarnConnector::removeListener(BrennicStatusListenerBase& listener) {
  ListenerGuard guard(listenerLock_);
  if (!guard.locked()) return;
  auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
  if (it != listeners_.end()) listeners_.erase(it);
}

void TarnConnector::onServerConnection(std::string server, bool isConnected) {
  {
    WriteGuard guard(stateLock_);
    if (!guard.locked()) return;
    connectStates_[server] = isConnected ? OstrelCode::kOk : OstrelCode::kNoState;
    publishStates();
  }
  if (!isConnected) kxReferenceContainer::instance()->releaseAllReference(server.c_str());
}

void TarnConnector::stop() {
  monitorRetired.store(true);
  wakeMonitor();
  wait();
}

void TarnConnector::wakeMonitor() {
  {
    std::lock_guard<std::mutex> hold(tickMutex_);
    stopFlag_ = 1;
  }
  tickWake_.notify_all();
}

std::vector<std::string> TarnConnector::knownServers() {
  std::vector<std::string> names;
  ReadGuard guard(stateLock_);
  if (!guard.locked()) return names;
  names.reserve(connectStates_.size());
  for (const auto& entry : connectStates_) names.push_back(entry.first);
  return names;
}

int TarnConnector::svc() {
  while (stopFlag_ == 0) {
    const std::int32_t now = ostrel::platform::nowSeconds32();
    // In 64 bits, so that a clock near the top of the 32-bit range cannot overflow the sum.
    if (static_cast<std::int64_t>(now) > static_cast<std::int64_t>(lastScan_) + kScanSeconds) {
      lastScan_ = now;
      std::vector<std::string> names;
      std::uint64_t generation = 0;
      {
        ReadGuard guard(stateLock_);
        if (!guard.locked()) return -1;
        for (const auto& entry : connectStates_) names.push_back(entry.first);
        generation = generation_.load();
      }
      for (const std::string& name : names) {
        if (stopFlag_ != 0) break;
        connectIn(name.c_str(), generation);
      }
    }
    // A tick, cut short by stop(): the process does not wait out the tick when it ends.
    std::unique_lock<std::mutex> hold(tickMutex_);
    tickWake_.wait_for(hold, std::chrono::milliseconds(scanPeriod_.msec()), [this] { return stopFlag_ != 0; });
  }
  return 0;
}

// REQUIRES: the write side of stateLock_ held.
void TarnConnector::publishStates() {
  std::atomic_store(&published_, std::make_shared<const StateMap>(connectStates_));
  publishedVersion_.fetch_add(1, std::memory_order_release);
}

// REQUIRES: listenerLock_ held.
void TarnConnector::notifyAll(const std::string& name, bool connected) {
  // A listener may install or remove listeners from inside its callback. The pass calls those
  // installed when it began, each once, skipping any removed before its turn (it may be gone).
  const std::vector<BrennicStatusListenerBase*> pass = listeners_;
  for (std::size_t i = 0; i < pass.size(); ++i) {
    BrennicStatusListenerBase* listener = pass[i];
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
      continue;
    }
    if (connected) {
      listener->onConnected(name.c_str());
    } else {
      listener->onDisconnected(name.c_str());
    }
  }
}

int OstrelOrigin::ConnectTarn(const char* server) { return TarnConnector::instance()->connect(server); }

void OstrelOrigin::DisConnectTarn(const char* server) { TarnConnector::instance()->disconnect(server); }

int OstrelOrigin::IsConnect(const char* server) { return TarnConnector::instance()->connectState(server); }

int OstrelOrigin::DivertReleam(const char* server, const char* position) {
  TarnConnector::instance()->setDefaultPosition(server, position);
  return OstrelCode::kOk;
}
