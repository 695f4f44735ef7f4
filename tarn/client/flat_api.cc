// The flat client API: connection and naming. The data point, port, event and contention
// functions live beside it in files of their own.
#include "ostrel/api/middleware/kxTarn_API.h"

#include <cstring>

#include "tarn/client/codes.h"
#include "tarn/client/directory.h"
#include "tarn/client/remote_call.h"

namespace tarn {

int unreachableCode(const char* server) {
  Directory& directory = Directory::get();
  const std::string name = server && *server ? server : directory.serverAt("own");
  if (name.empty()) return directory.settingsError().empty() ? kNoServerNamed : kSettingsUnusable;
  if (!directory.known(name)) return directory.settingsError().empty() ? kUnknownServer : kSettingsUnusable;
  return kServerNotAnswering;
}

}  // namespace tarn

int kx_tarn_connect(const char* server) {
  std::string name = server && *server ? server : tarn::Directory::get().serverAt("own");
  if (name.empty()) return tarn::Directory::get().settingsError().empty() ? tarn::kNoServerNamed : tarn::kSettingsUnusable;
  return tarn::Directory::get().ping(name);
}

kxServerName kx_get_servername(const char* position) {
  kxServerName result;
  std::memset(&result, 0, sizeof result);
  if (!position) return result;
  const std::string name = tarn::Directory::get().serverAt(position);
  if (name.empty()) return result;
  result.found = 1;
  result.name = tarn::Directory::get().intern(name);
  return result;
}
