// One middleware server: its services, activated on the ORB's persistent-key POA.
//
// The host owns one service manager, one type service per type definition instance, and per
// realm one data point service, one port service and one contention service. Realms come into
// being when a client first asks for one. Servants run on the ORB's threads; each guards its own
// state. The host outlives every servant it activated (it deactivates them in its destructor).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/faults.h"

namespace tarn {

class TypeBook;
struct RealmState;

struct HostOptions {
  std::string name = "local";
  // Object key of the service manager: "ServiceManager" for tarnd, so clients reach it as
  // corbaloc::HOST:PORT/ServiceManager; embedded servers prefix their name.
  std::string managerKey = "ServiceManager";
  // Type service instances: instance name ("" is the default) and type definition file
  // (empty: the built-in plant types).
  std::vector<std::pair<std::string, std::string>> typeFiles = {{"", ""}};
  std::string dataDir;          // snapshot files; empty: the current folder
  bool refuseTypeStream = false;
  // How long the contention service keeps a contender whose beats stopped: three beats of the
  // default 5 s period.
  std::chrono::milliseconds contenderExpiry{15000};
};

class ServerHost {
 public:
  // Throws std::runtime_error when a type definition file cannot be read.
  explicit ServerHost(const HostOptions& options);
  ~ServerHost();
  ServerHost(const ServerHost&) = delete;
  ServerHost& operator=(const ServerHost&) = delete;

  const HostOptions& options() const { return options_; }
  FaultBook& faults() { return faults_; }

  kxTarn::kxTarnServiceManager_ptr manager();
  // The service of `kind` in `realm` (made on first use); nil for an unknown kind.
  CORBA::Object_ptr service(const std::string& kind, const std::string& realm);
  std::vector<std::string> typeInstances() const;
  std::vector<std::string> realmNames();

  // The type definitions of the default type instance (for the data point service).
  const TypeBook& types() const { return *types_.begin()->second; }

  bool master() const;
  void setMaster(bool master);

 private:
  CORBA::Object_ptr activate(PortableServer::Servant servant, const std::string& key);

  HostOptions options_;
  FaultBook faults_;
  std::map<std::string, std::shared_ptr<const TypeBook>> types_;   // by instance name
  mutable std::mutex mutex_;
  bool master_ = false;                                             // GUARDED_BY(mutex_)
  std::map<std::string, CORBA::Object_var> services_;               // GUARDED_BY(mutex_), by key
  std::map<std::string, std::shared_ptr<RealmState>> realms_;       // GUARDED_BY(mutex_)
  std::vector<PortableServer::ObjectId_var> activated_;             // GUARDED_BY(mutex_)
};

}  // namespace tarn
