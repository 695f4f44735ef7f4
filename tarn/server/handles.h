// Connection handles of the port service: numbers that say which run of the server issued them.
//
// A handle is the server's incarnation (12 bits, 1-4095) above a serial (20 bits). A server
// with a data folder takes the incarnation after the one its previous run recorded there
// (data_folder.h), so a handle kept across a restart names no connection of the new run and
// answers kBadHandle; without a data folder the incarnation and the first serial are random.
// Handles are never 0. A serial that wraps may meet a handle still open: the port table skips
// those (a handle is unique within its table, which is all a lookup needs).
//
// Process-wide; any thread may call these.
#pragma once

namespace tarn {

// Makes the incarnation the one after `previous` (0: none known, a random one is taken).
// Returns the incarnation now in use.
unsigned setHandleIncarnation(unsigned previous);
unsigned mintHandle();

}  // namespace tarn
