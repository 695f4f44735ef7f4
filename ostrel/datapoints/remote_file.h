/// @file
/// Remote snapshot files: the snapshot file of a server's data point service or port service,
/// read as a byte stream.
///
/// OstrelExt::openDTPSnapShot / openPortSnapShot open the current snapshot file of the service of
/// (server, position) and return a new BrennicRemoteFile that the caller owns, or null (server
/// not connected, no server, no service reference, the server gives no file, or a CORBA system
/// exception). Read it in blocks of any size until the end flag is set, then hand it to
/// OstrelExt::closeRemoteFile, which closes the remote file and deletes the object.
///
/// A BrennicRemoteFile has no lock: one thread at a time uses it. Each call is at most one
/// blocking remote round trip.
#pragma once

#include "ostrel/api/export.h"

/// A reader of one remote snapshot file, made by OstrelExt::openDTPSnapShot or openPortSnapShot
/// and owned by the caller until OstrelExt::closeRemoteFile.
class OSTREL_EXPORT BrennicRemoteFile {
 public:
  /// For implementations.
  BrennicRemoteFile() = default;
  /// Copies nothing of the remote file: implementations decide what a copy shares.
  BrennicRemoteFile(const BrennicRemoteFile&) = default;
  /// As the copy constructor.
  BrennicRemoteFile& operator=(const BrennicRemoteFile&) = default;
  /// Destroys the reader; it does not close the remote file (closeRemoteFile does).
  virtual ~BrennicRemoteFile();

  /// Reads the next block, at most `size` bytes, into `buffer`, and continues where the last
  /// read ended. Returns the number of bytes written to `buffer`; sets `*end` (when not null)
  /// once the last byte of the file has been handed out, and leaves it alone when a read
  /// returns nothing. Never writes past `size` bytes: a longer reply is cut and its rest is
  /// kept for the next reads. -1 on a failed remote call, or a null buffer with `size` above 0.
  virtual int read(char* buffer, unsigned int size, bool* end) = 0;
  /// The length of the file in bytes into `*length`: 0; -1 (and `*length` unchanged) on a
  /// failed remote call or a null `length`.
  virtual int getLength(unsigned int* length) = 0;
  /// Closes the remote file: 0; -1 on a failed remote call.
  virtual int close() = 0;
};

/// Exported functions without slots: the remote snapshot files.
namespace OstrelExt {

/// Opens the current snapshot file of the data point service of (`server`, `position`): the last
/// one MakeDataPointSnapShot made in that realm, or, when none was made since the server started,
/// the realm as it is now. The reader sees the file as it was when opened.
/// @return a new reader that the caller owns (close it with closeRemoteFile); null when the server
/// is not connected, has no name, gives no service reference or no file, or on a CORBA system
/// exception.
/// @par Threads
/// Any thread; the reader is used by one thread at a time.
OSTREL_EXPORT BrennicRemoteFile* openDTPSnapShot(const char* server, const char* position);
/// Opens the current snapshot file of the port service of (`server`, `position`), as
/// openDTPSnapShot does for data points (MakePortSnapShot).
/// @return a new reader that the caller owns (close it with closeRemoteFile), or null as for
/// openDTPSnapShot.
/// @par Threads
/// Any thread; the reader is used by one thread at a time.
OSTREL_EXPORT BrennicRemoteFile* openPortSnapShot(const char* server, const char* position);
/// Closes `*file` (its result is ignored), deletes it and sets `*file` to null, so that a second
/// close does nothing. A null `file` or `*file` does nothing.
OSTREL_EXPORT void closeRemoteFile(BrennicRemoteFile** file);

}  // namespace OstrelExt
