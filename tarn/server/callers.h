// Who made the current remote call: which client connection it came over (so that per-client
// budgets, budgets.h, can count by it) and, over TLS, the client's certificate name (so that
// rights.h can judge it).
//
// watchCallers() installs, once per process, an ORB request interceptor that notes the peer
// address of each incoming request ("giop:tcp:HOST:PORT", "giop:ssl:HOST:PORT") and the peer's
// identity (over TLS the common name of its verified certificate's subject; empty otherwise) on
// the thread that runs its upcall. currentCaller() answers the address on that thread; a
// collocated call (the embedded server) never passes the interceptor and answers "in-process".
// Thread-safe.
#pragma once

#include <string>

namespace tarn {

void watchCallers();
std::string currentCaller();
// The TLS identity of the current caller; empty over plain TCP and in-process.
std::string currentIdentity();
// Whether the current call came over the network (false: in-process, collocated).
bool remoteCaller();

}  // namespace tarn
