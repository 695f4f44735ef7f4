// What one tarnd lets its clients make it hold, and the counters that keep it there.
//
// Every resource a client can make the server hold has a budget: the bytes queued in all ports
// and boxes (messages and replies), the number of ports, of boxes, of realms and of port
// connections, the size of the largest box (events), the open snapshot file readers (in all
// and per client process), the contender registrations, the data points (count, and bytes of
// names and values), the event codes of one box, and, for tarnd's ORB, the largest request and
// the network connections (connection_gate.h). Past a count budget a call
// answers kOverBudget, past the queued bytes kBoxFull; either way nothing changed and every
// other client is served as before.
// Zero in a budget means no limit. The defaults keep a server under attack within a few hundred
// MiB; tarnd's flags change them (tarnd --help).
//
// BudgetCounter is one shared count with its limit: take() reserves before the resource is made,
// give() returns it when the resource goes. Lock-free; any thread may call them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace tarn {

struct Budgets {
  std::uint64_t queuedBytes = 256ull << 20;  // bytes queued in all ports and boxes
  std::size_t ports = 10000;
  std::size_t boxes = 10000;
  std::size_t realms = 1000;                 // the default realm included
  std::size_t connections = 10000;           // port and box connections
  std::size_t connectionsPerClient = 1000;   // ... held by one client process
  std::size_t boxSize = 100000;              // events one box may be made to hold
  std::size_t codesPerBox = 256;             // event codes one box takes
  std::size_t points = 1000000;              // data points, in all realms
  std::uint64_t pointBytes = 256ull << 20;   // their names and values, kPointCost more per point
  std::uint64_t requestBytes = 64ull << 20;  // the largest request (and answer) the ORB carries
  std::size_t tcpConnections = 2048;         // network connections open at once (ConnectionGate)
  std::size_t tcpPerHost = 1024;             // ... from one client host
  std::size_t fileReaders = 256;             // open snapshot file readers in all
  std::size_t fileReadersPerClient = 16;     // ... opened by one client process
  std::size_t contenders = 10000;            // contender registrations, in all realms
};

// The longest name of a data point, port, box or realm, and of a client's process, in bytes: a longer one is refused with kBadArgument when it would be kept, and simply not found
// by a look-up. Not a budget (no flag): a name is a name, and 4 KiB is more than any has needed.
constexpr std::size_t kMaxNameBytes = 4096;
inline bool nameTooLong(const char* name) { return name && std::strlen(name) > kMaxNameBytes; }
inline bool nameTooLong(const std::string& name) { return name.size() > kMaxNameBytes; }

// What one data point costs the point bytes budget beyond its name and value: about what the
// table's node, the strings' heads and the allocator's rounding take.
constexpr std::uint64_t kPointCost = 128;
inline std::uint64_t pointCost(std::size_t nameBytes, std::size_t valueBytes) {
  return kPointCost + nameBytes + valueBytes;
}

class BudgetCounter {
 public:
  explicit BudgetCounter(std::uint64_t limit = 0) : limit_(limit) {}
  BudgetCounter(const BudgetCounter&) = delete;
  BudgetCounter& operator=(const BudgetCounter&) = delete;

  void setLimit(std::uint64_t limit) { limit_ = limit; }
  // Reserves `amount`; false (and nothing reserved) when that would pass the limit.
  bool take(std::uint64_t amount = 1) {
    std::uint64_t now = used_.load(std::memory_order_relaxed);
    do {
      if (limit_ != 0 && (amount > limit_ || now > limit_ - amount)) return false;
    } while (!used_.compare_exchange_weak(now, now + amount, std::memory_order_relaxed));
    return true;
  }
  // Always succeeds: for what arrives from the journal or a snapshot, which was within budget once.
  void force(std::uint64_t amount) { used_.fetch_add(amount, std::memory_order_relaxed); }
  void give(std::uint64_t amount = 1) { used_.fetch_sub(amount, std::memory_order_relaxed); }
  std::uint64_t used() const { return used_.load(std::memory_order_relaxed); }

 private:
  std::uint64_t limit_;
  std::atomic<std::uint64_t> used_{0};
};

// One count per client, each with the same limit: take() refuses past it. Thread-safe.
class PerClientCounter {
 public:
  explicit PerClientCounter(std::uint64_t limit) : limit_(limit) {}
  bool take(const std::string& client) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::uint64_t& used = used_[client];
    if (limit_ != 0 && used >= limit_) return false;
    ++used;
    return true;
  }
  void give(const std::string& client) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = used_.find(client);
    if (it != used_.end() && --it->second == 0) used_.erase(it);
  }

 private:
  const std::uint64_t limit_;
  std::mutex mutex_;
  std::map<std::string, std::uint64_t> used_;  // GUARDED_BY(mutex_); clients holding none are not kept
};

// The counters of one server host, shared by all its realms.
struct BudgetBook {
  explicit BudgetBook(const Budgets& budgets)
      : limits(budgets), queuedBytes(budgets.queuedBytes), ports(budgets.ports), boxes(budgets.boxes),
        realms(budgets.realms), connections(budgets.connections),
        clientConnections(budgets.connectionsPerClient), contenders(budgets.contenders) {}
  const Budgets limits;
  BudgetCounter points{limits.points}, pointBytes{limits.pointBytes};  // data points and their cost
  BudgetCounter queuedBytes, ports, boxes, realms, connections;
  PerClientCounter clientConnections;
  BudgetCounter contenders;
};

}  // namespace tarn
