#include "tarn/server/host.h"

#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "tarn/client/orb.h"
#include "tarn/client/codes.h"
#include "tarn/server/callers.h"
#include "tarn/server/contention.h"
#include "tarn/server/data_folder.h"
#include "tarn/server/data_points.h"
#include "tarn/server/env.h"
#include "tarn/server/file_handles.h"
#include "tarn/server/ports.h"
#include "tarn/server/realm.h"
#include "tarn/server/service_manager.h"
#include "tarn/server/snapshot_file.h"
#include "tarn/server/type_service.h"

namespace tarn {

ServerHost::ServerHost(const HostOptions& options)
    : options_(options),
      budget_(options.budgets),
      files_(std::make_unique<FileHandles>(faults_, options.budgets.fileReaders, options.budgets.fileReadersPerClient)) {
  watchCallers();
  if (options_.typeFiles.empty()) options_.typeFiles = {{"", ""}};
  for (const auto& source : options_.typeFiles) {
    types_[source.first] = source.second.empty() ? TypeBook::fromXml(defaultTypesXml())
                                                 : TypeBook::fromFile(source.second);
  }
  if (!types_.count("")) types_[""] = types_.begin()->second;
  // Two servers on one folder would compact the journal under each other: the second refuses.
  if (!options_.dataDir.empty()) lock_ = std::make_unique<DataFolderLock>(options_.dataDir);
  // A server killed while writing a snapshot file left its aside file behind.
  for (const std::string* folder : {&options_.dataDir, &options_.snapshotDir})
    if (!folder->empty()) removeStaleAsideFiles(*folder);
  if (!options_.dataDir.empty()) {
    journal_ = std::make_unique<Journal>(options_.dataDir, options_.journalToDisk);
    std::lock_guard<std::mutex> hold(mutex_);
    journal_->replay([this](const JournalRecord& record) {
      RealmState& realm = *realmState(record.realm);
      std::map<std::string, Point>& points = realm.points.points;
      if (record.forChannel()) {
        realm.ports.replay(record);
      } else if (record.kind == JournalRecord::kPoint) {
        points[record.name] = record.point;
      } else if (record.kind == JournalRecord::kRemoved) {
        points.erase(record.name);
      } else {
        points.clear();
      }
    }, options_.salvage);
    // What the journal brought back was within budget once: it counts, and is never refused.
    for (const auto& realm : realms_) {
      budget_.points.force(realm.second->points.points.size());
      budget_.pointBytes.force(pointsCost(realm.second->points.points));
    }
  }
  PortableServer::ServantBase_var manager = new ServiceManager(*this);
  {
    // Held from the activation on: the manager answers (clients asking for services) at once.
    std::lock_guard<std::mutex> hold(mutex_);
    CORBA::Object_var object = activate(manager.in(), options_.managerKey);
    services_[options_.managerKey] = object._retn();
  }
  // The default realm's services exist from the start, so references to them that clients
  // kept stay valid across a restart of the server on the same endpoint.
  for (const char* kind : {"dtp", "port", "contender"}) CORBA::release(service(kind, ""));
  for (const std::string& instance : typeInstances())
    CORBA::release(service(instance.empty() ? "dt" : "dt/" + instance, ""));
}

ServerHost::~ServerHost() {
  files_.reset();
  std::lock_guard<std::mutex> hold(mutex_);
  if (!ownFolder_.empty()) {
    env().removeAll(ownFolder_);
  }
  // Receivers blocked in a port service return now, so that their calls can end.
  for (const auto& realm : realms_) realm.second->ports.shutDown();
  if (orbStopped()) return;
  for (const PortableServer::ObjectId_var& id : activated_) {
    try {
      insPoa()->deactivate_object(id.in());
    } catch (const CORBA::Exception&) {
    }
  }
}

void ServerHost::stopWaits() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (const auto& realm : realms_) realm.second->ports.shutDown();
}

std::string ServerHost::snapshotFolder() {
  if (!options_.dataDir.empty()) return options_.dataDir;
  if (!options_.snapshotDir.empty()) return options_.snapshotDir;
  std::lock_guard<std::mutex> hold(mutex_);
  if (ownFolder_.empty()) ownFolder_ = env().makeTempFolder("tarn-" + options_.name);
  return ownFolder_;
}

CORBA::Object_ptr ServerHost::activate(PortableServer::Servant servant, const std::string& key) {
  PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(key.c_str());
  PortableServer::POA_ptr poa = insPoa();
  poa->activate_object_with_id(id.in(), servant);
  activated_.push_back(id);
  return poa->id_to_reference(id.in());
}

kxTarn::kxTarnServiceManager_ptr ServerHost::manager() {
  std::lock_guard<std::mutex> hold(mutex_);
  return kxTarn::kxTarnServiceManager::_narrow(services_[options_.managerKey]);
}

std::string ServerHost::serviceKey(const std::string& kind, const std::string& realm) const {
  const std::string prefix = options_.managerKey.substr(0, options_.managerKey.size() - std::string("ServiceManager").size());
  return prefix + kind + (realm.empty() ? "" : "/" + realm);
}

CORBA::Object_ptr ServerHost::service(const std::string& kind, const std::string& realm) {
  const std::string key = serviceKey(kind, realm);
  std::lock_guard<std::mutex> hold(mutex_);
  reclaimIdleRealmsLocked();
  auto known = services_.find(key);
  if (known != services_.end()) return CORBA::Object::_duplicate(known->second);
  if (budget_.limits.realms && !realms_.count(realm) && realms_.size() >= budget_.limits.realms)
    return CORBA::Object::_nil();

  PortableServer::ServantBase_var servant;
  if (kind == "dt" || kind.compare(0, 3, "dt/") == 0) {
    auto book = types_.find(kind == "dt" ? std::string() : kind.substr(3));
    if (book == types_.end() || !realm.empty()) return CORBA::Object::_nil();
    auto* service = new TypeService(book->second, faults_);
    service->setRefuseStream(options_.refuseTypeStream);
    service->setSnapshotFolder([this] { return snapshotFolder(); });
    servant = service;
  } else {
    std::shared_ptr<RealmState>& state = realmState(realm);
    if (kind == "dtp") {
      servant = new DataPointService(*this, state);
    } else if (kind == "port") {
      servant = new PortService(*this, state);
    } else if (kind == "contender") {
      auto* contention = new ContentionService(*this, options_.contenderExpiry, realm);
      contention_[realm] = contention;
      servant = contention;
    } else {
      return CORBA::Object::_nil();
    }
  }
  CORBA::Object_var object = activate(servant.in(), key);
  services_[key] = CORBA::Object::_duplicate(object);
  return object._retn();
}

std::shared_ptr<RealmState>& ServerHost::realmState(const std::string& realm) {
  std::shared_ptr<RealmState>& state = realms_[realm];
  if (!state) {
    state = std::make_shared<RealmState>();
    state->name = realm;
    state->ports.useBudget(budget_);
    if (journal_) {
      journal_->attach(state);
      state->ports.keepIn(journal_.get(), realm);
    }
  }
  return state;
}

std::vector<std::string> ServerHost::typeInstances() const {
  std::vector<std::string> names;
  for (const auto& source : options_.typeFiles) names.push_back(source.first);
  return names;
}

std::vector<std::string> ServerHost::realmNames() {
  std::lock_guard<std::mutex> hold(mutex_);
  reclaimIdleRealmsLocked();
  std::vector<std::string> names;
  for (const auto& realm : realms_) names.push_back(realm.first);
  return names;
}

int ServerHost::deleteRealm(const std::string& realm) {
  if (realm.empty()) return kBadArgument;
  std::shared_ptr<RealmState> state;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = realms_.find(realm);
    if (it == realms_.end()) return kNoSuchObject;
    {
      std::lock_guard<std::mutex> points(it->second->points.mutex);
      if (!it->second->points.points.empty()) return kRealmNotEmpty;
    }
    if (!it->second->ports.channelNames().empty()) return kRealmNotEmpty;
    state = removeRealmLocked(it);
  }
  if (journal_) journal_->detach(state);
  state->ports.shutDown();  // a receiver still waiting in the realm returns
  return kOk;
}

std::shared_ptr<RealmState> ServerHost::removeRealmLocked(
    std::map<std::string, std::shared_ptr<RealmState>>::iterator it) {
  const std::string& realm = it->first;
  for (const char* kind : {"dtp", "port", "contender"}) {
    const std::string key = serviceKey(kind, realm);
    if (!services_.erase(key)) continue;
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(key.c_str());
    for (auto held = activated_.begin(); held != activated_.end(); ++held) {
      CORBA::String_var name = PortableServer::ObjectId_to_string(held->in());
      if (key != name.in()) continue;
      activated_.erase(held);
      break;
    }
    try {
      if (!orbStopped()) insPoa()->deactivate_object(id.in());
    } catch (const CORBA::Exception&) {
    }
  }
  contention_.erase(realm);
  std::shared_ptr<RealmState> state = it->second;
  realms_.erase(it);
  return state;
}

bool ServerHost::holdsNothingLocked(const std::string& realm, RealmState& state, const std::vector<std::string>& files) {
  {
    std::lock_guard<std::mutex> points(state.points.mutex);
    if (!state.points.points.empty()) return false;
  }
  if (!state.ports.channelNames().empty() || !state.ports.connections().empty()) return false;
  auto contention = contention_.find(realm);
  if (contention != contention_.end() && !contention->second->holdsNothing()) return false;
  // A named snapshot of the realm, or a snapshot file of its points or ports, keeps it.
  const std::string hex = hexName(realm);
  for (const std::string& name : files)
    if (name.rfind("named-" + hex + "-", 0) == 0 || name.find("." + hex + ".snapshot") != std::string::npos)
      return false;
  return true;
}

void ServerHost::reclaimIdleRealmsLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReclaim_ < std::chrono::seconds(1) || realms_.size() < 2) return;
  lastReclaim_ = now;
  // The names in the snapshot folders, read once for every realm of this pass.
  std::vector<std::string> files;
  for (const std::string* folder : {&options_.dataDir, &options_.snapshotDir, &ownFolder_}) {
    if (!folder->empty()) env().list(*folder, false, files);
  }
  std::vector<std::shared_ptr<RealmState>> gone;
  for (auto it = realms_.begin(); it != realms_.end();) {
    RealmState& state = *it->second;
    if (it->first.empty() || !holdsNothingLocked(it->first, state, files)) {
      state.idleSince = {};
      ++it;
      continue;
    }
    if (state.idleSince == std::chrono::steady_clock::time_point()) state.idleSince = now;
    if (now - state.idleSince < std::chrono::seconds(state.ports.idleSeconds())) {
      ++it;
      continue;
    }
    auto next = std::next(it);
    gone.push_back(removeRealmLocked(it));
    it = next;
  }
  for (const std::shared_ptr<RealmState>& state : gone) {
    if (journal_) journal_->detach(state);
    state->ports.shutDown();
  }
}

bool ServerHost::master() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return master_;
}

void ServerHost::setMaster(bool master) {
  std::lock_guard<std::mutex> hold(mutex_);
  master_ = master;
}

}  // namespace tarn
