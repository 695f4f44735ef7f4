// The middleware's settings store: writes one server record into the settings file.
//
// The file is rewritten atomically (temporary file, flush, rename), so a reader or a crash
// never sees half a file. Not thread-safe per object; use a fresh object per call.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

// Fixed layout shared with the middleware; starts zero-filled.
struct _ServerInfoData {
  char firstAddress[128];
  char secondAddress[128];
  char serverName[32];
  bool twoAddresses;
};
static_assert(offsetof(_ServerInfoData, secondAddress) == 128, "layout");
static_assert(offsetof(_ServerInfoData, serverName) == 256, "layout");
static_assert(offsetof(_ServerInfoData, twoAddresses) == 288, "layout");

class KXTARN_API kxServerInfoXmlImpl {
 public:
  // Stores `info` as the server at position `key` ("own", ...), replacing the one there.
  // 0 on success, 2009 when the settings file cannot be written.
  int SetServerInfo(const char* key, const _ServerInfoData& info);
};
