#include "tarn/client/directory.h"

#include <atomic>

#include <omniORB4/omniORB.h>

#include "ostrel/api/middleware/Scribe80.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "tarn/client/codes.h"
#include "tarn/client/orb.h"
#include "tarn/server/embedded.h"

namespace tarn {

namespace {
std::atomic<bool> settingsErrorsLogged{true};
}  // namespace

void Directory::logSettingsErrors(bool on) { settingsErrorsLogged = on; }

Directory& Directory::get() {
  static Directory* directory = new Directory();  // lives until exit; threads may still ask
  return *directory;
}

Directory::Directory() { reload(); }

void Directory::reload() {
  std::string error;
  std::vector<ServerSetting> settings = readSettings(&error);
  applyCallBounds();
  std::lock_guard<std::mutex> hold(mutex_);
  if (!error.empty() && error != settingsError_ && settingsErrorsLogged)
    CScribe::instance()->kx_log("settings file unusable: %s; no server is known", error.c_str());
  settingsError_ = error;
  std::vector<Entry> fresh;
  for (const ServerSetting& setting : settings) {
    Entry entry;
    entry.setting = setting;
    if (Entry* old = find(setting.name)) {
      if (old->setting.addresses == setting.addresses) {
        entry.active = old->active;
        entry.answering = old->answering;
      }
    }
    fresh.push_back(entry);
  }
  entries_.swap(fresh);
}

std::string Directory::settingsError() {
  std::lock_guard<std::mutex> hold(mutex_);
  return settingsError_;
}

void Directory::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  entries_.clear();
}

Directory::Entry* Directory::find(const std::string& server) {
  for (Entry& entry : entries_)
    if (entry.setting.name == server) return &entry;
  return nullptr;
}

std::string Directory::serverAt(const std::string& position) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (const Entry& entry : entries_)
    if (entry.setting.position == position) return entry.setting.name;
  return std::string();
}

std::vector<std::string> Directory::serversAt(const char* position) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<std::string> names;
  for (const Entry& entry : entries_)
    if (!position || entry.setting.position == position) names.push_back(entry.setting.name);
  return names;
}

std::vector<std::string> Directory::allServers() { return serversAt(nullptr); }

bool Directory::known(const std::string& server) {
  std::lock_guard<std::mutex> hold(mutex_);
  return find(server) != nullptr;
}

std::vector<std::string> Directory::addresses(const std::string& server) {
  std::lock_guard<std::mutex> hold(mutex_);
  Entry* entry = find(server);
  if (!entry) return {};
  if (entry->setting.embedded && entry->setting.addresses.empty()) return {"embedded"};
  return entry->setting.addresses;
}

void Directory::setFixedAddress(const std::string& server, const std::string& address) {
  std::lock_guard<std::mutex> hold(mutex_);
  Entry* entry = find(server);
  if (!entry) return;
  entry->setting.addresses = {address};
  entry->setting.embedded = false;
  entry->active = 0;
}

void Directory::addAddress(const std::string& server, const std::string& address) {
  std::lock_guard<std::mutex> hold(mutex_);
  Entry* entry = find(server);
  if (!entry) {
    Entry fresh;
    fresh.setting.name = server;
    fresh.setting.position = "others";
    entries_.push_back(fresh);
    entry = &entries_.back();
  }
  for (const std::string& known : entry->setting.addresses)
    if (known == address) return;
  entry->setting.addresses.push_back(address);
}

const char* Directory::intern(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  return interned_.insert(text).first->c_str();
}

const char* Directory::activeServer(const std::string& server) {
  std::string active;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Entry* entry = find(server);
    if (!entry) return nullptr;
    if (entry->setting.embedded) {
      active = "embedded";
    } else if (entry->answering && entry->active < static_cast<int>(entry->setting.addresses.size())) {
      active = entry->setting.addresses[entry->active];
    }
  }
  return intern(active);
}

kxTarn::kxTarnServiceManager_ptr Directory::reach(const ServerSetting& setting, int index) {
  if (setting.embedded) return embeddedManager(setting.name);
  const std::string address = setting.addresses[index];
  const std::string scheme = setting.tls ? "corbaloc:ssliop:" : "corbaloc::";
  CORBA::Object_var object = orb()->string_to_object((scheme + address + "/ServiceManager").c_str());
  return kxTarn::kxTarnServiceManager::_unchecked_narrow(object);
}

kxTarn::kxTarnServiceManager_ptr Directory::manager(const std::string& server) {
  ServerSetting setting;
  int active = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Entry* entry = find(server);
    if (!entry) return kxTarn::kxTarnServiceManager::_nil();
    setting = entry->setting;
    active = entry->active;
  }
  const int count = setting.embedded ? 1 : static_cast<int>(setting.addresses.size());
  for (int step = 0; step < count; ++step) {
    const int index = (active + step) % count;
    try {
      kxTarn::kxTarnServiceManager_var manager = reach(setting, index);
      if (CORBA::is_nil(manager)) continue;
      // Ask through a separate proxy with a short time-out, so a stalled server does not hang us.
      CORBA::String_var text = orb()->object_to_string(manager);
      CORBA::Object_var probe = orb()->string_to_object(text);
      kxTarn::kxTarnServiceManager_var pinger = kxTarn::kxTarnServiceManager::_unchecked_narrow(probe);
      omniORB::setClientCallTimeout(pinger, kPingTimeoutMs);  // on the narrowed proxy: it is the one called
      pinger->ping();
      bool switched = false;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (Entry* entry = find(server)) {
          switched = entry->active != index;
          entry->active = index;
          entry->answering = true;
        }
      }
      // The services cached for the other address would send the next calls there, and one that
      // cannot be reached (a pulled cable) holds each call for its whole bound before failing.
      if (switched) kxReferenceContainer::instance()->releaseAllReference(server.c_str());
      return manager._retn();
    } catch (const CORBA::Exception&) {
    }
  }
  std::lock_guard<std::mutex> hold(mutex_);
  if (Entry* entry = find(server)) entry->answering = false;
  return kxTarn::kxTarnServiceManager::_nil();
}

int Directory::ping(const std::string& server) {
  if (!known(server)) return settingsError().empty() ? kUnknownServer : kSettingsUnusable;
  kxTarn::kxTarnServiceManager_var manager = this->manager(server);
  return CORBA::is_nil(manager) ? kServerNotAnswering : kOk;
}

}  // namespace tarn
