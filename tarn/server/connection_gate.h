// Which network connections tarnd takes: only from the client hosts its policy allows (loopback
// always), at most `total` open at once, and at most `perHost` from one client host (the peer's
// address without its port). A connection past either is closed as
// the ORB accepts it, before any request of it is read, so that a flood of connections is refused
// while the connections already open keep their service, and the server's threads and file
// descriptors stay bounded.
//
// The ORB asks its serverAcceptConnection interceptor about each new connection (with one thread
// per connection, startOrb's threadPerConnectionUpTo, as soon as it is accepted). The ORB says
// nothing when a connection closes, so the gate keeps the peers ("HOST:PORT") it took; when a
// limit would refuse a connection, it forgets those whose connection the process no longer holds
// (its socket descriptors matched with /proc/net/tcp: established, or closed by the peer and not
// yet by the server), at most every 100 ms, and refuses only when a limit is met still. Between
// two such counts a refusal may rest on connections closed less than 100 ms ago. IPv4 only, as
// tarnd listens; where /proc cannot be read nothing is forgotten.
//
// Thread-safe: one mutex guards the counts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tarn/server/address_range.h"

namespace tarn {

struct GatePolicy {
  // Zero in a limit means no limit.
  std::size_t total = 0;
  std::size_t perHost = 0;
  // Client hosts outside every range are refused as they connect (loopback never is); empty
  // with anyHost false: loopback only.
  std::vector<AddressRange> allowed;
  bool anyHost = true;
  // TLS clients whose verified certificate's subject has none of these common names are refused:
  // every request of theirs answers NO_PERMISSION before it runs (the ORB accepts a TLS connection
  // before its handshake, so it cannot be judged sooner); empty: any certificate the CA signed.
  std::vector<std::string> subjects;
};

// Installs the gate on the running ORB, once per process (later calls change nothing).
void gateConnections(const GatePolicy& policy);

// The host part of an ORB peer address ("giop:tcp:10.0.0.7:40112" or "giop:ssl:10.0.0.7:40112"
// gives "10.0.0.7", "giop:tcp:[::1]:40112" gives "[::1]"); the whole text when it has no such form.
std::string peerHost(const std::string& peer);

}  // namespace tarn
