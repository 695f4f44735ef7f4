// Which client connection the current remote call came over, so that per-client budgets
// (budgets.h) can count by it.
//
// watchCallers() installs, once per process, an ORB request interceptor that notes the peer
// address of each incoming request ("giop:tcp:HOST:PORT") on the thread that runs its upcall.
// currentCaller() answers it on that thread; a collocated call (the embedded server) never passes
// the interceptor and answers "in-process". Thread-safe.
#pragma once

#include <string>

namespace tarn {

void watchCallers();
std::string currentCaller();

}  // namespace tarn
