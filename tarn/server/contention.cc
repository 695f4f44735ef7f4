#include "tarn/server/contention.h"

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

void ContentionService::refresh(Clock::time_point now) {
  for (auto it = registrations_.begin(); it != registrations_.end();) {
    if (now - it->second.beatAt > expiry_) {
      hosts_[it->first.first] = it->second.beatAt;
      it = registrations_.erase(it);
    } else {
      ++it;
    }
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
  TARN_FAULT_POINT(host_.faults(), "regist_contender");
  if (!hostName || !contenderName || !*contenderName) return kBadArgument;
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  // A registration that is still held keeps its module and its role: a contender that
  // registers again after a lost update is the same contender.
  Registration& entry = registrations_[{hostName, contenderName}];
  entry.startTime = startTime;
  entry.typeName = typeName ? typeName : "";
  entry.data.assign(data.get_buffer(), data.get_buffer() + data.length());
  beat(entry, now);
  hosts_[hostName] = now;
  refresh(now);
  return kOk;
}

CORBA::Long ContentionService::update_contender(const char* hostName, const char* contenderName,
                                                const char* moduleName) {
  TARN_FAULT_POINT(host_.faults(), "update_contender");
  if (!hostName || !contenderName) return kBadArgument;
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  refresh(now);
  auto it = registrations_.find({hostName, contenderName});
  if (it == registrations_.end()) return kNoSuchObject;
  it->second.module = moduleName ? moduleName : "";
  beat(it->second, now);
  hosts_[hostName] = now;
  return kOk;
}

CORBA::Long ContentionService::out_contend(const char* hostName, const char* contenderName, const char*) {
  TARN_FAULT_POINT(host_.faults(), "out_contend");
  if (!hostName || !contenderName) return kBadArgument;
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = registrations_.find({hostName, contenderName});
  if (it == registrations_.end()) return kNoSuchObject;
  registrations_.erase(it);
  hosts_[hostName] = now;
  refresh(now);
  return kOk;
}

}  // namespace tarn
