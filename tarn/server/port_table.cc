#include "tarn/server/port_table.h"

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "tarn/client/codes.h"
#include "tarn/server/file_io.h"

namespace tarn {
namespace {

// Handles are unique in the process. The start moves with the clock so that a handle kept
// across a restart of tarnd is unlikely to name somebody else's new connection.
unsigned nextHandle() {
  static std::atomic<unsigned> next{1u + static_cast<unsigned>(std::time(nullptr) % 100000) * 1000u};
  unsigned handle = next++;
  if (handle == 0) handle = next++;
  return handle;
}

unsigned idleLimitFromEnvironment() {
  const char* text = std::getenv("TARN_IDLE_CONNECTION_S");
  const long seconds = text && *text ? std::atol(text) : 0;
  return seconds > 0 ? static_cast<unsigned>(seconds) : kDefaultIdleSeconds;
}

}  // namespace

PortTable::PortTable() : idleSeconds_(idleLimitFromEnvironment()) {}

int PortTable::create(const std::string& name, int kind, int size) {
  if (name.empty() || (kind != kPortKind && kind != kBoxKind)) return kBadArgument;
  if (kind == kBoxKind && size <= 0) return kBadArgument;
  std::lock_guard<std::mutex> hold(mutex_);
  if (channels_.count(name)) return kAlreadyExists;
  auto channel = std::make_shared<Channel>();
  channel->kind = kind;
  channel->capacity = kind == kBoxKind ? static_cast<std::size_t>(size) : kPortCapacity;
  channels_[name] = channel;
  return kOk;
}

int PortTable::setPersistent(const std::string& name, bool persistent) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = channels_.find(name);
  if (it == channels_.end()) return kNoSuchObject;
  it->second->persistent = persistent;
  return kOk;
}

PortTable::Channel* PortTable::boxLocked(const std::string& name) {
  auto it = channels_.find(name);
  return it != channels_.end() && it->second->kind == kBoxKind ? it->second.get() : nullptr;
}

int PortTable::deleteBox(const std::string& name) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* box = boxLocked(name);
  if (!box) return kNoSuchObject;
  box->deleted = true;
  box->queue.clear();
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.channel.get() == box && it->second.waiters == 0)
      it = connections_.erase(it);
    else
      ++it;
  }
  channels_.erase(name);
  changed_.notify_all();
  return kOk;
}

int PortTable::addCode(const std::string& box, int code) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* channel = boxLocked(box);
  if (!channel) return kNoSuchObject;
  channel->codes.insert(code);
  return kOk;
}

int PortTable::clear(const std::string& box) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* channel = boxLocked(box);
  if (!channel) return kNoSuchObject;
  channel->queue.clear();
  return kOk;
}

int PortTable::count(const std::string& box, unsigned& count) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* channel = boxLocked(box);
  if (!channel) return kNoSuchObject;
  count = static_cast<unsigned>(channel->queue.size());
  return kOk;
}

std::vector<std::string> PortTable::channelNames() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<std::string> names;
  for (const auto& channel : channels_) names.push_back(channel.first);
  return names;
}

int PortTable::connect(const std::string& name, int direction, const std::string& process, unsigned& handle) {
  if (direction != kSendDirection && direction != kReceiveDirection) return kBadArgument;
  std::lock_guard<std::mutex> hold(mutex_);
  reclaimIdleLocked();
  auto it = channels_.find(name);
  if (it == channels_.end()) return kNoSuchObject;
  Connection connection;
  connection.channel = it->second;
  connection.channelName = name;
  connection.direction = direction;
  connection.process = process;
  connection.lastUse = Clock::now();
  handle = nextHandle();
  connections_.emplace(handle, std::move(connection));
  return kOk;
}

int PortTable::disconnect(unsigned handle) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (connections_.erase(handle) == 0) return kBadHandle;
  changed_.notify_all();
  return kOk;
}

void PortTable::reclaimIdleLocked() {
  const auto limit = Clock::now() - std::chrono::seconds(idleSeconds_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.waiters == 0 && it->second.lastUse < limit)
      it = connections_.erase(it);
    else
      ++it;
  }
}

std::vector<ConnectionRow> PortTable::connections() {
  std::lock_guard<std::mutex> hold(mutex_);
  reclaimIdleLocked();
  const auto now = Clock::now();
  std::vector<ConnectionRow> rows;
  for (const auto& entry : connections_) {
    const Connection& c = entry.second;
    const auto idle = std::chrono::duration_cast<std::chrono::seconds>(now - c.lastUse).count();
    rows.push_back({entry.first, c.channelName, c.direction, c.process, c.waiters ? 0u : static_cast<unsigned>(idle),
                    idleSeconds_});
  }
  return rows;
}

int PortTable::sendEvent(const std::string& box, SharedBytes event) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* channel = boxLocked(box);
  if (!channel) return kNoSuchObject;
  if (channel->queue.size() >= channel->capacity) return kBoxFull;
  channel->queue.push_back({std::move(event), 0});
  changed_.notify_all();
  return kOk;
}

int PortTable::declare(int code, const std::vector<SharedBytes>& events) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Channel*> targets;
  for (const auto& entry : channels_) {
    Channel* channel = entry.second.get();
    if (channel->kind != kBoxKind || !channel->codes.count(code)) continue;
    if (channel->capacity - channel->queue.size() < events.size()) return kBoxFull;
    targets.push_back(channel);
  }
  for (Channel* channel : targets)
    for (const SharedBytes& event : events) channel->queue.push_back({event, 0});
  if (!targets.empty() && !events.empty()) changed_.notify_all();
  return kOk;
}

PortTable::Connection* PortTable::connectionLocked(unsigned handle, int direction, int& rc) {
  auto it = connections_.find(handle);
  if (it == connections_.end() || it->second.direction != direction) {
    rc = kBadHandle;
    return nullptr;
  }
  if (it->second.channel->deleted) {
    rc = kNoSuchObject;
    return nullptr;
  }
  it->second.lastUse = Clock::now();
  rc = kOk;
  return &it->second;
}

int PortTable::sendPacket(unsigned handle, SharedBytes packet, bool front) {
  std::lock_guard<std::mutex> hold(mutex_);
  int rc = kOk;
  Connection* connection = connectionLocked(handle, kSendDirection, rc);
  if (!connection) return rc;
  Channel& channel = *connection->channel;
  if (channel.queue.size() >= channel.capacity) return kBoxFull;
  Message message{std::move(packet), channel.kind == kPortKind ? handle : 0u};
  if (front)
    channel.queue.push_front(std::move(message));
  else
    channel.queue.push_back(std::move(message));
  changed_.notify_all();
  return kOk;
}

template <typename Ready>
int PortTable::waitFor(Lock& lock, unsigned handle, int direction, int timeoutMs, Ready ready) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (closing_) return kServerNotAnswering;
    int rc = kOk;
    Connection* connection = connectionLocked(handle, direction, rc);
    if (!connection) return rc;
    rc = ready(*connection);
    if (rc != kNothingReceived) return rc;
    if (timeoutMs == 0 || (timeoutMs > 0 && Clock::now() >= deadline)) return kNothingReceived;
    ++connection->waiters;  // an idle sweep leaves a connection with a waiter alone
    if (timeoutMs < 0)
      changed_.wait(lock);
    else
      changed_.wait_until(lock, deadline);
    // The connection may have been closed while we slept: look it up again.
    auto it = connections_.find(handle);
    if (it != connections_.end()) --it->second.waiters;
  }
}

int PortTable::receive(unsigned handle, std::size_t maxCount, std::size_t capacity, int timeoutMs,
                       std::vector<Message>& out) {
  if (maxCount == 0) return kBadArgument;
  Lock lock(mutex_);
  return waitFor(lock, handle, kReceiveDirection, timeoutMs, [&](Connection& connection) {
    std::deque<Message>& queue = connection.channel->queue;
    if (queue.empty()) return kNothingReceived;
    if (maxCount == 1 && queue.front().bytes->size() > capacity) return kBufferTooSmall;
    const std::size_t take = std::min(maxCount, queue.size());
    out.insert(out.end(), std::make_move_iterator(queue.begin()), std::make_move_iterator(queue.begin() + take));
    queue.erase(queue.begin(), queue.begin() + take);
    return kOk;
  });
}

int PortTable::reply(unsigned replyHandle, SharedBytes reply) {
  std::lock_guard<std::mutex> hold(mutex_);
  int rc = kOk;
  Connection* sender = connectionLocked(replyHandle, kSendDirection, rc);
  if (!sender) return rc;
  if (sender->replies.size() >= kPortCapacity) return kBoxFull;
  sender->replies.push_back(std::move(reply));
  changed_.notify_all();
  return kOk;
}

int PortTable::waitReply(unsigned handle, std::size_t capacity, int timeoutMs, SharedBytes& out) {
  Lock lock(mutex_);
  return waitFor(lock, handle, kSendDirection, timeoutMs, [&](Connection& connection) {
    if (connection.replies.empty()) return kNothingReceived;
    if (connection.replies.front()->size() > capacity) return kBufferTooSmall;
    out = std::move(connection.replies.front());
    connection.replies.pop_front();
    return kOk;
  });
}

std::string PortTable::image() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string out;
  putU32(out, static_cast<std::uint32_t>(channels_.size()));
  for (const auto& entry : channels_) {
    const Channel& channel = *entry.second;
    putBytes(out, entry.first.data(), entry.first.size());
    putU32(out, static_cast<std::uint32_t>(channel.kind));
    putU32(out, static_cast<std::uint32_t>(channel.capacity));
    out.push_back(channel.persistent ? 1 : 0);
    putU32(out, static_cast<std::uint32_t>(channel.codes.size()));
    for (int code : channel.codes) putU32(out, static_cast<std::uint32_t>(code));
    putU32(out, static_cast<std::uint32_t>(channel.queue.size()));
    for (const Message& message : channel.queue) putBytes(out, message.bytes->data(), message.bytes->size());
  }
  return out;
}

int PortTable::restore(const std::string& image) {
  ByteReader in(image.data(), image.size());
  std::map<std::string, std::shared_ptr<Channel>> loaded;
  std::uint32_t count = 0;
  if (!in.u32(count)) return kSnapshotDamaged;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    std::uint32_t kind = 0, capacity = 0, codes = 0, messages = 0;
    unsigned char persistent = 0;
    auto channel = std::make_shared<Channel>();
    if (!in.text(name) || !in.u32(kind) || !in.u32(capacity) || !in.byte(persistent) || !in.u32(codes))
      return kSnapshotDamaged;
    for (std::uint32_t k = 0; k < codes; ++k) {
      std::uint32_t code = 0;
      if (!in.u32(code)) return kSnapshotDamaged;
      channel->codes.insert(static_cast<int>(code));
    }
    if (!in.u32(messages)) return kSnapshotDamaged;
    for (std::uint32_t k = 0; k < messages; ++k) {
      std::string bytes;
      if (!in.text(bytes)) return kSnapshotDamaged;
      channel->queue.push_back(Message{std::make_shared<const Bytes>(bytes.begin(), bytes.end()), 0});
    }
    if (kind != kPortKind && kind != kBoxKind) return kSnapshotDamaged;
    channel->kind = static_cast<int>(kind);
    channel->capacity = capacity;
    channel->persistent = persistent != 0;
    loaded[name] = std::move(channel);
  }
  if (!in.done()) return kSnapshotDamaged;
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& entry : loaded) {
    std::shared_ptr<Channel>& kept = channels_[entry.first];
    if (!kept) {
      kept = std::move(entry.second);
      continue;
    }
    // Connections hold the channel itself: change it in place.
    kept->kind = entry.second->kind;
    kept->capacity = entry.second->capacity;
    kept->persistent = entry.second->persistent;
    kept->codes = std::move(entry.second->codes);
    kept->queue = std::move(entry.second->queue);
  }
  changed_.notify_all();
  return kOk;
}

void PortTable::shutDown() {
  std::lock_guard<std::mutex> hold(mutex_);
  closing_ = true;
  changed_.notify_all();
}

}  // namespace tarn
