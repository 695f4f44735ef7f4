// The history that `ostrel web` keeps of the realm's points: their numeric fields, sampled once
// per period by this process from its start, so that a page opened later shows the past.
//
// Each point kept has a ring of `capacity` samples (the history's span at the period): a time and
// one double per numeric field (times and texts are left out: they are no measures). Points are
// taken in name order while the full rings of those kept fit the byte budget, so memory stays
// within it whatever the realm holds; a point deleted from the realm frees its ring, and the next
// point by name may then be taken. A point of another type than when it was taken starts its
// ring again.
//
// Threads: start() runs the sampler on a thread of its own until stop() (or the destructor);
// summary() and json() may be called from any thread. One mutex guards the rings. Not copied,
// not moved.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/ostrel/tool.h"

class BrennicData;

namespace tool::web {

class History {
 public:
  // `minutes` of history at one sample each `period`, in at most `megabytes` MiB; either 0: none.
  History(const ServerTarget& target, std::chrono::milliseconds period, int minutes, int megabytes);
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  void start();
  // Ends the sampler; returns once its pass is over (a pass waits for the server's answers).
  void stop();

  // {"span_ms", "capacity", "points", "bytes", "budget", "pass_ms"}: what the history holds and
  // what its last pass (reading and storing one sample of each point kept) cost.
  std::string summary();

  // The history of `point` as JSON: its fields, and per sample a time (ms since 1970) and a value
  // per field (null where there was none). At most `most` samples are sent: above that, each of
  // most / 2 runs of samples is sent as two, the lowest and the highest value of each field in
  // their order, at the run's first and last time, so peaks stay in the plot. A point not kept
  // gives {"kept": false, "reason"}.
  std::string json(const std::string& point, std::size_t most);

  // Whether `realm` is the one sampled.
  bool samples(const std::string& realm) const { return realm == target_.realm; }

 private:
  struct Ring {
    std::string type;
    std::vector<std::string> paths;
    std::vector<long long> times;             // grows to capacity_, then wraps at `next`
    std::vector<std::vector<double>> values;  // one per path, as times
    std::size_t next = 0;
    std::size_t bytes = 0;                    // what the full ring costs
  };

  void run();
  void forgetGone(const std::vector<std::string>& names);
  // Reads the points kept and, while the budget has room, the next ones by name; one sample each.
  void sample(const std::vector<std::string>& names);
  void add(BrennicData& record, long long at);

  const ServerTarget target_;
  const int period_;
  const std::size_t capacity_;
  const std::size_t budget_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;                  // GUARDED_BY(mutex_)
  bool full_ = false;                    // GUARDED_BY(mutex_): a point did not fit the budget
  std::size_t reserved_ = 0;             // GUARDED_BY(mutex_): the full rings' bytes
  double passMs_ = 0;                    // GUARDED_BY(mutex_): what the last pass cost
  std::map<std::string, Ring> rings_;    // GUARDED_BY(mutex_)
  std::set<std::string> unsampled_;      // GUARDED_BY(mutex_): points without numeric fields
};

}  // namespace tool::web
