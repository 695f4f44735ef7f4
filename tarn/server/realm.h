// The state of one realm of a server: its data points (and, beside them, what the port and
// contention services keep). Each part has its own mutex; no call holds two of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tarn/server/budgets.h"
#include "tarn/server/port_table.h"

namespace tarn {

struct Point {
  std::string type;
  std::vector<unsigned char> value;
  bool written = false;      // false until a value arrived: "null data"
};

// What `points` cost the point bytes budget: pointCost (budgets.h) of each.
inline std::uint64_t pointsCost(const std::map<std::string, Point>& points) {
  std::uint64_t total = 0;
  for (const auto& entry : points) total += pointCost(entry.first.size(), entry.second.value.size());
  return total;
}

// How many sizes of many-point partial writes a realm keeps for observers: the newest.
constexpr std::size_t kKeptBatchSizes = 1024;

struct PointTable {
  std::mutex mutex;
  std::map<std::string, Point> points;                            // GUARDED_BY(mutex)
  unsigned long published = 0;                                    // GUARDED_BY(mutex)
  unsigned long unpublished = 0;                                  // GUARDED_BY(mutex)
  std::deque<unsigned long> batchSizes;                           // GUARDED_BY(mutex): the newest kKeptBatchSizes
};

struct RealmState {
  std::string name;
  PointTable points;
  PortTable ports;
  // Held while a snapshot file of this realm is written or read, so that two snapshots of the
  // realm do not interleave; taken before (never inside) a table's mutex.
  std::mutex snapshotMutex;
  std::string pointsFile;  // GUARDED_BY(snapshotMutex): the last data point snapshot file made
  std::string portsFile;   // GUARDED_BY(snapshotMutex): the last port snapshot file made
  // Since when the host has found the realm holding nothing; the epoch while it holds something.
  std::chrono::steady_clock::time_point idleSince;  // GUARDED_BY(the host's mutex)
};

}  // namespace tarn
