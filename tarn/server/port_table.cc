#include "tarn/server/port_table.h"

#include <cstdlib>

#include "tarn/client/codes.h"
#include "tarn/server/file_io.h"
#include "tarn/server/handles.h"
#include "tarn/server/journal.h"

namespace tarn {
namespace {

unsigned idleLimitFromEnvironment() {
  const char* text = std::getenv("TARN_IDLE_CONNECTION_S");
  const long seconds = text && *text ? std::atol(text) : 0;
  return seconds > 0 ? static_cast<unsigned>(seconds) : kDefaultIdleSeconds;
}

JournalRecord channelRecord(JournalRecord::Kind kind, const std::string& name) {
  JournalRecord record;
  record.kind = kind;
  record.name = name;
  return record;
}

JournalRecord queuedRecord(const std::string& name, std::vector<SharedBytes> messages, bool front) {
  JournalRecord record = channelRecord(JournalRecord::kQueued, name);
  record.channel.messages = std::move(messages);
  record.channel.front = front;
  return record;
}

// What a queued message costs the queued-bytes budget: its bytes and its place in the queue.
std::uint64_t cost(const SharedBytes& bytes) { return bytes->size() + kMessageOverhead; }

std::uint64_t cost(const std::vector<Message>& messages) {
  std::uint64_t total = 0;
  for (const Message& message : messages) total += cost(message.bytes);
  return total;
}

// How many settled tags a connection remembers, so that a late copy of a settled receive takes
// nothing: far more than the receives one process has in flight on one connection.
constexpr std::size_t kSettledKept = 1024;

// What a wait answers for a receive whose tag was settled: nothing, at once.
constexpr int kSettledTag = -1;

std::uint64_t cost(const std::deque<Message>& queue, std::size_t count) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count && i < queue.size(); ++i) total += cost(queue[i].bytes);
  return total;
}

BudgetBook& unlimited() {
  static BudgetBook book([] {
    Budgets none;
    none.queuedBytes = 0;
    none.ports = none.boxes = none.realms = none.connections = none.connectionsPerClient = 0;
    none.boxSize = none.fileReaders = none.fileReadersPerClient = 0;
    none.codesPerBox = 0;
    return none;
  }());
  return book;
}

}  // namespace

PortTable::PortTable() : idleSeconds_(idleLimitFromEnvironment()), budget_(&unlimited()) {}

void PortTable::useBudget(BudgetBook& budget) { budget_ = &budget; }

BudgetCounter& PortTable::kindCounter(int kind) { return kind == kPortKind ? budget_->ports : budget_->boxes; }

std::map<unsigned, PortTable::Connection>::iterator PortTable::dropConnectionLocked(
    std::map<unsigned, Connection>::iterator it) {
  Connection& connection = it->second;
  budget_->connections.give();
  budget_->clientConnections.give(connection.process);
  for (auto& entry : connection.inFlight) putBackLocked(connection, *entry.second);  // replies among them
  for (const Message& reply : connection.replies) budget_->queuedBytes.give(cost(reply.bytes));
  return connections_.erase(it);
}

void PortTable::putBackLocked(Connection& connection, const std::vector<Message>& messages) {
  if (messages.empty()) return;
  if (connection.direction == kSendDirection) {
    connection.replies.insert(connection.replies.begin(), messages.begin(), messages.end());
  } else if (connection.channel->deleted) {
    budget_->queuedBytes.give(cost(messages));
  } else {
    awaitRepliesLocked(messages, 0, -1);
    std::deque<Message>& queue = connection.channel->queue;
    queue.insert(queue.begin(), messages.begin(), messages.end());
  }
  changed_.notify_all();
}

std::uint64_t PortTable::doneLocked(Connection& connection, const std::vector<Message>& messages) {
  budget_->queuedBytes.give(cost(messages));
  Channel& channel = *connection.channel;
  if (connection.direction != kReceiveDirection || !channel.persistent || channel.deleted || messages.empty())
    return 0;
  JournalRecord acknowledged = channelRecord(JournalRecord::kAcknowledged, connection.channelName);
  for (const Message& message : messages) acknowledged.channel.numbers.push_back(message.number);
  return journalLocked(channel, acknowledged);
}

std::uint64_t PortTable::settleLocked(Connection& connection, const std::vector<Tag>& acks,
                                      const std::vector<Tag>& released, std::vector<Batch>& freeLater) {
  std::uint64_t ticket = 0;
  auto remember = [&connection](Tag tag) {
    if (!connection.settled.insert(tag).second) return;
    connection.settledOrder.push_back(tag);
    if (connection.settledOrder.size() <= kSettledKept) return;
    connection.settled.erase(connection.settledOrder.front());
    connection.settledOrder.pop_front();
  };
  for (Tag tag : acks) {
    auto it = connection.inFlight.find(tag);
    if (it != connection.inFlight.end()) {
      if (std::uint64_t t = doneLocked(connection, *it->second)) ticket = t;
      freeLater.push_back(std::move(it->second));
      connection.inFlight.erase(it);
    }
    remember(tag);
  }
  for (Tag tag : released) {
    auto it = connection.inFlight.find(tag);
    if (it != connection.inFlight.end()) {
      putBackLocked(connection, *it->second);
      freeLater.push_back(std::move(it->second));
      connection.inFlight.erase(it);
    }
    remember(tag);
  }
  return ticket;
}

int PortTable::create(const std::string& name, int kind, int size) {
  if (name.empty() || (kind != kPortKind && kind != kBoxKind)) return kBadArgument;
  if (kind == kBoxKind && size <= 0) return kBadArgument;
  if (kind == kBoxKind && budget_->limits.boxSize && static_cast<std::size_t>(size) > budget_->limits.boxSize)
    return kOverBudget;
  std::lock_guard<std::mutex> hold(mutex_);
  if (channels_.count(name)) return kAlreadyExists;
  if (!kindCounter(kind).take()) return kOverBudget;
  auto channel = std::make_shared<Channel>();
  channel->kind = kind;
  channel->capacity = kind == kBoxKind ? static_cast<std::size_t>(size) : kPortCapacity;
  channels_[name] = channel;
  return kOk;
}

int PortTable::setPersistent(const std::string& name, bool persistent) {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = channels_.find(name);
    if (it == channels_.end()) return kNoSuchObject;
    Channel& channel = *it->second;
    if (channel.persistent == persistent) return kOk;
    if (persistent) {
      channel.persistent = true;
      ticket = journalWholeLocked(name, channel);
    } else {
      JournalRecord forgotten = channelRecord(JournalRecord::kChannelForgotten, name);
      ticket = journalLocked(channel, forgotten);
      channel.persistent = false;
    }
  }
  return kept(kOk, ticket);
}

PortTable::Channel* PortTable::boxLocked(const std::string& name) {
  auto it = channels_.find(name);
  return it != channels_.end() && it->second->kind == kBoxKind ? it->second.get() : nullptr;
}

int PortTable::deleteBox(const std::string& name) {
  std::unique_lock<std::mutex> hold(mutex_);
  Channel* box = boxLocked(name);
  if (!box) return kNoSuchObject;
  JournalRecord forgotten = channelRecord(JournalRecord::kChannelForgotten, name);
  const std::uint64_t ticket = journalLocked(*box, forgotten);
  box->deleted = true;
  budget_->queuedBytes.give(cost(box->queue, box->queue.size()));
  box->queue.clear();
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.channel.get() == box && it->second.waiters == 0)
      it = dropConnectionLocked(it);
    else
      ++it;
  }
  budget_->boxes.give();
  channels_.erase(name);
  changed_.notify_all();
  hold.unlock();
  return kept(kOk, ticket);
}

int PortTable::addCode(const std::string& box, int code) {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Channel* channel = boxLocked(box);
    if (!channel) return kNoSuchObject;
    if (channel->codes.count(code)) return kOk;
    if (budget_->limits.codesPerBox && channel->codes.size() >= budget_->limits.codesPerBox) return kOverBudget;
    channel->codes.insert(code);
    // The record carries the one code, so adding a code costs the same however many the box has.
    if (channel->persistent) {
      JournalRecord added = channelRecord(JournalRecord::kCodeAdded, box);
      added.channel.codes.push_back(code);
      ticket = journalLocked(*channel, added);
    }
  }
  return kept(kOk, ticket);
}

int PortTable::clear(const std::string& box) {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Channel* channel = boxLocked(box);
    if (!channel) return kNoSuchObject;
    budget_->queuedBytes.give(cost(channel->queue, channel->queue.size()));
    channel->queue.clear();
    JournalRecord cleared = channelRecord(JournalRecord::kCleared, box);
    ticket = journalLocked(*channel, cleared);
  }
  return kept(kOk, ticket);
}

int PortTable::count(const std::string& box, unsigned& count) {
  std::lock_guard<std::mutex> hold(mutex_);
  Channel* channel = boxLocked(box);
  if (!channel) return kNoSuchObject;
  count = static_cast<unsigned>(channel->queue.size());
  return kOk;
}

int PortTable::peek(const std::string& name, int kind, std::size_t from, std::size_t maxCount,
                    std::size_t answerBytes, unsigned& held, std::vector<SharedBytes>& out) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = channels_.find(name);
  if (it == channels_.end() || it->second->kind != kind) return kNoSuchObject;
  const std::deque<Message>& queue = it->second->queue;
  held = static_cast<unsigned>(queue.size());
  std::size_t bytes = 0;
  for (std::size_t i = from; i < queue.size() && out.size() < maxCount; ++i) {
    bytes += queue[i].bytes->size() + kMessageOverhead;
    if (!out.empty() && bytes > answerBytes) break;
    out.push_back(queue[i].bytes);
  }
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
  auto same = connections_.find(handle);
  if (direction == kSendDirection && same != connections_.end() && same->second.direction == kSendDirection &&
      same->second.channel == it->second && same->second.process == process) {
    same->second.lastUse = Clock::now();
    return kOk;  // the caller's own send connection to this port, asked for again
  }
  if (!budget_->clientConnections.take(process)) return kOverBudget;
  if (!budget_->connections.take()) {
    budget_->clientConnections.give(process);
    return kOverBudget;
  }
  Connection connection;
  connection.channel = it->second;
  connection.channelName = name;
  connection.direction = direction;
  connection.process = process;
  connection.lastUse = Clock::now();
  do handle = mintHandle();
  while (connections_.count(handle));
  connections_.emplace(handle, std::move(connection));
  return kOk;
}

int PortTable::disconnect(unsigned handle) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = connections_.find(handle);
  if (it == connections_.end()) return kBadHandle;
  dropConnectionLocked(it);
  changed_.notify_all();
  return kOk;
}

void PortTable::reclaimIdleLocked() {
  const auto limit = Clock::now() - std::chrono::seconds(idleSeconds_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.waiters == 0 && it->second.lastUse < limit)
      it = dropConnectionLocked(it);
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
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Channel* channel = boxLocked(box);
    if (!channel) return kNoSuchObject;
    if (channel->queue.size() >= channel->capacity || !budget_->queuedBytes.take(cost(event))) return kBoxFull;
    channel->queue.push_back({event, 0, channel->numbered++});
    if (channel->persistent) {
      JournalRecord queued = queuedRecord(box, {std::move(event)}, false);
      ticket = journalLocked(*channel, queued);
    }
    changed_.notify_all();
  }
  return kept(kOk, ticket);
}

int PortTable::declare(int code, const std::vector<SharedBytes>& events) {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::pair<const std::string*, Channel*>> targets;
    for (const auto& entry : channels_) {
      Channel* channel = entry.second.get();
      if (channel->kind != kBoxKind || !channel->codes.count(code)) continue;
      if (channel->capacity - channel->queue.size() < events.size()) return kBoxFull;
      targets.emplace_back(&entry.first, channel);
    }
    std::uint64_t total = 0;
    for (const SharedBytes& event : events) total += cost(event);
    if (!budget_->queuedBytes.take(total * targets.size())) return kBoxFull;
    Journal::Unit unit(journal_);  // every box or none
    for (const auto& target : targets) {
      for (const SharedBytes& event : events) target.second->queue.push_back({event, 0, target.second->numbered++});
      if (target.second->persistent && !events.empty()) {
        JournalRecord queued = queuedRecord(*target.first, events, false);
        journalLocked(*target.second, queued);
      }
    }
    ticket = unit.commit();
    if (!targets.empty() && !events.empty()) changed_.notify_all();
  }
  return kept(kOk, ticket);
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
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    int rc = kOk;
    Connection* connection = connectionLocked(handle, kSendDirection, rc);
    if (!connection) return rc;
    Channel& channel = *connection->channel;
    if (channel.queue.size() >= channel.capacity || !budget_->queuedBytes.take(cost(packet))) return kBoxFull;
    Message message{packet, channel.kind == kPortKind ? handle : 0u, channel.numbered++};
    if (front)
      channel.queue.push_front(std::move(message));
    else
      channel.queue.push_back(std::move(message));
    if (channel.persistent) {
      JournalRecord queued = queuedRecord(connection->channelName, {std::move(packet)}, front);
      ticket = journalLocked(channel, queued);
    }
    changed_.notify_all();
  }
  return kept(kOk, ticket);
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

namespace {

// How a single message fits: kOk, kBufferTooSmall or kSizeMismatch.
int fits(const Bytes& bytes, const Fit& fit) {
  if (bytes.size() > fit.most) return kBufferTooSmall;
  return bytes.size() < fit.least ? kSizeMismatch : kOk;
}

// How many of the first `maxCount` messages of `queue` one answer takes, or a refusal code.
int countToTake(const std::deque<Message>& queue, std::size_t maxCount, const Fit& fit, bool batch,
                std::size_t& take) {
  constexpr std::size_t kPerMessage = 8;  // a value's length word and its alignment in the answer
  if (!batch) {
    take = 1;
    return fits(*queue.front().bytes, fit);
  }
  std::size_t bytes = 0;
  take = 0;
  for (const Message& message : queue) {
    if (take == maxCount) break;
    const std::size_t size = message.bytes->size();
    if (take > 0 && bytes + size + kPerMessage > fit.answerBytes) break;
    if (size < fit.least || size > fit.most) return kSizeMismatch;
    bytes += size + kPerMessage;
    ++take;
  }
  return kOk;
}

}  // namespace

void PortTable::awaitRepliesLocked(const std::vector<Message>& messages, std::size_t from, int delta) {
  for (std::size_t i = from; i < messages.size(); ++i) {
    if (messages[i].sender == 0) continue;
    auto it = connections_.find(messages[i].sender);
    if (it == connections_.end()) continue;
    std::size_t& awaited = it->second.awaited;
    awaited = delta > 0 ? awaited + 1 : (awaited ? awaited - 1 : 0);
  }
}

int PortTable::receive(unsigned handle, const Receipt& receipt, std::size_t maxCount, const Fit& fit, int timeoutMs,
                       std::vector<Message>& out) {
  Batch taken;
  const int rc = receive(handle, receipt, maxCount, fit, timeoutMs, taken);
  if (taken) out.insert(out.end(), taken->begin(), taken->end());
  return rc;
}

int PortTable::receive(unsigned handle, const Receipt& receipt, std::size_t maxCount, const Fit& fit, int timeoutMs,
                       Batch& out) {
  out.reset();
  if (maxCount == 0) return kBadArgument;
  std::vector<Batch> freeLater;  // freed after the lock is released
  std::uint64_t ticket = 0;
  Lock lock(mutex_);
  int found = kOk;
  const int direction = receipt.replies ? kSendDirection : kReceiveDirection;
  if (Connection* connection = connectionLocked(handle, direction, found))
    ticket = settleLocked(*connection, receipt.acks, receipt.released, freeLater);
  int rc = waitFor(lock, handle, direction, timeoutMs, [&](Connection& connection) {
    if (receipt.tag != 0) {
      auto again = connection.inFlight.find(receipt.tag);
      if (again != connection.inFlight.end()) {
        out = again->second;  // its first answer was lost on the way
        return kOk;
      }
      if (connection.settled.count(receipt.tag)) return kSettledTag;
    }
    std::deque<Message>& queue = receipt.replies ? connection.replies : connection.channel->queue;
    if (queue.empty()) return kNothingReceived;
    std::size_t take = 0;
    if (int refused = countToTake(queue, maxCount, fit, receipt.batch && !receipt.replies, take)) return refused;
    auto taken = std::make_shared<std::vector<Message>>(std::make_move_iterator(queue.begin()),
                                                        std::make_move_iterator(queue.begin() + take));
    queue.erase(queue.begin(), queue.begin() + take);
    if (!receipt.replies) awaitRepliesLocked(*taken, 0, +1);
    if (receipt.tag != 0)
      connection.inFlight[receipt.tag] = taken;
    else if (std::uint64_t t = doneLocked(connection, *taken))
      ticket = t;
    out = std::move(taken);
    return kOk;
  });
  if (rc == kSettledTag) rc = kNothingReceived;
  lock.unlock();
  if (kept(kOk, ticket) == kOk || receipt.tag != 0 || rc != kOk) return rc;
  // A take for good that is not on disk: hand the messages back rather than lose them.
  lock.lock();
  const Batch back = std::move(out);
  Connection* connection = connectionLocked(handle, direction, found);
  if (!connection) return kNotKept;
  for (const Message& message : *back) budget_->queuedBytes.force(cost(message.bytes));
  putBackLocked(*connection, *back);
  return kNotKept;
}

int PortTable::settle(unsigned handle, const std::vector<Tag>& acks, const std::vector<Tag>& released) {
  std::vector<Batch> freeLater;  // freed after the lock is released
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = connections_.find(handle);
    if (it == connections_.end()) return kBadHandle;
    it->second.lastUse = Clock::now();
    ticket = settleLocked(it->second, acks, released, freeLater);
  }
  return kept(kOk, ticket);
}

int PortTable::reply(unsigned replyHandle, SharedBytes reply) {
  std::lock_guard<std::mutex> hold(mutex_);
  int rc = kOk;
  Connection* sender = connectionLocked(replyHandle, kSendDirection, rc);
  if (!sender) return rc;
  if (sender->awaited == 0) return kNoRequest;
  if (sender->replies.size() >= kPortCapacity || !budget_->queuedBytes.take(cost(reply))) return kBoxFull;
  --sender->awaited;
  sender->replies.push_back({std::move(reply), 0, 0});
  changed_.notify_all();
  return kOk;
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
      channel->queue.push_back(
          Message{std::make_shared<const Bytes>(bytes.begin(), bytes.end()), 0, channel->numbered++});
    }
    if (kind != kPortKind && kind != kBoxKind) return kSnapshotDamaged;
    channel->kind = static_cast<int>(kind);
    channel->capacity = capacity;
    channel->persistent = persistent != 0;
    loaded[name] = std::move(channel);
  }
  if (!in.done()) return kSnapshotDamaged;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Journal::Unit unit(journal_);  // the whole load or nothing
    for (auto& entry : loaded) {
      std::shared_ptr<Channel>& held = channels_[entry.first];
      // A loaded file was within some server's budget once: it is taken whole, never cut.
      budget_->queuedBytes.force(cost(entry.second->queue, entry.second->queue.size()));
      if (!held) {
        kindCounter(entry.second->kind).force(1);
        held = std::move(entry.second);
      } else {
        budget_->queuedBytes.give(cost(held->queue, held->queue.size()));
        kindCounter(held->kind).give();
        kindCounter(entry.second->kind).force(1);
        if (held->persistent && !entry.second->persistent) {
          JournalRecord forgotten = channelRecord(JournalRecord::kChannelForgotten, entry.first);
          journalLocked(*held, forgotten);
        }
        // Connections hold the channel itself: change it in place.
        held->kind = entry.second->kind;
        held->capacity = entry.second->capacity;
        held->persistent = entry.second->persistent;
        held->codes = std::move(entry.second->codes);
        held->queue = std::move(entry.second->queue);
        held->numbered = entry.second->numbered;
      }
      if (!held->persistent) continue;
      journalWholeLocked(entry.first, *held);
    }
    ticket = unit.commit();
    changed_.notify_all();
  }
  return kept(kOk, ticket);
}

void PortTable::keepIn(Journal* journal, const std::string& realm) {
  std::lock_guard<std::mutex> hold(mutex_);
  journal_ = journal;
  realm_ = realm;
}

std::uint64_t PortTable::journalLocked(const Channel& channel, JournalRecord& record) {
  if (!journal_ || !channel.persistent) return 0;
  record.realm = realm_;
  return journal_->append(record);
}

JournalRecord PortTable::shapeRecord(const std::string& name, const Channel& channel) {
  JournalRecord shape = channelRecord(JournalRecord::kChannel, name);
  shape.channel.kind = channel.kind;
  shape.channel.capacity = static_cast<std::uint32_t>(channel.capacity);
  shape.channel.codes.assign(channel.codes.begin(), channel.codes.end());
  return shape;
}

std::vector<Message> PortTable::renumberLocked(Channel& channel) {
  std::vector<Message> kept;
  channel.numbered = 0;
  for (auto& entry : connections_) {
    if (entry.second.channel.get() != &channel || entry.second.direction != kReceiveDirection) continue;
    for (auto& flight : entry.second.inFlight)
      for (Message& message : *flight.second) {
        message.number = channel.numbered++;
        kept.push_back(message);
      }
  }
  for (Message& message : channel.queue) {
    message.number = channel.numbered++;
    kept.push_back(message);
  }
  return kept;
}

void PortTable::wholeRecordsLocked(const std::string& name, Channel& channel, std::vector<JournalRecord>& out) {
  out.push_back(shapeRecord(name, channel));
  out.push_back(channelRecord(JournalRecord::kCleared, name));
  const std::vector<Message> kept = renumberLocked(channel);
  if (kept.empty()) return;
  std::vector<SharedBytes> messages;
  messages.reserve(kept.size());
  for (const Message& message : kept) messages.push_back(message.bytes);
  out.push_back(queuedRecord(name, std::move(messages), false));
}

std::uint64_t PortTable::journalWholeLocked(const std::string& name, Channel& channel) {
  std::vector<JournalRecord> records;
  wholeRecordsLocked(name, channel, records);
  Journal::Unit unit(journal_);
  for (JournalRecord& record : records) journalLocked(channel, record);
  return unit.commit();
}

int PortTable::kept(int rc, std::uint64_t ticket) {
  if (ticket == 0 || journal_->sync(ticket)) return rc;
  return kNotKept;
}

void PortTable::keptRecordsLocked(std::vector<JournalRecord>& out) {
  for (const auto& entry : channels_) {
    if (!entry.second->persistent) continue;
    const std::size_t from = out.size();
    wholeRecordsLocked(entry.first, *entry.second, out);
    for (std::size_t i = from; i < out.size(); ++i) out[i].realm = realm_;
  }
}

void PortTable::replay(const JournalRecord& record) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::shared_ptr<Channel>& channel = channels_[record.name];
  if (record.kind == JournalRecord::kChannel) {
    if (!channel) {
      channel = std::make_shared<Channel>();
    } else {
      kindCounter(channel->kind).give();
    }
    kindCounter(record.channel.kind).force(1);
    channel->kind = record.channel.kind;
    channel->capacity = record.channel.capacity;
    channel->persistent = true;
    channel->codes = std::set<int>(record.channel.codes.begin(), record.channel.codes.end());
    channel->numbered = 0;
    return;
  }
  if (!channel || record.kind == JournalRecord::kChannelForgotten) {
    if (channel) {
      kindCounter(channel->kind).give();
      budget_->queuedBytes.give(cost(channel->queue, channel->queue.size()));
    }
    channels_.erase(record.name);  // a record of a channel the journal no longer keeps
    return;
  }
  std::deque<Message>& queue = channel->queue;
  if (record.kind == JournalRecord::kQueued) {
    std::vector<Message> messages;
    for (const SharedBytes& bytes : record.channel.messages) {
      messages.push_back({bytes, 0, channel->numbered++});
      budget_->queuedBytes.force(cost(bytes));
    }
    queue.insert(record.channel.front ? queue.begin() : queue.end(), messages.begin(), messages.end());
  } else if (record.kind == JournalRecord::kTaken) {
    budget_->queuedBytes.give(cost(queue, record.channel.taken));
    queue.erase(queue.begin(), queue.begin() + std::min<std::size_t>(record.channel.taken, queue.size()));
  } else if (record.kind == JournalRecord::kAcknowledged) {
    const std::set<std::uint64_t> gone(record.channel.numbers.begin(), record.channel.numbers.end());
    std::size_t left = gone.size();
    for (auto it = queue.begin(); left > 0 && it != queue.end();) {
      if (gone.count(it->number)) {
        budget_->queuedBytes.give(cost(it->bytes));
        it = queue.erase(it);
        --left;
      } else {
        ++it;
      }
    }
  } else if (record.kind == JournalRecord::kCleared) {
    budget_->queuedBytes.give(cost(queue, queue.size()));
    queue.clear();
  } else if (record.kind == JournalRecord::kCodeAdded) {
    channel->codes.insert(record.channel.codes.begin(), record.channel.codes.end());
  }
}

void PortTable::shutDown() {
  std::lock_guard<std::mutex> hold(mutex_);
  closing_ = true;
  changed_.notify_all();
}

}  // namespace tarn
