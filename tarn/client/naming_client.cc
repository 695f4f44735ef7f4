// The naming client: resolves positions and keys to references, and pings every known server
// from a thread of its own, telling the registered slots when a server comes or goes.
#include "ostrel/api/middleware/kxNaming_Client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <boost/signals2/signal.hpp>
#include <omniORB4/omniORB.h>

#include "ostrel/api/middleware/Scribe80.h"
#include "tarn/client/directory.h"
#include "tarn/client/orb.h"
#include "tarn/client/remote_call.h"

namespace {

constexpr CORBA::ULong kNoLimitMs = 0x7fffffff;

// Milliseconds between two pings of every server; TARN_PING_MS overrides it.
int pingPeriodMs() {
  const char* text = std::getenv("TARN_PING_MS");
  int period = text ? std::atoi(text) : 0;
  return period > 0 ? period : 500;
}

// The end of the client is bounded from PrepareExit on.
constexpr auto kEndWithin = std::chrono::milliseconds(2500);
using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> endBy{0};       // PrepareExit's time plus kEndWithin; 0 before it

struct Watcher {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;               // GUARDED_BY(mutex)
  std::thread thread;
  std::map<std::string, bool> seen;    // only the watcher thread touches it
  boost::signals2::signal<void(std::string, bool)> news;

  void start() { thread = std::thread([this] { run(); }); }

  // Asks the thread to end after the ping under way (PrepareExit: it ends meanwhile).
  void requestStop() {
    {
      std::lock_guard<std::mutex> hold(mutex);
      stopping = true;
    }
    wake.notify_all();
  }

  void stop() {
    requestStop();
    if (thread.joinable()) thread.join();
  }

  void run() {
    const auto period = std::chrono::milliseconds(pingPeriodMs());
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(mutex);
        if (wake.wait_for(hold, period, [this] { return stopping; })) return;
      }
      for (const std::string& server : tarn::Directory::get().allServers()) {
        if (endBy.load() != 0) return;  // the end began: no more pings
        const bool up = tarn::Directory::get().ping(server) == 0;
        auto it = seen.find(server);
        // The first look at a server sets its baseline; only changes are news.
        if (it == seen.end()) {
          seen[server] = up;
        } else if (it->second != up) {
          it->second = up;
          news(server, up);
        }
      }
    }
  }
};

std::mutex instanceMutex;
kxNaming_Client* instance = nullptr;   // GUARDED_BY(instanceMutex)
Watcher* watcher = nullptr;            // GUARDED_BY(instanceMutex)
bool exited = false;                   // GUARDED_BY(instanceMutex)
std::atomic<bool> ended{false};        // the end began (PrepareExit): waits in flight give up

// Remote calls under way. ExitInstance closes the door and lets them end before the ORB goes: an
// ORB destroyed under a call brings the process down.
std::mutex callsMutex;
std::condition_variable callsEnded;
int callsUnderWay = 0;                 // GUARDED_BY(callsMutex)
bool callsClosed = false;              // GUARDED_BY(callsMutex)

// Closes the door; true once no call is under way, false when some still are at the end's bound.
bool closeCalls() {
  std::unique_lock<std::mutex> hold(callsMutex);
  callsClosed = true;
  const Clock::time_point until{Clock::duration(endBy.load())};
  return callsEnded.wait_until(hold, until, [] { return callsUnderWay == 0; });
}

// The ping thread must not outlive the process's static objects (the ORB's among them): it is
// stopped by an exit handler, which runs before the statics made earlier are destroyed.
void stopWatcherAtExit() {
  Watcher* stopping = nullptr;
  {
    std::lock_guard<std::mutex> hold(instanceMutex);
    stopping = watcher;  // kept: exit handlers of others may still register slots with it
    exited = true;
  }
  tarn::stopDeliveries();
  if (stopping) stopping->stop();
}

}  // namespace

namespace tarn {
bool clientEnded() { return ended; }

int endingCallTimeOut() {
  const Clock::rep by = endBy.load();
  if (by == 0) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(by) - Clock::now().time_since_epoch());
  // In steps of 100 ms: a call time-out keeps a proxy of its own (patientReference).
  return static_cast<int>(std::max<long long>(100, left.count() / 100 * 100));
}

bool enterCall() {
  std::lock_guard<std::mutex> hold(callsMutex);
  if (callsClosed) return false;
  ++callsUnderWay;
  return true;
}

void leaveCall() {
  std::lock_guard<std::mutex> hold(callsMutex);
  if (--callsUnderWay == 0) callsEnded.notify_all();
}
}  // namespace tarn

kxNaming_Client::kxNaming_Client() = default;
kxNaming_Client::~kxNaming_Client() = default;

kxNaming_Client* kxNaming_Client::GetInstance() {
  std::lock_guard<std::mutex> hold(instanceMutex);
  if (!instance) {
    instance = new kxNaming_Client();
    if (!exited) {
      watcher = new Watcher();
      watcher->start();
      std::atexit(stopWatcherAtExit);
    }
  }
  return instance;
}

void kxNaming_Client::PrepareExit() {
  ended = true;  // waits in flight give up now, so that they are over before the ORB goes
  Clock::rep none = 0;
  if (!endBy.compare_exchange_strong(none, (Clock::now() + kEndWithin).time_since_epoch().count())) return;
  std::lock_guard<std::mutex> hold(instanceMutex);
  if (watcher) watcher->requestStop();
}

void kxNaming_Client::ExitInstance() {
  PrepareExit();
  Watcher* stopping = nullptr;
  {
    std::lock_guard<std::mutex> hold(instanceMutex);
    if (exited) return;
    exited = true;
    stopping = watcher;
    watcher = nullptr;
  }
  tarn::stopDeliveries();
  if (stopping) {
    stopping->stop();
    delete stopping;
  }
  // Waits end within a slice; a call stuck on a frozen server past the end's bound keeps the ORB
  // (the process ends with it) rather than have it destroyed beneath.
  if (closeCalls()) tarn::stopOrb();
}

boost::signals2::connection kxNaming_Client::registerConnectionSlot(const ConnectionSlot& slot) {
  std::lock_guard<std::mutex> hold(instanceMutex);
  if (!watcher) return boost::signals2::connection();
  return watcher->news.connect(slot);
}

const char* kxNaming_Client::activeServer(const char* server) {
  return tarn::Directory::get().activeServer(server ? server : "");
}

std::vector<ACE_String_Base<char>> kxNaming_Client::potentialServers(const char* server) {
  std::vector<ACE_String_Base<char>> result;
  for (const std::string& address : tarn::Directory::get().addresses(server ? server : ""))
    result.emplace_back(address.c_str());
  return result;
}

void kxNaming_Client::setFixedAddress(const char* address, const char* server) {
  if (!address || !*address || !server || !*server) {
    // Pinning a server to no address would leave it unreachable.
    CScribe::instance()->kx_log("setFixedAddress: an empty address or server name is refused; nothing changed");
    return;
  }
  tarn::Directory::get().setFixedAddress(server, address);
}

void kxNaming_Client::addServerInfo(const char* server, const char* target) {
  if (!server || !target || !*target) return;
  tarn::Directory::get().addAddress(server, target);
}

void kxNaming_Client::clearServerInfo() { tarn::Directory::get().clear(); }

void kxNaming_Client::InitServerInfo() { tarn::Directory::get().reload(); }

CORBA::Object_ptr kxNaming_Client::GetReferenceWithPosition(const char* position, const char* key) {
  if (!position || !key) return CORBA::Object::_nil();
  const std::string server = tarn::Directory::get().serverAt(position);
  if (server.empty()) return CORBA::Object::_nil();
  kxTarn::kxTarnServiceManager_var manager = tarn::Directory::get().manager(server);
  if (CORBA::is_nil(manager)) return CORBA::Object::_nil();
  const std::string wanted = key;
  if (wanted == KX_SERVICE_MANAGER_KEY) return manager._retn();
  // "/INSTANCE/<type key>" names one instance of the type service; the bare key the default.
  const std::string typeKey = KX_TYPE_SERVICE_KEY;
  std::string kind;
  if (wanted == typeKey) {
    kind = "dt";
  } else if (wanted.size() > typeKey.size() + 2 && wanted[0] == '/' &&
             wanted.compare(wanted.size() - typeKey.size() - 1, std::string::npos, "/" + typeKey) == 0) {
    kind = "dt/" + wanted.substr(1, wanted.size() - typeKey.size() - 2);
  } else {
    return CORBA::Object::_nil();
  }
  try {
    return manager->get_service(kind.c_str(), "");
  } catch (const CORBA::Exception&) {
    return CORBA::Object::_nil();
  }
}

CORBA::Object_ptr kxNaming_Client::changeTimeOut(CORBA::Object_ptr reference, int timeoutMs,
                                                 const char* server, const char* position) {
  if (CORBA::is_nil(reference)) return CORBA::Object::_nil();
  try {
    // A distinct proxy: a time-out set on a duplicate would change the caller's reference too.
    CORBA::String_var text = tarn::orb()->object_to_string(reference);
    CORBA::Object_var copy = tarn::orb()->string_to_object(text);
    // omniORB reads a per-reference 0 as "the default bound", so waiting without a limit is
    // asked for with the longest bound it takes (about 24 days).
    const CORBA::ULong bound = timeoutMs < 0 ? kNoLimitMs : static_cast<CORBA::ULong>(timeoutMs);
    omniORB::setClientCallTimeout(copy, bound);
    return copy._retn();
  } catch (const CORBA::Exception&) {
    return CORBA::Object::_nil();
  }
}
