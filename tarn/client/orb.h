// The process's ORB, started on first use and shared by the naming client, the reference
// container, the embedded host and tarnd.
//
// The ORB listens only on loopback. Message size and connection limits are raised from the
// ORB's defaults so that large batches fit one request. Every client call is bounded by the call
// bounds of the settings (settings.h), and references are never checked by a LocateRequest
// before their first call. Thread-safe.
#pragma once

#include <string>
#include <vector>

#include <omniORB4/CORBA.h>

namespace tarn {

// Starts the ORB with `endpoint` ("giop:tcp:127.0.0.1:PORT"; empty: an ephemeral loopback
// port). Only the first start has any effect; later ones return the running ORB.
CORBA::ORB_ptr startOrb(const std::string& endpoint = std::string());
// The running ORB, started with defaults when none runs. Not a duplicate: do not release.
CORBA::ORB_ptr orb();
// Makes the call bounds of the settings (readCallBounds) the ORB's defaults for every call from
// now on; a reference with a time-out of its own keeps it.
void applyCallBounds();
// The POA under which services are activated with readable, persistent object keys.
PortableServer::POA_ptr insPoa();
// Destroys the ORB. Nothing CORBA works afterwards in this process.
void stopOrb();
bool orbStopped();

// Message size limit of the ORB, in bytes.
constexpr unsigned long kMaxMessageBytes = 512ul * 1024 * 1024;

}  // namespace tarn
