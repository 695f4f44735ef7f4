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
//     instance (the operations without one) registers and beats without conflict; a leave
//     without the holder's instance finds a process's registration only when it names the
//     registration's module as well (a leave on behalf of another process or host), so that no
//     caller ends a registration it cannot name;
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
// Budget: live registrations count against the server's contender budget (Budgets::contenders,
// shared by every realm; tarnd --max-contenders). A registration past it is refused with
// kOverBudget, and so is an update that would take back a dropped one; nothing changes. Beats
// and leaves of registrations held are never refused. Each service also remembers at most that
// many dropped registrations, and keeps at most that many hosts without contenders in the report,
// forgetting the longest silent first.
//
// Cost: a call touches only what it changes. Besides the table (by host, then contender name) the
// service keeps indexes: registrations by the time they expire, dropped ones by the time they are
// forgotten, hosts without contenders by the time they leave the report, and per contender name
// its live registrations in the order the active role passes to them. A beat, registration or
// leave costs O(log n) and the expiry O(log n) per registration it drops; only the report walks
// the table.
//
// Expiry is checked when a call arrives (no thread of its own). Servant operations run on the
// ORB's threads; mutex_ guards the table and every index. The indexes point at the keys of the
// maps that own them (map nodes stay put until erased).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/budgets.h"

namespace tarn {

class ServerHost;

class ContentionService : public POA_kxTarn::contender_server {
 public:
  // The largest record a contender registers with (kOverBudget past it): with --max-contenders it
  // bounds what the registrations hold.
  static constexpr std::size_t kMaxRecordBytes = 64 * 1024;

  // `realm`: the realm it serves, whose rights its calls need (rights.h).
  ContentionService(ServerHost& host, std::chrono::milliseconds expiry, std::string realm);
  // Gives the registrations it holds back to the budget.
  ~ContentionService() override;
  ContentionService(const ContentionService&) = delete;
  ContentionService& operator=(const ContentionService&) = delete;

  // Whether no registration is held or remembered (the realm may go).
  bool holdsNothing();

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
    Clock::time_point due;         // live: beatAt + allowance, dropped once passed (in dueLive_)
    std::string module;
    std::string typeName;
    std::vector<unsigned char> data;
    bool active = false;
    std::string instance;          // the process that holds it; empty: any
    Clock::duration interval{};    // between its last two beats, as seen here
  };
  using Table = std::map<Key, Registration>;

  // (time, something owned by a map): by time, ties by address.
  template <typename T>
  struct ByTime {
    bool operator()(const std::pair<Clock::time_point, const T*>& a,
                    const std::pair<Clock::time_point, const T*>& b) const {
      if (a.first != b.first) return a.first < b.first;
      return std::less<const T*>()(a.second, b.second);
    }
  };
  template <typename T>
  using TimeIndex = std::set<std::pair<Clock::time_point, const T*>, ByTime<T>>;
  // (start time, host name): the order in which the active role passes, ties to the smaller host.
  struct ByStart {
    bool operator()(const std::pair<long long, const std::string*>& a,
                    const std::pair<long long, const std::string*>& b) const {
      if (a.first != b.first) return a.first < b.first;
      return *a.second < *b.second;
    }
  };
  struct Contenders {  // of one contender name
    std::set<std::pair<long long, const std::string*>, ByStart> live;  // host names: keys of registrations_
    bool served = false;  // one of them is active
  };
  struct Host {
    Clock::time_point seen;  // last registration, update or leave (or a registration's expiry)
    std::size_t live = 0;    // its registrations in registrations_
  };

  // Drops expired registrations, forgets old dropped ones and idle hosts, then names an active
  // contender for every contender name that has none. REQUIRES: mutex_ held.
  void refresh(Clock::time_point now);
  // Marks a beat of `entry` at `now`. REQUIRES: mutex_ held.
  static void beat(Registration& entry, Clock::time_point now);
  // How long `entry` may stay silent before it is dropped.
  Clock::duration allowance(const Registration& entry) const;
  static bool sameProcess(const std::string& a, const std::string& b) { return a.empty() || b.empty() || a == b; }

  // Index upkeep; each REQUIRES: mutex_ held. The budget is taken by the caller before insertLive
  // and given back by eraseLive.
  Table::iterator insertLive(const Key& key, Registration&& entry);
  Registration eraseLive(Table::iterator it);
  void beatLive(Table::iterator it, Clock::time_point now);
  void setStart(Table::iterator it, long long startTime);
  void insertDeparted(const Key& key, Registration&& entry);
  Registration eraseDeparted(Table::iterator it);
  void setSeen(const std::string& host, Clock::time_point when);
  void eraseHost(std::map<std::string, Host>::iterator it);

  ServerHost& host_;
  const std::chrono::milliseconds expiry_;
  const std::string realm_;
  BudgetCounter& budget_;                               // live registrations, shared by the host's realms
  const std::size_t keep_;                              // the budget's limit; 0: no limit
  std::mutex mutex_;
  Table registrations_;                                 // GUARDED_BY(mutex_)
  Table departed_;                                      // GUARDED_BY(mutex_): dropped by the expiry
  std::map<std::string, Host> hosts_;                   // GUARDED_BY(mutex_), by host
  TimeIndex<Key> dueLive_;                              // GUARDED_BY(mutex_): (due, key in registrations_)
  TimeIndex<Key> dueDeparted_;                          // GUARDED_BY(mutex_): (beatAt, key in departed_)
  TimeIndex<std::string> idleHosts_;                    // GUARDED_BY(mutex_): (seen, key in hosts_), live == 0
  std::map<std::string, Contenders> byName_;            // GUARDED_BY(mutex_): names with live registrations
  std::set<std::string> unsettled_;                     // GUARDED_BY(mutex_): names that may lack an active one
};

}  // namespace tarn
