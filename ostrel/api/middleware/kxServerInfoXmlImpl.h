/// @file
/// The middleware's settings store: writes one server record into the settings file.
///
/// The file is rewritten atomically (temporary file, flush, rename), so a reader or a crash
/// never sees half a file. Not thread-safe per object; use a fresh object per call.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

/// Fixed layout shared with the middleware; starts zero-filled.
struct _ServerInfoData {
  char firstAddress[128];   ///< the first address, NUL-terminated
  char secondAddress[128];  ///< the second address, NUL-terminated (empty: none)
  char serverName[32];      ///< the server's name, NUL-terminated
  bool twoAddresses;        ///< true when both addresses are given
};
static_assert(offsetof(_ServerInfoData, secondAddress) == 128, "layout");
static_assert(offsetof(_ServerInfoData, serverName) == 256, "layout");
static_assert(offsetof(_ServerInfoData, twoAddresses) == 288, "layout");

/// Writes server records into the settings file.
class KXTARN_API kxServerInfoXmlImpl {
 public:
  /// Stores `info` as the server at position `key` ("own", ...), replacing the one there.
  /// 0 on success, 2009 when the settings file cannot be written.
  int SetServerInfo(const char* key, const _ServerInfoData& info);
};
