// The process's ORB, started on first use and shared by the naming client, the reference
// container, the embedded host and tarnd.
//
// A client's ORB listens only on loopback; tarnd's listens where it is told. Message size and connection limits are raised from the
// ORB's defaults so that large batches fit one request; a server process may set its own message
// limit (ServerOrbLimits), which bounds what one request can make it read. Every client call is bounded by the call
// bounds of the settings (settings.h), and references are never checked by a LocateRequest
// before their first call. Thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <omniORB4/CORBA.h>

#include "tarn/client/tls.h"

namespace tarn {

// Message size limit of the ORB, in bytes, unless a server sets its own.
constexpr unsigned long kMaxMessageBytes = 512ul * 1024 * 1024;

// What a server process sets beyond the client's defaults (tarnd).
struct ServerOrbLimits {
  // The largest message the ORB reads or writes, in bytes: a request past it is refused by its
  // header, before its body is read (the caller sees a communication failure).
  unsigned long maxMessageBytes = kMaxMessageBytes;
  // Up to this many connections each has a thread of its own (ConnectionGate counts on it); 0:
  // the ORB's default (10,000, then a shared pool).
  unsigned long threadPerConnectionUpTo = 0;
  // The server's TLS files (tls.h), for its giop:ssl endpoints; unset: the client's own, if any.
  std::optional<TlsFiles> tls;
};

// Starts the ORB listening on `endpoints` ("giop:tcp:HOST:PORT" or "giop:ssl:HOST:PORT" each; none: an ephemeral
// loopback port). References it makes name the `publish` endpoints (none: each listening one), the
// first as their address and the others as alternatives that clients try in turn. Only the first
// start has any effect; later ones return the running ORB.
CORBA::ORB_ptr startOrb(const std::vector<std::string>& endpoints = {},
                        const std::vector<std::string>& publish = {}, const ServerOrbLimits& limits = {});
// The message size limit of the running ORB (kMaxMessageBytes before it starts).
unsigned long maxMessageBytes();
// The running ORB, started with defaults when none runs. Not a duplicate: do not release.
CORBA::ORB_ptr orb();
// Makes the call bounds of the settings (readCallBounds) the ORB's defaults for every call from
// now on; a reference with a time-out of its own keeps it.
void applyCallBounds();
// The POA under which services are activated with readable, persistent object keys.
PortableServer::POA_ptr insPoa();
// Stops accepting calls and waits up to boundMs for the calls in flight to end (ORB::shutdown
// with completion, on a thread of its own). False when they did not end in time; the ORB is
// still to be destroyed with stopOrb.
bool quiesceOrb(int boundMs);
// Destroys the ORB. Nothing CORBA works afterwards in this process.
void stopOrb();
bool orbStopped();

// The most endpoints an ORB listens on.
constexpr std::size_t kMaxEndpoints = 16;

}  // namespace tarn
