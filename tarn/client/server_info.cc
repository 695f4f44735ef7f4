// The settings store: replaces one server record of the settings file.
#include "ostrel/api/middleware/kxServerInfoXmlImpl.h"

#include <unistd.h>

#include <cstring>

#include "ostrel/api/middleware/Scribe80.h"
#include "tarn/client/codes.h"
#include "tarn/client/settings.h"

namespace {

// A fixed field may lack its terminating NUL; never read past it.
std::string field(const char* text, size_t capacity) { return std::string(text, strnlen(text, capacity)); }

}  // namespace

int kxServerInfoXmlImpl::SetServerInfo(const char* key, const _ServerInfoData& info) {
  if (!key) return tarn::kBadArgument;
  const std::string name = field(info.serverName, sizeof info.serverName);
  const std::string first = field(info.firstAddress, sizeof info.firstAddress);
  const std::string second = field(info.secondAddress, sizeof info.secondAddress);
  if (name.empty() || (first.empty() && second.empty())) {
    // A server without a name or without an address would break the settings for every client.
    CScribe::instance()->kx_log("SetServerInfo: a record without a server name or an address is refused; "
                                "the settings file is left as it was");
    return tarn::kBadArgument;
  }
  // An address the settings reader would refuse would make the whole file unusable.
  for (const std::string* address : {&first, &second}) {
    if (address->empty() || tarn::validAddress(*address)) continue;
    CScribe::instance()->kx_log("SetServerInfo: the address \"%s\" is not HOST:PORT; the settings file is left as it was",
                                address->c_str());
    return tarn::kBadArgument;
  }
  const std::string path = tarn::settingsPath();
  if (path.empty()) return tarn::kSettingsNotWritable;
  std::string error;
  std::vector<tarn::ServerSetting> servers = tarn::readSettings(&error);
  // A missing file is made; a file that exists but cannot be used is never overwritten.
  if (!error.empty() && ::access(path.c_str(), F_OK) == 0) {
    CScribe::instance()->kx_log("SetServerInfo: %s; the file is left as it was", error.c_str());
    return tarn::kSettingsUnusable;
  }

  tarn::ServerSetting record;
  record.name = name;
  record.position = key;
  if (!first.empty()) record.addresses.push_back(first);
  if (!second.empty()) record.addresses.push_back(second);

  for (const tarn::ServerSetting& server : servers)
    if (server.name == record.name) record.tls = server.tls;  // a new address of a TLS server keeps TLS
  std::vector<tarn::ServerSetting> kept;
  for (const tarn::ServerSetting& server : servers)
    if (server.position != record.position && server.name != record.name) kept.push_back(server);
  kept.insert(kept.begin(), record);
  return tarn::writeSettings(path, kept);
}
