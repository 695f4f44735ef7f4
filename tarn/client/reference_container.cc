// The reference container: service references cached per (server, realm, service kind).
#include "ostrel/api/middleware/kxReferenceContainer.h"

#include <deque>
#include <map>
#include <mutex>
#include <tuple>

#include "tarn/client/directory.h"
#include "tarn/client/remote_call.h"

namespace {

using Key = std::tuple<std::string, std::string, std::string>;  // server, realm, kind

std::mutex cacheMutex;
std::map<Key, CORBA::Object_var> cache;          // GUARDED_BY(cacheMutex)
std::deque<ACE_String_Base<char>> serverNames;   // GUARDED_BY(cacheMutex); never shrinks

// Whether the last lookup on this thread reached the server's service manager and was told
// there is no such service (a realm past the server's budget), rather than reaching nothing.
thread_local bool refusedByServer = false;

std::string resolve(const char* server) {
  if (server && *server) return server;
  return tarn::Directory::get().serverAt("own");
}

CORBA::Object_ptr lookup(const char* server, const char* position, const char* kind) {
  refusedByServer = false;
  const Key key(resolve(server), position ? position : "", kind);
  {
    std::lock_guard<std::mutex> hold(cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end()) return CORBA::Object::_duplicate(it->second);
  }
  kxTarn::kxTarnServiceManager_var manager = tarn::Directory::get().manager(std::get<0>(key));
  if (CORBA::is_nil(manager)) return CORBA::Object::_nil();
  CORBA::Object_var object;
  try {
    object = manager->get_service(kind, std::get<1>(key).c_str());
  } catch (const CORBA::Exception&) {
    return CORBA::Object::_nil();
  }
  if (CORBA::is_nil(object)) {
    refusedByServer = true;
    return CORBA::Object::_nil();
  }
  std::lock_guard<std::mutex> hold(cacheMutex);
  cache[key] = CORBA::Object::_duplicate(object);
  return object._retn();
}

}  // namespace

bool tarn::serviceRefusedByServer() { return refusedByServer; }

namespace {

void drop(const char* server, const char* position, const char* kind) {
  const Key key(resolve(server), position ? position : "", kind);
  std::lock_guard<std::mutex> hold(cacheMutex);
  cache.erase(key);
}

}  // namespace

kxReferenceContainer::kxReferenceContainer() = default;
kxReferenceContainer::~kxReferenceContainer() = default;

kxReferenceContainer* kxReferenceContainer::instance() {
  static kxReferenceContainer* container = new kxReferenceContainer();
  return container;
}

kxTarn::DT_Point_Factory_ptr kxReferenceContainer::GetDptReferenceWithServerName(const char* server,
                                                                                 const char* position) {
  CORBA::Object_var object = lookup(server, position, "dtp");
  return kxTarn::DT_Point_Factory::_unchecked_narrow(object);
}

kxTarn::Port_Factory_ptr kxReferenceContainer::GetPortReferenceWithServerName(const char* server,
                                                                            const char* position) {
  CORBA::Object_var object = lookup(server, position, "port");
  return kxTarn::Port_Factory::_unchecked_narrow(object);
}

kxTarn::contender_server_ptr kxReferenceContainer::GetContenerReferenceWithServerName(
    const char* server, const char* position) {
  CORBA::Object_var object = lookup(server, position, "contender");
  return kxTarn::contender_server::_unchecked_narrow(object);
}

void kxReferenceContainer::ReleaseDtpReference(const char* server, const char* position) {
  drop(server, position, "dtp");
}

void kxReferenceContainer::ReleasePortReference(const char* server, const char* position) {
  drop(server, position, "port");
}

void kxReferenceContainer::ReleaseContenterReference(const char* server, const char* position) {
  drop(server, position, "contender");
}

kxTarn::kxTarnServiceManager_ptr kxReferenceContainer::GetServiceRefrence(const char* server) {
  return tarn::Directory::get().manager(resolve(server));
}

void kxReferenceContainer::BuildSettingData() {
  tarn::Directory::get().reload();
  std::lock_guard<std::mutex> hold(cacheMutex);
  cache.clear();
}

std::vector<ACE_String_Base<char>*> kxReferenceContainer::InquireServerNameWithPosition(
    const char* position) {
  std::vector<ACE_String_Base<char>*> result;
  std::lock_guard<std::mutex> hold(cacheMutex);
  for (const std::string& name : tarn::Directory::get().serversAt(position)) {
    ACE_String_Base<char>* kept = nullptr;
    for (ACE_String_Base<char>& known : serverNames)
      if (name == known.c_str()) kept = &known;
    if (!kept) {
      serverNames.emplace_back(name.c_str());
      kept = &serverNames.back();
    }
    result.push_back(kept);
  }
  return result;
}

void kxReferenceContainer::releaseAllReference(const char* server) {
  const std::string name = resolve(server);
  std::lock_guard<std::mutex> hold(cacheMutex);
  for (auto it = cache.begin(); it != cache.end();) {
    if (std::get<0>(it->first) == name)
      it = cache.erase(it);
    else
      ++it;
  }
}
