// One middleware server: its services, activated on the ORB's persistent-key POA.
//
// The host owns one service manager, one type service per type definition instance, and per
// realm one data point service, one port service and one contention service. Realms come into
// being when a client first asks for one, up to the realm budget (budgets.h: past it the
// service asked for is nil), and an empty one can be deleted. Servants run on the ORB's threads; each guards its own
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
#include "tarn/server/budgets.h"
#include "tarn/server/faults.h"
#include "tarn/server/journal.h"

namespace tarn {

class DataFolderLock;
class FileHandles;
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
  // The data folder: the journal of data point changes and of persistent channels (journal.h)
  // and snapshot files. Empty: everything stays in memory.
  std::string dataDir;
  // The folder of snapshot files when there is no data folder (the embedded server takes it
  // from TARN_EMBEDDED_DATA). Both empty: a folder of the host's own, made under the system's
  // temporary folder when first needed and removed with the host.
  std::string snapshotDir;
  // Whether a journaled change is flushed to the disk before it is acknowledged (true), or only
  // handed to the operating system (false: kept across a crash of the server, not of the host).
  bool journalToDisk = true;
  // Whether a journal damaged in the middle is salvaged (journal.h) instead of refused.
  bool salvage = false;
  bool refuseTypeStream = false;
  // Whether clients may set fault plans through the service manager. In-process tests plan
  // faults on the embedded server directly; tarnd accepts plans only when started to
  // (--allow-fault-plans), so that no ordinary client can make the server fail for everyone.
  bool allowFaultPlans = true;
  // What clients may make the server hold (budgets.h).
  Budgets budgets;
  // How long the contention service keeps a contender whose beats stopped: three beats of the
  // default 5 s period.
  std::chrono::milliseconds contenderExpiry{15000};
};

class ContentionService;

class ServerHost {
 public:
  // Throws std::runtime_error when a type definition file or the data folder cannot be used.
  // With a data folder, the points and persistent channels the journal holds are back before
  // any service answers.
  explicit ServerHost(const HostOptions& options);
  ~ServerHost();
  ServerHost(const ServerHost&) = delete;
  // Wakes every receive and reply wait, which answers kServerNotAnswering, and makes later waits
  // end at once: the first step of a stop, before the calls in flight are waited for.
  void stopWaits();
  ServerHost& operator=(const ServerHost&) = delete;

  const HostOptions& options() const { return options_; }
  FaultBook& faults() { return faults_; }
  // The counters of what clients made the server hold, against HostOptions::budgets.
  BudgetBook& budget() { return budget_; }
  // The journal of data point and persistent channel changes; null without a data folder.
  Journal* journal() { return journal_.get(); }
  // What the start did to the journal beyond replaying it (a torn tail cut, a salvage), for the
  // server's log; empty when there was nothing to say.
  std::string startNote() const { return journal_ ? journal_->replayNote() : std::string(); }
  // The folder of snapshot files (see HostOptions::snapshotDir); empty when none can be made.
  std::string snapshotFolder();
  // The readers of snapshot files opened by clients.
  FileHandles& files() { return *files_; }

  kxTarn::kxTarnServiceManager_ptr manager();
  // The service of `kind` in `realm` (made on first use); nil for an unknown kind.
  CORBA::Object_ptr service(const std::string& kind, const std::string& realm);
  std::vector<std::string> typeInstances() const;
  std::vector<std::string> realmNames();
  // Removes an empty realm and its services (kxTarnServiceManager::delete_realm).
  int deleteRealm(const std::string& realm);
  // A realm other than the default that holds nothing (no data point, port, box, connection,
  // contender or named snapshot file) goes once it has held nothing for the idle time of a
  // connection (TARN_IDLE_CONNECTION_S): looked at, at most once a second, when a service or the
  // realm listing is asked for. A client that still holds one of its services gets a new one at
  // its next call (the call frame tries a call again after OBJECT_NOT_EXIST).

  // The type definitions of the default type instance (for the data point service).
  const TypeBook& types() const { return *types_.begin()->second; }

  bool master() const;
  void setMaster(bool master);

 private:
  // Activates `servant` under `key` and remembers it for the end. REQUIRES: mutex_ held.
  CORBA::Object_ptr activate(PortableServer::Servant servant, const std::string& key);
  // The state of `realm`, made (and attached to the journal) on first use. REQUIRES: mutex_ held.
  std::shared_ptr<RealmState>& realmState(const std::string& realm);
  // Takes realm `it` out with its services; the caller detaches the state from the journal and
  // shuts its ports down. REQUIRES: mutex_ held.
  std::shared_ptr<RealmState> removeRealmLocked(std::map<std::string, std::shared_ptr<RealmState>>::iterator it);
  // See realmNames(). REQUIRES: mutex_ held.
  void reclaimIdleRealmsLocked();
  // Whether `realm` holds nothing; `files`: the names in the snapshot folders.
  bool holdsNothingLocked(const std::string& realm, RealmState& state, const std::vector<std::string>& files);
  // The object key of the service of `kind` in `realm`.
  std::string serviceKey(const std::string& kind, const std::string& realm) const;

  HostOptions options_;
  FaultBook faults_;
  BudgetBook budget_;
  std::unique_ptr<DataFolderLock> lock_;  // held for the host's life when it has a data folder
  std::map<std::string, std::shared_ptr<const TypeBook>> types_;   // by instance name
  mutable std::mutex mutex_;
  bool master_ = false;                                             // GUARDED_BY(mutex_)
  std::map<std::string, CORBA::Object_var> services_;               // GUARDED_BY(mutex_), by key
  std::map<std::string, std::shared_ptr<RealmState>> realms_;       // GUARDED_BY(mutex_)
  std::vector<PortableServer::ObjectId_var> activated_;             // GUARDED_BY(mutex_)
  std::map<std::string, ContentionService*> contention_;            // GUARDED_BY(mutex_): by realm, once made
  std::chrono::steady_clock::time_point lastReclaim_;                // GUARDED_BY(mutex_)
  std::unique_ptr<Journal> journal_;
  std::string ownFolder_;                                           // GUARDED_BY(mutex_)
  std::unique_ptr<FileHandles> files_;
};

}  // namespace tarn
