// The contention service of one realm: redundant programs register under a contender name,
// keep beating, and the service names one active contender per name.
//
// Registrations are kept per (host name, contender name) with the start time the contender
// gave, the time of its last beat, its module (from its updates), its record bytes and type
// name. Rules:
//   - expiry: a registration whose last registration or update is older than its allowance is
//     dropped. The allowance is the host's contender expiry (HostOptions::contenderExpiry), or
//     twice the interval the service last saw between the contender's beats when that is longer,
//     so a contender that beats more slowly than the expiry is learned and not dropped between
//     beats. A dropped registration is remembered for ten expiries: an update from the same
//     contender in that time takes it back (as standby when another became active meanwhile)
//     and teaches the service its interval, so a slow contender loses it at most once;
//   - one process per (host, name): a registration carries the instance of the process that
//     made it (the flat client API sends one per process). While it lives, a registration from
//     another instance is refused with kAlreadyExists, and an update or a leave from another
//     instance answers kNoSuchObject, so two processes never share one registration (and its
//     active role); the refused one registers once the first leaves or expires. An empty
//     instance (the operations without one) conflicts with none;
//   - active: for each contender name exactly one live registration is active. An active one
//     stays active while it beats, whatever else registers (no flapping when an older contender
//     returns). When there is none (the active one left or expired), the live registration with
//     the earliest start time becomes active; ties go to the smaller host name;
//   - an update of a registration the service does not hold answers kNoSuchObject, so that the
//     contender registers again; a leave (out_contend) drops the registration at once and hands
//     the role over on the spot;
//   - a host whose registrations all left or expired stays in the report, with no programs,
//     until the expiry has passed since its last one went.
// The report lists hosts in ascending name order, each with its programs by contender name:
// value1 the start time, value2 the last beat (seconds since 1970, this server's clock), value3
// 1 for the active contender of its name and 0 otherwise.
//
// Expiry is checked when a call arrives (no thread of its own). Servant operations run on the
// ORB's threads; mutex_ guards the table.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"

namespace tarn {

class ServerHost;

class ContentionService : public POA_kxTarn::contender_server {
 public:
  ContentionService(ServerHost& host, std::chrono::milliseconds expiry) : host_(host), expiry_(expiry) {}

  CORBA::Long get_contenders(kxTarn::HEART_RESULT_SEQ_out report) override;
  CORBA::Long regist_contender(const char* hostName, const char* contenderName, const kxTarn::DATA_BUFFER& data,
                               const char* typeName, CORBA::Long startTime) override;
  CORBA::Long update_contender(const char* hostName, const char* contenderName, const char* moduleName) override;
  CORBA::Long out_contend(const char* hostName, const char* contenderName, const char* moduleName) override;
  CORBA::Long regist_contender_from(const char* hostName, const char* contenderName, const kxTarn::DATA_BUFFER& data,
                                    const char* typeName, CORBA::Long startTime, const char* instance) override;
  CORBA::Long update_contender_from(const char* hostName, const char* contenderName, const char* moduleName,
                                    const char* instance) override;
  CORBA::Long out_contend_from(const char* hostName, const char* contenderName, const char* moduleName,
                               const char* instance) override;

 private:
  using Clock = std::chrono::steady_clock;
  using Key = std::pair<std::string, std::string>;  // (host name, contender name)

  struct Registration {
    long long startTime = 0;
    long long lastBeat = 0;        // seconds since 1970, for the report
    Clock::time_point beatAt;      // for the expiry
    std::string module;
    std::string typeName;
    std::vector<unsigned char> data;
    bool active = false;
    std::string instance;          // the process that holds it; empty: any
    Clock::duration interval{};    // between its last two beats, as seen here
  };

  // Drops expired registrations and idle hosts, then names an active contender for every
  // contender name that has none. REQUIRES: mutex_ held.
  void refresh(Clock::time_point now);
  // Marks a beat of `entry` at `now`. REQUIRES: mutex_ held.
  static void beat(Registration& entry, Clock::time_point now);
  // How long `entry` may stay silent before it is dropped.
  Clock::duration allowance(const Registration& entry) const;
  static bool sameProcess(const std::string& a, const std::string& b) { return a.empty() || b.empty() || a == b; }

  ServerHost& host_;
  const std::chrono::milliseconds expiry_;
  std::mutex mutex_;
  std::map<Key, Registration> registrations_;       // GUARDED_BY(mutex_)
  std::map<Key, Registration> departed_;            // GUARDED_BY(mutex_): dropped by the expiry
  std::map<std::string, Clock::time_point> hosts_;  // GUARDED_BY(mutex_), by host: last seen
};

}  // namespace tarn
