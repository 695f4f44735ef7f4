// The delivery protocol's bookkeeping: tags, and the settlements each connection still owes its
// server (see kxDeliveries.h).
//
// An acknowledgement rides with the next call on its connection (a receive or the close); one
// that no call has carried for kFlushMs goes on its own, as a oneway message, from the flusher
// thread. A release goes at once, so that what it puts back can be taken by others.
#include "ostrel/api/middleware/kxDeliveries.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "tarn/client/directory.h"
#include "tarn/client/remote_call.h"

namespace {

using Tag = CORBA::ULongLong;
using Key = std::tuple<unsigned int, std::string, std::string>;  // handle, server, realm: the handle tells most apart
using Clock = std::chrono::steady_clock;

constexpr auto kFlushMs = std::chrono::milliseconds(20);

// Settled tags the server may not have heard of yet.
struct Owed {
  std::vector<Tag> acks;
  std::vector<Tag> released;
  bool unsent = false;        // settled since the flusher last sent this connection's
  bool urgent = false;        // ... and one of them is a release
  Clock::time_point since;    // when the oldest unsent one was settled
};

void fill(kxTarn::TAG_LIST& list, const std::vector<Tag>& tags) {
  list.length(static_cast<CORBA::ULong>(tags.size()));
  std::copy(tags.begin(), tags.end(), list.get_buffer());
}

void drop(std::vector<Tag>& tags, const kxTarn::TAG_LIST& gone) {
  const Tag* begin = gone.get_buffer();
  const Tag* end = begin + gone.length();
  tags.erase(std::remove_if(tags.begin(), tags.end(), [&](Tag tag) { return std::find(begin, end, tag) != end; }),
             tags.end());
}

// Sends settlements of one connection on their own.
void sendSettlements(const Key& key, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) {
  tarn::callPorts(std::get<1>(key).c_str(), std::get<2>(key).c_str(), [&](kxTarn::Port_Factory_ptr ports) {
    ports->settle(std::get<0>(key), acks, released);
    return tarn::kOk;
  });
}

class Ledger {
 public:
  void owe(const Key& key, Tag tag, bool acknowledged) {
    std::lock_guard<std::mutex> hold(mutex_);
    Owed& owed = owed_[key];
    (acknowledged ? owed.acks : owed.released).push_back(tag);
    if (!owed.unsent) owed.since = Clock::now();
    owed.unsent = true;
    owed.urgent = owed.urgent || !acknowledged;
    if (!flusher_.joinable() && !stopped_) flusher_ = std::thread([this] { flushLoop(); });
    if (!acknowledged) wake_.notify_one();
  }
  void carry(const Key& key, kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) { take(key, acks, released, false); }
  void carried(const Key& key, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) {
    if (acks.length() == 0 && released.length() == 0) return;
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    drop(it->second.acks, acks);
    drop(it->second.released, released);
    if (it->second.acks.empty() && it->second.released.empty()) owed_.erase(it);
  }
  void forget(const Key& key, kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) { take(key, acks, released, true); }
  // Sends what is unsent one last time and ends the flusher: before the ORB goes.
  void stop() {
    std::thread ending;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopped_ = true;
      ending.swap(flusher_);
    }
    wake_.notify_one();
    if (ending.joinable()) ending.join();
  }

 private:
  // What connection `key` owes, into the lists; with `erase` it owes nothing any more.
  void take(const Key& key, kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released, bool erase) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    fill(acks, it->second.acks);
    fill(released, it->second.released);
    if (erase) owed_.erase(it);
  }

  void flushLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (bool last = false; !last;) {
      last = stopped_;
      if (!last) wake_.wait_for(lock, kFlushMs);
      last = last || stopped_;
      std::vector<std::tuple<Key, kxTarn::TAG_LIST, kxTarn::TAG_LIST>> due;
      const Clock::time_point now = Clock::now();
      for (auto& entry : owed_) {
        Owed& owed = entry.second;
        if (!owed.unsent || !(last || owed.urgent || now - owed.since >= kFlushMs)) continue;
        due.emplace_back(entry.first, kxTarn::TAG_LIST(), kxTarn::TAG_LIST());
        fill(std::get<1>(due.back()), owed.acks);
        fill(std::get<2>(due.back()), owed.released);
        owed.unsent = owed.urgent = false;
      }
      lock.unlock();
      for (const auto& settlements : due)
        sendSettlements(std::get<0>(settlements), std::get<1>(settlements), std::get<2>(settlements));
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<Key, Owed> owed_;  // GUARDED_BY(mutex_)
  std::thread flusher_;       // GUARDED_BY(mutex_): started with the first settlement
  bool stopped_ = false;      // GUARDED_BY(mutex_)
};

Ledger& ledger() {
  static Ledger* kept = new Ledger();  // lives until exit; threads may still settle
  return *kept;
}

// Tags start at a random number, so that processes sharing a connection do not meet. The clock
// and an address of this run join the device's numbers, for a device that is not random.
Tag nextTag() {
  static std::atomic<Tag> next{[] {
    std::random_device seed;
    Tag start = Tag(seed()) << 32 | seed();
    start ^= static_cast<Tag>(std::chrono::high_resolution_clock::now().time_since_epoch().count()) * 0x9e3779b97f4a7c15ull;
    start ^= static_cast<Tag>(reinterpret_cast<std::uintptr_t>(&seed)) << 17;
    return (start & ~(Tag(1) << 63)) | 1;
  }()};
  return next.fetch_add(1, std::memory_order_relaxed);
}

std::string serverName(const char* server) {
  return server && *server ? server : tarn::Directory::get().serverAt("own");
}

}  // namespace

kxDelivery::kxDelivery(const char* server, const char* realm, unsigned int handle)
    : server_(serverName(server)), realm_(realm ? realm : ""), handle_(handle), tag_(nextTag()) {}

kxDelivery::~kxDelivery() {
  if (mayHold_ && !settled_) settle(false);
}

void kxDelivery::carry(kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) const {
  ledger().carry(Key(handle_, server_, realm_), acks, released);
}

void kxDelivery::carried(const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) const {
  ledger().carried(Key(handle_, server_, realm_), acks, released);
}

void kxDelivery::delivered() { settle(true); }

void kxDelivery::settle(bool acknowledged) {
  settled_ = true;
  ledger().owe(Key(handle_, server_, realm_), tag_, acknowledged);
}

void kxDeliveries::closing(const char* server, const char* realm, unsigned int handle, kxTarn::TAG_LIST& acks,
                           kxTarn::TAG_LIST& released) {
  ledger().forget(Key(handle, serverName(server), realm ? realm : ""), acks, released);
}

void tarn::stopDeliveries() { ledger().stop(); }
