// Remote snapshot files: the snapshot file of a server's data point service or port service,
// read as a byte stream.
//
// OstrelExt::openDTPSnapShot / openPortSnapShot open the current snapshot file of the service of
// (server, position) and return a new BrennicRemoteFile that the caller owns, or null (server
// not connected, no server, no service reference, the server gives no file, or a CORBA system
// exception). Read it in blocks of any size until the end flag is set, then hand it to
// OstrelExt::closeRemoteFile, which closes the remote file and deletes the object.
//
// A BrennicRemoteFile has no lock: one thread at a time uses it. Each call is at most one
// blocking remote round trip.
#pragma once

#include "ostrel/api/export.h"

class OSTREL_EXPORT BrennicRemoteFile {
 public:
  BrennicRemoteFile() = default;
  BrennicRemoteFile(const BrennicRemoteFile&) = default;
  BrennicRemoteFile& operator=(const BrennicRemoteFile&) = default;
  virtual ~BrennicRemoteFile();

  // Reads the next block, at most `size` bytes, into `buffer`, and continues where the last
  // read ended. Returns the number of bytes written to `buffer`; sets `*end` (when not null)
  // once the last byte of the file has been handed out, and leaves it alone when a read
  // returns nothing. Never writes past `size` bytes: a longer reply is cut and its rest is
  // kept for the next reads. -1 on a failed remote call, or a null buffer with `size` above 0.
  virtual int read(char* buffer, unsigned int size, bool* end) = 0;
  // The length of the file in bytes into `*length`: 0; -1 (and `*length` unchanged) on a
  // failed remote call or a null `length`.
  virtual int getLength(unsigned int* length) = 0;
  // Closes the remote file: 0; -1 on a failed remote call.
  virtual int close() = 0;
};

namespace OstrelExt {

OSTREL_EXPORT BrennicRemoteFile* openDTPSnapShot(const char* server, const char* position);
OSTREL_EXPORT BrennicRemoteFile* openPortSnapShot(const char* server, const char* position);
// Closes `*file` (its result is ignored), deletes it and sets `*file` to null, so that a second
// close does nothing. A null `file` or `*file` does nothing.
OSTREL_EXPORT void closeRemoteFile(BrennicRemoteFile** file);

}  // namespace OstrelExt
