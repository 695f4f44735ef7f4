// The Windows build carries the client side only: the embedded server's file handling is POSIX.
// A settings entry marked embedded names a server that cannot be reached there.
#include "tarn/server/embedded.h"

namespace tarn {

kxTarn::kxTarnServiceManager_ptr embeddedManager(const std::string&) {
  return kxTarn::kxTarnServiceManager::_nil();
}

ServerHost* embeddedHost(const std::string&) { return nullptr; }

}  // namespace tarn
