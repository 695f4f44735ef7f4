#include "tarn/server/contention.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <ctime>
#include <set>

#include "tarn/client/codes.h"
#include "tarn/server/host.h"

namespace tarn {

void ContentionService::beat(Registration& entry, Clock::time_point now) {
  entry.beatAt = now;
  entry.lastBeat = static_cast<long long>(std::time(nullptr));
}

ContentionService::Clock::duration ContentionService::allowance(const Registration& entry) const {
  return std::max<Clock::duration>(expiry_, 2 * entry.interval);
}

void ContentionService::refresh(Clock::time_point now) {
  for (auto it = registrations_.begin(); it != registrations_.end();) {
    if (now - it->second.beatAt > allowance(it->second)) {
      hosts_[it->first.first] = it->second.beatAt;
      it->second.active = false;
      departed_[it->first] = std::move(it->second);
      it = registrations_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = departed_.begin(); it != departed_.end();) {
    if (now - it->second.beatAt > 10 * expiry_)
      it = departed_.erase(it);
    else
      ++it;
  }
  std::set<std::string> busyHosts, served;
  std::map<std::string, Registration*> earliest;  // by contender name
  for (auto& entry : registrations_) {
    busyHosts.insert(entry.first.first);
    const std::string& name = entry.first.second;
    if (entry.second.active) served.insert(name);
    // The map runs in (host, name) order, so on equal start times the smaller host wins.
    Registration*& first = earliest[name];
    if (!first || entry.second.startTime < first->startTime) first = &entry.second;
  }
  for (auto& candidate : earliest) {
    if (!served.count(candidate.first)) candidate.second->active = true;
  }
  for (auto it = hosts_.begin(); it != hosts_.end();) {
    if (!busyHosts.count(it->first) && now - it->second > expiry_) {
      it = hosts_.erase(it);
    } else {
      ++it;
    }
  }
}

CORBA::Long ContentionService::get_contenders(kxTarn::HEART_RESULT_SEQ_out report) {
  report = new kxTarn::HEART_RESULT_SEQ;
  TARN_FAULT_POINT(host_.faults(), "get_contenders");
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
  if (!hostName || !contenderName || !*contenderName) return kBadArgument;
  const std::string self = instance ? instance : "";
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  refresh(now);
  const Key key{hostName, contenderName};
  auto held = registrations_.find(key);
  if (held != registrations_.end() && !sameProcess(held->second.instance, self)) return kAlreadyExists;
  departed_.erase(key);
  // A registration that is still held keeps its module and its role: a contender that
  // registers again after a lost update is the same contender.
  Registration& entry = registrations_[key];
  if (held != registrations_.end()) entry.interval = now - entry.beatAt;
  entry.startTime = startTime;
  entry.typeName = typeName ? typeName : "";
  entry.data.assign(data.get_buffer(), data.get_buffer() + data.length());
  if (!self.empty()) entry.instance = self;
  beat(entry, now);
  hosts_[hostName] = now;
  refresh(now);
  return kOk;
}

CORBA::Long ContentionService::update_contender_from(const char* hostName, const char* contenderName,
                                                     const char* moduleName, const char* instance) {
  TARN_FAULT_POINT(host_.faults(), "update_contender");
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
    it = registrations_.emplace(key, std::move(gone->second)).first;
    departed_.erase(gone);
  } else if (!sameProcess(it->second.instance, self)) {
    return kNoSuchObject;
  }
  it->second.interval = now - it->second.beatAt;
  it->second.module = moduleName ? moduleName : "";
  beat(it->second, now);
  hosts_[hostName] = now;
  refresh(now);
  return kOk;
}

CORBA::Long ContentionService::out_contend_from(const char* hostName, const char* contenderName, const char*,
                                                const char* instance) {
  TARN_FAULT_POINT(host_.faults(), "out_contend");
  if (!hostName || !contenderName) return kBadArgument;
  const std::string self = instance ? instance : "";
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  const Key key{hostName, contenderName};
  auto it = registrations_.find(key);
  if (it == registrations_.end() || !sameProcess(it->second.instance, self)) return kNoSuchObject;
  registrations_.erase(it);
  departed_.erase(key);
  hosts_[hostName] = now;
  refresh(now);
  return kOk;
}

}  // namespace tarn
