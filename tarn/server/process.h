// What tarnd asks of its operating system beyond files (env.h): stop requests, the descriptor
// limit, a probe of an address to listen on, and the TCP peers the process holds.
// posix/process.cc and windows/process.cc implement it. tarnd's main thread calls the first
// three before it serves; heldPeers() is the connection gate's, from any thread.
#pragma once

#include <set>
#include <string>

namespace tarn {

// Calls `stop` when the process is asked to stop: SIGINT or SIGTERM; on Windows also Ctrl+Break,
// the console closing, log-off and shut-down. `stop` may run in a signal handler: it must be
// async-signal-safe. Also makes a closed peer's socket and a file past its size limit answer
// errors instead of ending the process.
void onStopRequest(void (*stop)());

// Raises the number of files the process may hold to the most it may ask for, and returns that
// number; 0 when there is no such limit (Windows).
unsigned long long raiseFileLimit();

// Why tarnd cannot listen on `host`:`port`, or empty when it can: another process listens there
// (the ORB would only say INITIALIZE), the host is not one of this machine's addresses, or its
// name does not resolve. Each address the name resolves to is tried, as the ORB binds them.
std::string cannotListen(const std::string& host, int port);

// The peers ("HOST:PORT") of the TCP connections this process holds open, established or closed
// by the peer and not yet by this process. False when the system's table cannot be read.
bool heldPeers(std::set<std::string>& peers);

}  // namespace tarn
