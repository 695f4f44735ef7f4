#include "tarn/server/contention.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <ctime>
#include <set>

#include "tarn/client/codes.h"
#include "tarn/server/host.h"
#include "tarn/server/rights.h"

namespace tarn {

ContentionService::ContentionService(ServerHost& host, std::chrono::milliseconds expiry, std::string realm)
    : host_(host),
      expiry_(expiry),
      realm_(std::move(realm)),
      budget_(host.budget().contenders),
      keep_(host.budget().limits.contenders) {}

ContentionService::~ContentionService() { budget_.give(registrations_.size()); }

void ContentionService::beat(Registration& entry, Clock::time_point now) {
  entry.beatAt = now;
  entry.lastBeat = static_cast<long long>(std::time(nullptr));
}

ContentionService::Clock::duration ContentionService::allowance(const Registration& entry) const {
  return std::max<Clock::duration>(expiry_, 2 * entry.interval);
}

ContentionService::Table::iterator ContentionService::insertLive(const Key& key, Registration&& entry) {
  const auto it = registrations_.emplace(key, std::move(entry)).first;
  Registration& added = it->second;
  added.due = added.beatAt + allowance(added);
  dueLive_.insert({added.due, &it->first});
  Contenders& name = byName_[key.second];
  name.live.insert({added.startTime, &it->first.first});
  if (added.active) name.served = true;
  if (!name.served) unsettled_.insert(key.second);
  const auto host = hosts_.try_emplace(key.first).first;
  if (host->second.live++ == 0) idleHosts_.erase({host->second.seen, &host->first});
  return it;
}

ContentionService::Registration ContentionService::eraseLive(Table::iterator it) {
  const Key& key = it->first;
  Registration entry = std::move(it->second);
  dueLive_.erase({entry.due, &key});
  const auto name = byName_.find(key.second);
  if (name != byName_.end()) {
    name->second.live.erase({entry.startTime, &key.first});
    if (entry.active) {
      name->second.served = false;
      unsettled_.insert(key.second);
    }
    if (name->second.live.empty()) byName_.erase(name);
  }
  const auto host = hosts_.find(key.first);
  if (host != hosts_.end() && --host->second.live == 0) idleHosts_.insert({host->second.seen, &host->first});
  registrations_.erase(it);
  budget_.give();
  return entry;
}

void ContentionService::beatLive(Table::iterator it, Clock::time_point now) {
  Registration& entry = it->second;
  dueLive_.erase({entry.due, &it->first});
  beat(entry, now);
  entry.due = entry.beatAt + allowance(entry);
  dueLive_.insert({entry.due, &it->first});
}

void ContentionService::setStart(Table::iterator it, long long startTime) {
  auto& live = byName_[it->first.second].live;
  live.erase({it->second.startTime, &it->first.first});
  it->second.startTime = startTime;
  live.insert({startTime, &it->first.first});
}

void ContentionService::insertDeparted(const Key& key, Registration&& entry) {
  const auto known = departed_.find(key);
  if (known != departed_.end()) eraseDeparted(known);
  const auto it = departed_.emplace(key, std::move(entry)).first;
  dueDeparted_.insert({it->second.beatAt, &it->first});
}

ContentionService::Registration ContentionService::eraseDeparted(Table::iterator it) {
  dueDeparted_.erase({it->second.beatAt, &it->first});
  Registration entry = std::move(it->second);
  departed_.erase(it);
  return entry;
}

void ContentionService::setSeen(const std::string& host, Clock::time_point when) {
  const auto it = hosts_.try_emplace(host).first;
  if (it->second.live == 0) {
    idleHosts_.erase({it->second.seen, &it->first});
    idleHosts_.insert({when, &it->first});
  }
  it->second.seen = when;
}

void ContentionService::eraseHost(std::map<std::string, Host>::iterator it) {
  idleHosts_.erase({it->second.seen, &it->first});
  hosts_.erase(it);
}

void ContentionService::refresh(Clock::time_point now) {
  // Expired registrations go in table order, so that a host whose registrations expire together
  // keeps the last beat of the last of them in that order as its time, as it always has.
  std::vector<Table::iterator> expired;
  for (auto due = dueLive_.begin(); due != dueLive_.end() && due->first < now; ++due)
    expired.push_back(registrations_.find(*due->second));
  std::sort(expired.begin(), expired.end(), [](Table::iterator a, Table::iterator b) { return a->first < b->first; });
  for (Table::iterator it : expired) {
    const Key key = it->first;
    setSeen(key.first, it->second.beatAt);
    Registration entry = eraseLive(it);
    entry.active = false;
    insertDeparted(key, std::move(entry));
  }
  while (!dueDeparted_.empty() && now - dueDeparted_.begin()->first > 10 * expiry_)
    eraseDeparted(departed_.find(*dueDeparted_.begin()->second));
  while (keep_ != 0 && departed_.size() > keep_) eraseDeparted(departed_.find(*dueDeparted_.begin()->second));

  for (const std::string& name : unsettled_) {
    const auto state = byName_.find(name);
    if (state == byName_.end() || state->second.served || state->second.live.empty()) continue;
    registrations_.find({*state->second.live.begin()->second, name})->second.active = true;
    state->second.served = true;
  }
  unsettled_.clear();

  while (!idleHosts_.empty() && now - idleHosts_.begin()->first > expiry_)
    eraseHost(hosts_.find(*idleHosts_.begin()->second));
  while (keep_ != 0 && idleHosts_.size() > keep_) eraseHost(hosts_.find(*idleHosts_.begin()->second));
}

bool ContentionService::holdsNothing() {
  std::lock_guard<std::mutex> hold(mutex_);
  return registrations_.empty() && departed_.empty();
}

CORBA::Long ContentionService::get_contenders(kxTarn::HEART_RESULT_SEQ_out report) {
  report = new kxTarn::HEART_RESULT_SEQ;
  TARN_FAULT_POINT(host_.faults(), "get_contenders");
  TARN_REQUIRE_RIGHT(kRead, realm_);
  std::lock_guard<std::mutex> hold(mutex_);
  refresh(Clock::now());
  report->length(static_cast<CORBA::ULong>(hosts_.size()));
  CORBA::ULong h = 0;
  for (const auto& host : hosts_) {
    kxTarn::HEART_RESULT& result = report[h++];
    result.hostName = host.first.c_str();
    const auto first = registrations_.lower_bound({host.first, std::string()});
    auto last = first;
    while (last != registrations_.end() && last->first.first == host.first) ++last;
    result.programs.length(static_cast<CORBA::ULong>(std::distance(first, last)));
    CORBA::ULong p = 0;
    for (auto it = first; it != last; ++it) {
      const Registration& entry = it->second;
      kxTarn::ProgramStatusInfo& program = result.programs[p++];
      program.name = it->first.second.c_str();
      program.value1 = entry.startTime;
      program.value2 = entry.lastBeat;
      program.value3 = entry.active ? 1 : 0;
      program.typeName = entry.typeName.c_str();
      program.data.length(static_cast<CORBA::ULong>(entry.data.size()));
      if (!entry.data.empty()) std::memcpy(program.data.get_buffer(), entry.data.data(), entry.data.size());
    }
  }
  return kOk;
}

CORBA::Long ContentionService::regist_contender(const char* hostName, const char* contenderName,
                                                const kxTarn::DATA_BUFFER& data, const char* typeName,
                                                CORBA::Long startTime) {
  return regist_contender_from(hostName, contenderName, data, typeName, startTime, "");
}

CORBA::Long ContentionService::update_contender(const char* hostName, const char* contenderName,
                                                const char* moduleName) {
  return update_contender_from(hostName, contenderName, moduleName, "");
}

CORBA::Long ContentionService::out_contend(const char* hostName, const char* contenderName, const char* moduleName) {
  return out_contend_from(hostName, contenderName, moduleName, "");
}

CORBA::Long ContentionService::regist_contender_from(const char* hostName, const char* contenderName,
                                                     const kxTarn::DATA_BUFFER& data, const char* typeName,
                                                     CORBA::Long startTime, const char* instance) {
  TARN_FAULT_POINT(host_.faults(), "regist_contender");
  TARN_REQUIRE_RIGHT(kWrite, realm_);
  if (!hostName || !contenderName || !*contenderName || nameTooLong(hostName) || nameTooLong(contenderName) ||
      nameTooLong(instance ? instance : ""))
    return kBadArgument;
  if (data.length() > kMaxRecordBytes) return kOverBudget;
  const std::string self = instance ? instance : "";
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  refresh(now);
  const Key key{hostName, contenderName};
  auto held = registrations_.find(key);
  if (held != registrations_.end() && !sameProcess(held->second.instance, self)) return kAlreadyExists;
  if (held == registrations_.end() && !budget_.take()) return kOverBudget;
  const auto gone = departed_.find(key);
  if (gone != departed_.end()) eraseDeparted(gone);
  if (held != registrations_.end()) {
    // A registration that is still held keeps its module and its role: a contender that
    // registers again after a lost update is the same contender.
    held->second.interval = now - held->second.beatAt;
    setStart(held, startTime);
  } else {
    Registration added;
    added.startTime = startTime;
    added.beatAt = now;
    held = insertLive(key, std::move(added));
  }
  Registration& entry = held->second;
  entry.typeName = typeName ? typeName : "";
  entry.data.assign(data.get_buffer(), data.get_buffer() + data.length());
  if (!self.empty()) entry.instance = self;
  beatLive(held, now);
  setSeen(hostName, now);
  refresh(now);
  return kOk;
}

CORBA::Long ContentionService::update_contender_from(const char* hostName, const char* contenderName,
                                                     const char* moduleName, const char* instance) {
  TARN_FAULT_POINT(host_.faults(), "update_contender");
  TARN_REQUIRE_RIGHT(kWrite, realm_);
  if (!hostName || !contenderName) return kBadArgument;
  const std::string self = instance ? instance : "";
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  refresh(now);
  const Key key{hostName, contenderName};
  auto it = registrations_.find(key);
  if (it == registrations_.end()) {
    // A contender that beats more slowly than the expiry: take it back and learn its interval.
    auto gone = departed_.find(key);
    if (gone == departed_.end() || !sameProcess(gone->second.instance, self)) return kNoSuchObject;
    if (!budget_.take()) return kOverBudget;
    it = insertLive(key, eraseDeparted(gone));
  } else if (!sameProcess(it->second.instance, self)) {
    return kNoSuchObject;
  }
  it->second.interval = now - it->second.beatAt;
  it->second.module = moduleName ? moduleName : "";
  beatLive(it, now);
  setSeen(hostName, now);
  refresh(now);
  return kOk;
}

CORBA::Long ContentionService::out_contend_from(const char* hostName, const char* contenderName,
                                                const char* moduleName, const char* instance) {
  TARN_FAULT_POINT(host_.faults(), "out_contend");
  TARN_REQUIRE_RIGHT(kWrite, realm_);
  if (!hostName || !contenderName) return kBadArgument;
  const std::string self = instance ? instance : "";
  const std::string module = moduleName ? moduleName : "";
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  const Key key{hostName, contenderName};
  auto it = registrations_.find(key);
  // An empty instance in the leave is no wildcard: a registration of one process is left by that
  // process, or on its behalf by a caller that names it whole (host, name and its module).
  const Registration* entry = it == registrations_.end() ? nullptr : &it->second;
  if (!entry || !(entry->instance.empty() || entry->instance == self || (!module.empty() && module == entry->module)))
    return kNoSuchObject;
  eraseLive(it);
  const auto gone = departed_.find(key);
  if (gone != departed_.end()) eraseDeparted(gone);
  setSeen(hostName, now);
  refresh(now);
  return kOk;
}

}  // namespace tarn
