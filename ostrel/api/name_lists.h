/// @file
/// Name and connection lists: result structs that the listing operations fill.
///
/// The caller owns the struct (usually on its stack) and passes it empty; the filling operation
/// allocates the array and the strings; only the matching release operation frees them:
/// Ostrel::DeatoryNameSeq for ObjectNames, Ostrel::DestoryConnectSeq for ConnectionSequence.
/// A filler overwrites what the struct held before, so release a list before filling it again.
/// No struct carries a lock: one thread at a time uses it.
#pragma once

#include "ostrel/api/export.h"

/// A list of names. Shared in layout with the middleware's flat client API, which fills it
/// directly for most listings. `names` is an array of `count` pointers allocated with the global
/// operator new[]; when `release` is true the strings are CORBA strings owned by the list.
/// A new list is empty and owns no strings (`release` false): a filler that hands its strings
/// over sets `release` itself, and a caller who takes over strings it was given sets it too.
struct OSTREL_EXPORT ObjectNames {
  int count = 0;           ///< number of entries in `names`
  char** names = nullptr;  ///< new[]-allocated array of `count` NUL-terminated texts, or null
  bool release = false;    ///< true: DeatoryNameSeq frees the strings too (CORBA::string_free)
};

/// One open port connection, as the middleware lists it.
struct ConnectionEntry {
  unsigned int handle;    ///< the connection's handle
  int direction;          ///< 30003 send, 30004 receive
  char portName[128];     ///< NUL-terminated, cut to fit
  char process[128];      ///< the owning process as "host:pid", NUL-terminated, cut to fit
  unsigned int idleSeconds;     ///< since the connection was last used (0 while somebody waits on it)
  unsigned int reclaimSeconds;  ///< the server closes a connection left unused this long
};

/// The connection listing. Its layout and contents belong to the middleware: the library hands it
/// to kx_get_connection_info to be filled and to kx_destory_connection_seq to be emptied.
struct OSTREL_EXPORT ConnectionSequence {
  int count = 0;                     ///< number of entries in `items`
  ConnectionEntry* items = nullptr;  ///< the connections, allocated by the middleware; or null
};
