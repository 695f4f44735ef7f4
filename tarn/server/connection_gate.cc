#include "tarn/server/connection_gate.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include "tarn/client/orb.h"
#include "tarn/server/process.h"

namespace tarn {
namespace {

using Clock = std::chrono::steady_clock;

// Where the host begins in an ORB peer address ("giop:tcp:" or "giop:ssl:" before it; the ORB's
// Windows build leaves out the second colon); 0 when the text has no such form.
std::size_t hostStart(const std::string& peer) {
  for (const char* prefix : {"giop:tcp", "giop:ssl"}) {
    const std::size_t length = std::strlen(prefix);
    if (peer.compare(0, length, prefix) == 0 && peer.size() > length) return length + (peer[length] == ':' ? 1 : 0);
  }
  return 0;
}

// How often, at most, the counts are taken again from the kernel when a limit is met.
constexpr auto kRecountEvery = std::chrono::milliseconds(100);

std::mutex gateMutex;
GatePolicy policy;                             // GUARDED_BY(gateMutex)
std::set<std::string> admitted;                // GUARDED_BY(gateMutex): "HOST:PORT" of each peer taken
std::map<std::string, std::size_t> byHost;     // GUARDED_BY(gateMutex): of those, per host
Clock::time_point lastRecount;                 // GUARDED_BY(gateMutex)

// Forgets the connections taken that are no longer held. REQUIRES: gateMutex held.
void recountLocked() {
  std::set<std::string> held;
  if (!heldPeers(held)) return;
  for (auto it = admitted.begin(); it != admitted.end();) {
    if (held.count(*it)) {
      ++it;
      continue;
    }
    auto host = byHost.find(peerHost("giop:tcp:" + *it));  // the same host part for every transport
    if (host != byHost.end() && --host->second == 0) byHost.erase(host);
    it = admitted.erase(it);
  }
}

bool fullLocked(const std::string& host) {
  const auto held = byHost.find(host);
  return (policy.total && admitted.size() >= policy.total) ||
         (policy.perHost && held != byHost.end() && held->second >= policy.perHost);
}

// Whether the policy lets `host` connect at all. REQUIRES: gateMutex held.
bool allowedLocked(const std::string& host) {
  if (policy.anyHost || loopbackHost(host)) return true;
  return std::any_of(policy.allowed.begin(), policy.allowed.end(),
                     [&](const AddressRange& range) { return range.contains(host); });
}

CORBA::Boolean admit(omni::omniInterceptors::serverAcceptConnection_T::info_T& info) {
  const std::string peer = info.peeraddress() ? info.peeraddress() : "";
  const std::string host = peerHost(peer);
  const std::string key = hostStart(peer) ? peer.substr(hostStart(peer)) : peer;
  std::lock_guard<std::mutex> hold(gateMutex);
  if (!allowedLocked(host)) {
    info.reject = 1;
    info.why = "tarnd does not serve this client's address (--allow)";
    return false;
  }
  // The ORB tells nothing of a connection closing: the connections taken that closed since are
  // found when a limit would refuse one (at most every kRecountEvery, so a flood costs little).
  if (fullLocked(host) && Clock::now() - lastRecount >= kRecountEvery) {
    lastRecount = Clock::now();
    recountLocked();
  }
  if (fullLocked(host)) {
    info.reject = 1;
    info.why = "tarnd holds as many connections as it takes";
    return false;
  }
  if (admitted.insert(key).second) ++byHost[host];
  return true;
}

// A TLS connection is accepted before its handshake, so its certificate is judged at each request
// (the ORB answers the refused one NO_PERMISSION; nothing of it runs).
CORBA::Boolean admitRequest(omni::omniInterceptors::serverReceiveRequest_T::info_T& info) {
  const char* peer = info.peeraddress();
  if (!peer || std::strncmp(peer, "giop:ssl:", 9) != 0) return true;
  const char* identity = info.peeridentity();
  std::lock_guard<std::mutex> hold(gateMutex);
  if (policy.subjects.empty()) return true;
  if (!identity || std::find(policy.subjects.begin(), policy.subjects.end(), identity) == policy.subjects.end())
    throw CORBA::NO_PERMISSION(0, CORBA::COMPLETED_NO);
  return true;
}

}  // namespace

std::string peerHost(const std::string& peer) {
  const std::size_t start = hostStart(peer);
  if (!start) return peer;
  const auto colon = peer.rfind(':');
  if (colon == std::string::npos || colon < start) return peer;
  return peer.substr(start, colon - start);
}

void gateConnections(const GatePolicy& given) {
  static std::once_flag once;
  std::call_once(once, [&] {
    {
      std::lock_guard<std::mutex> hold(gateMutex);
      policy = given;
    }
    if (!given.total && !given.perHost && given.anyHost && given.subjects.empty()) return;
    orb();  // the interceptors belong to a running ORB
    omniORB::getInterceptors()->serverAcceptConnection.add(admit);
    if (!given.subjects.empty()) omniORB::getInterceptors()->serverReceiveRequest.add(admitRequest);
  });
}

}  // namespace tarn
