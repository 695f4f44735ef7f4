// The delivery protocol's bookkeeping: tags, and the settlements each connection still owes its
// server (see kxDeliveries.h).
#include "ostrel/api/middleware/kxDeliveries.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <tuple>
#include <vector>

#include "tarn/client/directory.h"
#include "tarn/client/remote_call.h"

namespace {

using Tag = CORBA::ULongLong;
using Key = std::tuple<std::string, std::string, unsigned int>;  // server, realm, handle

// Settled tags the server may not have heard of yet.
struct Owed {
  std::vector<Tag> acks;
  std::vector<Tag> released;
};

class Ledger {
 public:
  void owe(const Key& key, Tag tag, bool acknowledged) {
    std::lock_guard<std::mutex> hold(mutex_);
    Owed& owed = owed_[key];
    (acknowledged ? owed.acks : owed.released).push_back(tag);
  }
  void carry(const Key& key, kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    fill(acks, it->second.acks);
    fill(released, it->second.released);
  }
  void carried(const Key& key, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) {
    if (acks.length() == 0 && released.length() == 0) return;
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    drop(it->second.acks, acks);
    drop(it->second.released, released);
    if (it->second.acks.empty() && it->second.released.empty()) owed_.erase(it);
  }
  void forget(const Key& key, kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    fill(acks, it->second.acks);
    fill(released, it->second.released);
    owed_.erase(it);
  }

 private:
  static void fill(kxTarn::TAG_LIST& list, const std::vector<Tag>& tags) {
    list.length(static_cast<CORBA::ULong>(tags.size()));
    std::copy(tags.begin(), tags.end(), list.get_buffer());
  }
  static void drop(std::vector<Tag>& tags, const kxTarn::TAG_LIST& gone) {
    const Tag* begin = gone.get_buffer();
    const Tag* end = begin + gone.length();
    tags.erase(std::remove_if(tags.begin(), tags.end(), [&](Tag tag) { return std::find(begin, end, tag) != end; }),
               tags.end());
  }

  std::mutex mutex_;
  std::map<Key, Owed> owed_;  // GUARDED_BY(mutex_)
};

Ledger& ledger() {
  static Ledger* kept = new Ledger();  // lives until exit; threads may still settle
  return *kept;
}

// Tags start at a random number, so that processes sharing a connection do not meet.
Tag nextTag() {
  static std::atomic<Tag> next{[] {
    std::random_device seed;
    return (Tag(seed()) << 32 | seed()) & ~(Tag(1) << 63) | 1;
  }()};
  return next.fetch_add(1, std::memory_order_relaxed);
}

Key keyOf(const char* server, const char* realm, unsigned int handle) {
  std::string name = server && *server ? server : tarn::Directory::get().serverAt("own");
  return Key(std::move(name), realm ? realm : "", handle);
}

}  // namespace

kxDelivery::kxDelivery(const char* server, const char* realm, unsigned int handle)
    : server_(std::get<0>(keyOf(server, realm, handle))), realm_(realm ? realm : ""), handle_(handle),
      tag_(nextTag()) {}

kxDelivery::~kxDelivery() {
  if (!settled_) settle(false);
}

void kxDelivery::carry(kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) const {
  ledger().carry(Key(server_, realm_, handle_), acks, released);
}

void kxDelivery::carried(const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) const {
  ledger().carried(Key(server_, realm_, handle_), acks, released);
}

void kxDelivery::delivered() { settle(true); }

void kxDelivery::settle(bool acknowledged) {
  settled_ = true;
  const Key key(server_, realm_, handle_);
  ledger().owe(key, tag_, acknowledged);
  if (tarn::clientEnded()) return;  // the server puts it back once the connection is idle
  kxTarn::TAG_LIST acks, released;
  ledger().carry(key, acks, released);
  tarn::callPorts(server_.c_str(), realm_.c_str(), [&](kxTarn::Port_Factory_ptr ports) {
    ports->settle(handle_, acks, released);
    return tarn::kOk;
  });
}

void kxDeliveries::closing(const char* server, const char* realm, unsigned int handle, kxTarn::TAG_LIST& acks,
                           kxTarn::TAG_LIST& released) {
  ledger().forget(keyOf(server, realm, handle), acks, released);
}
