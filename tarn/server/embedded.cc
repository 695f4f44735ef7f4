#include "tarn/server/embedded.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "ostrel/api/middleware/Scribe80.h"
#include "tarn/client/orb.h"
#include "tarn/server/host.h"

namespace tarn {
namespace {

std::mutex hostsMutex;
// Hosts live until the process ends: their servants may still be called while it exits.
std::map<std::string, ServerHost*>& hosts() {
  static auto* table = new std::map<std::string, ServerHost*>();
  return *table;
}

}  // namespace

ServerHost* embeddedHost(const std::string& name) {
  std::lock_guard<std::mutex> hold(hostsMutex);
  ServerHost*& host = hosts()[name];
  if (!host) {
    HostOptions options;
    options.name = name;
    options.managerKey = name + "/ServiceManager";
    const char* types = std::getenv("TARN_TYPES");
    if (types && *types) options.typeFiles = {{"", types}};
    const char* folder = std::getenv("TARN_EMBEDDED_DATA");
    if (folder && *folder) options.snapshotDir = folder;
    try {
      host = new ServerHost(options);
    } catch (const std::exception& e) {
      CScribe::instance()->kx_log("embedded server %s cannot start: %s", name.c_str(), e.what());
      hosts().erase(name);
      return nullptr;
    }
  }
  return host;
}

kxTarn::kxTarnServiceManager_ptr embeddedManager(const std::string& name) {
  ServerHost* host = embeddedHost(name);
  if (!host) return kxTarn::kxTarnServiceManager::_nil();
  return host->manager();
}

}  // namespace tarn
