// The servers this process knows, with their live state: which address answers, and a
// reference to each server's service manager.
//
// One instance per process. Every function is thread-safe (one mutex guards the table; no
// remote call runs while it is held). Texts handed out as const char* are interned and stay
// valid for the life of the process.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/client/settings.h"

namespace tarn {

class Directory {
 public:
  static Directory& get();

  // Reads the settings file again; live state of servers that stay is kept.
  void reload();
  // Forgets every server.
  void clear();
  // Why the settings file could not be used at the last reload ("PATH: line N: cause"); empty
  // when it was used, or when there is none.
  std::string settingsError();
  // Whether an unusable settings file is written to the log (on by default). A program that
  // shows the text of every result code it gets, as the ostrel tool does, turns it off so that
  // the cause is said once. Safe to call before the first get().
  static void logSettingsErrors(bool on);

  // The name of the server at `position`, or empty when none holds it.
  std::string serverAt(const std::string& position);
  // Names of the servers at `position` (null: all), in settings order.
  std::vector<std::string> serversAt(const char* position);
  std::vector<std::string> allServers();
  bool known(const std::string& server);
  std::vector<std::string> addresses(const std::string& server);
  void setFixedAddress(const std::string& server, const std::string& address);
  void addAddress(const std::string& server, const std::string& address);

  // The active address of `server` ("embedded" for an in-process server, "" while no address
  // answers), or null for an unknown server. Interned text.
  const char* activeServer(const std::string& server);

  // The service manager of `server`, trying the active address first and then the others;
  // the first that answers becomes active. Nil when the server is unknown or none answers.
  kxTarn::kxTarnServiceManager_ptr manager(const std::string& server);
  // Pings `server`: 0 when an address answers; kServerNotAnswering, or for a server it does not
  // know kSettingsUnusable when the settings file could not be used, else kUnknownServer.
  int ping(const std::string& server);

  const char* intern(const std::string& text);

 private:
  Directory();
  struct Entry {
    ServerSetting setting;
    int active = 0;         // index into setting.addresses
    bool answering = false;
  };
  Entry* find(const std::string& server);  // REQUIRES: mutex_ held
  kxTarn::kxTarnServiceManager_ptr reach(const ServerSetting& setting, int index);

  std::mutex mutex_;
  std::vector<Entry> entries_;    // GUARDED_BY(mutex_)
  std::string settingsError_;     // GUARDED_BY(mutex_)
  std::set<std::string> interned_;  // GUARDED_BY(mutex_)
};

// Time-out of a ping, in milliseconds.
constexpr int kPingTimeoutMs = 1000;

}  // namespace tarn
