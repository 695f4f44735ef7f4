// The packet ports and event boxes of one realm, with the connections opened to them.
//
// A channel is a port (kind kPortKind) or an event box (kind kBoxKind); both hold a queue of
// messages in arrival order. A program opens a send or receive connection to a channel and gets
// a handle that this table issues (handles.h: it names the server's run, so a handle from an
// earlier run is not found here); a handle of another realm is simply not found here either
// (kBadHandle). A packet remembers the handle of the send
// connection it came through, so that a reply reaches that sender's reply queue.
//
// Limits: a box holds at most its box size of events, a port at most kPortCapacity packets; a
// full channel refuses (kBoxFull) and keeps what it holds. Budgets (budgets.h, shared by every
// realm of the server): a message or reply that would pass the queued bytes (its bytes and
// kMessageOverhead, once per box it reaches) is refused with kBoxFull; a port, box or connection
// past its count, or a box larger than the largest box size, with kOverBudget. Nothing changes
// on a refusal. A declare or a batch send reaches
// every box of the realm that takes the event code, or none: when one of those boxes lacks room
// for the whole batch nothing is delivered and the answer is kBoxFull, so a retry never
// duplicates an event.
//
// Delivery: a receive names itself with a tag (a number of the receiving process). What it takes
// stays in flight on its connection under the tag until the receiver settles the tag: an
// acknowledged tag is gone for good, a released one goes back to the front of its queue (ahead
// of anything newer), and so does everything still in flight when the connection is closed or
// closed as idle. A receive that comes again with a tag still in flight gets the same messages
// again (its first answer was lost on the way); one whose tag was settled takes nothing, so a
// late copy of a receive the client gave up on cannot take a message into the void. Tag 0 takes
// for good at once (the plain receive operations). Messages in flight still count against the
// queued-bytes budget.
//
// Waits: 0 ms does not wait, a negative time waits without limit. A waiter wakes when its
// channel gets a message, is deleted (kNoSuchObject), its connection is closed (kBadHandle) or
// the table shuts down (kServerNotAnswering). A connection that nobody used for the idle time
// (TARN_IDLE_CONNECTION_S seconds, kDefaultIdleSeconds when unset) and that nobody waits on is
// closed when the next connection is opened or the connections are listed. Connections count
// against the budget in all and per client (the owning process as it said when it connected), so
// one client at its share gets kOverBudget and the others keep theirs. A send connection asked
// for again with its own handle by the same client is that connection again, not a new one.
//
// Keeping: on a server with a journal (keepIn), every change of a channel marked persistent is
// appended to the journal under the table's mutex, so the records of one channel keep the order
// of its changes, and the call waits for the disk only after releasing the mutex (kNotKept when
// the journal cannot be written). Records are deltas (channel shape, queued, taken, cleared,
// forgotten, acknowledged), so a long queue costs each send only its own bytes. A receive in
// flight is not journalled: its messages stay in the kept queue until they are acknowledged
// (each message of a kept channel has a number for that), so a restart puts whatever was in
// flight back in the queue. A channel without the mark is never journalled. Connections and
// replies are not kept.
//
// Thread-safe: one mutex guards the whole table; waits release it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tarn/server/budgets.h"

namespace tarn {

constexpr int kPortKind = 30005;
constexpr int kBoxKind = 30006;
constexpr int kSendDirection = 30003;
constexpr int kReceiveDirection = 30004;
constexpr std::size_t kPortCapacity = 100000;
constexpr unsigned kDefaultIdleSeconds = 600;
// What a queued message costs beyond its bytes (its queue entry and shared block), for the
// queued-bytes budget.
constexpr std::size_t kMessageOverhead = 64;

using Bytes = std::vector<unsigned char>;
using SharedBytes = std::shared_ptr<const Bytes>;

class Journal;
struct JournalRecord;

// The part of a journal record that describes a change of a persistent channel.
struct ChannelChange {
  int kind = 0;                       // channel shape: kPortKind or kBoxKind
  std::uint32_t capacity = 0;         // channel shape
  std::vector<int> codes;             // channel shape: the event codes of a box
  std::vector<SharedBytes> messages;  // queued: in order
  bool front = false;                 // queued: put before what the queue holds
  std::uint32_t taken = 0;            // taken: how many left the front of the queue
  std::vector<std::uint64_t> numbers; // acknowledged: the numbers of the messages that left
};

struct Message {
  SharedBytes bytes;
  unsigned sender = 0;       // the send connection of a packet; 0 for an event
  std::uint64_t number = 0;  // its number in its channel, as the journal knows it
};

using Tag = std::uint64_t;
// What one receive took, shared by its answer and the connection that keeps it in flight: an
// answer of many messages costs no copy of each.
using Batch = std::shared_ptr<const std::vector<Message>>;

// One receive as the receiver names it, and the tags of the same connection it settles first.
struct Receipt {
  Tag tag = 0;  // 0: take for good at once
  std::vector<Tag> acks;
  std::vector<Tag> released;
  bool batch = false;    // a batch: any value outside the range refuses with kSizeMismatch
  bool replies = false;  // the replies of a send connection, not a receive connection's messages
};

// Which messages a receive or a reply wait takes. One message (not a batch) longer
// than `most` is refused with kBufferTooSmall, shorter than `least` with kSizeMismatch; a batch
// with any message outside [least, most] is refused with kSizeMismatch. What is refused stays
// queued. A batch stops before its bytes would pass `answerBytes`, so that the answer fits one
// message of the ORB; it always takes at least one.
struct Fit {
  std::size_t least = 0;
  std::size_t most = SIZE_MAX;
  std::size_t answerBytes = SIZE_MAX;
};

struct ConnectionRow {
  unsigned handle;
  std::string channel;
  int direction;
  std::string process;
  unsigned idleSeconds;
  unsigned reclaimSeconds;
};

class PortTable {
 public:
  PortTable();  // without budgets until useBudget()

  // Counts channels, connections and queued bytes against `budget` from now on. Call before the
  // table is shared with other threads; the budget outlives the table.
  void useBudget(BudgetBook& budget);

  int create(const std::string& name, int kind, int size);
  // A box or a port of that name.
  int setPersistent(const std::string& name, bool persistent);
  // Boxes only.
  int deleteBox(const std::string& name);
  int addCode(const std::string& box, int code);
  int clear(const std::string& box);
  int count(const std::string& box, unsigned& count);
  std::vector<std::string> channelNames();
  // The queued messages of the port or box (`kind`) `name` from queue position `from` on, at
  // most `maxCount`, stopping before their bytes would pass `answerBytes` (at least one), into
  // `out`; `held` is the queue's length. Nothing is taken and no wait ends.
  int peek(const std::string& name, int kind, std::size_t from, std::size_t maxCount, std::size_t answerBytes,
           unsigned& held, std::vector<SharedBytes>& out);

  int connect(const std::string& name, int direction, const std::string& process, unsigned& handle);
  int disconnect(unsigned handle);
  std::vector<ConnectionRow> connections();
  // How long a connection nobody uses stays open (TARN_IDLE_CONNECTION_S).
  unsigned idleSeconds() const { return idleSeconds_; }

  // One event to one box, whatever its codes.
  int sendEvent(const std::string& box, SharedBytes event);
  // Every event of `events` to every box that takes `code` (all or none, see above).
  int declare(int code, const std::vector<SharedBytes>& events);
  int sendPacket(unsigned handle, SharedBytes packet, bool front);
  // Up to maxCount messages that `fit` takes, waiting up to timeoutMs for the first: from the
  // channel of a receive connection, or replies of a send connection. The receipt's settlements
  // are made first, then its tag is received as above.
  int receive(unsigned handle, const Receipt& receipt, std::size_t maxCount, const Fit& fit, int timeoutMs,
              Batch& out);
  // The same, adding what was taken to `out`.
  int receive(unsigned handle, const Receipt& receipt, std::size_t maxCount, const Fit& fit, int timeoutMs,
              std::vector<Message>& out);
  // Settles tags of connection `handle` (kBadHandle when it is gone).
  int settle(unsigned handle, const std::vector<Tag>& acks, const std::vector<Tag>& released);
  // A reply to send connection `replyHandle`; accepted only while a packet of that connection
  // was received and not yet answered (kNoRequest otherwise), one reply per packet.
  int reply(unsigned replyHandle, SharedBytes reply);

  // The channels as a snapshot body: per channel its name, kind, capacity, persistence, event
  // codes and queued messages (a packet's sender is not kept: replies to it have nobody to go
  // to after a load).
  std::string image();
  // Puts every channel of `image` back as it was: a missing one is made, an existing one gets
  // the kind, codes, persistence and queue of the image and keeps its connections. Channels the
  // image lacks are left alone. kSnapshotDamaged (nothing changed) when `image` is not whole.
  int restore(const std::string& image);

  // Wakes every waiter with kServerNotAnswering; later waits end at once.
  void shutDown();

  // Journals the persistent channels' changes in `journal` as realm `realm` from now on. Call
  // before the table is shared with other threads; the journal outlives the table's use of it.
  void keepIn(Journal* journal, const std::string& realm);
  // Applies one channel record of the journal's replay; no journal record is written.
  void replay(const JournalRecord& record);
  // For compaction: the table's mutex, and, while it is held, the records that make every
  // persistent channel as it is now.
  std::unique_lock<std::mutex> holdForJournal() { return std::unique_lock<std::mutex>(mutex_); }
  void keptRecordsLocked(std::vector<JournalRecord>& out);

 private:
  struct Channel {
    int kind;
    std::size_t capacity;
    bool persistent = false;
    bool deleted = false;
    std::set<int> codes;
    std::deque<Message> queue;
    std::uint64_t numbered = 0;  // the next message's number
  };
  struct Connection {
    std::shared_ptr<Channel> channel;
    std::string channelName;
    int direction;
    std::string process;
    std::chrono::steady_clock::time_point lastUse;
    int waiters = 0;
    std::deque<Message> replies;  // send connections: answers to its packets
    std::size_t awaited = 0;      // send connections: its packets received and not yet answered
    std::map<Tag, std::shared_ptr<std::vector<Message>>> inFlight;  // taken and not yet settled
    std::set<Tag> settled;        // the newest kSettledKept settled tags ...
    std::deque<Tag> settledOrder; // ... oldest first
  };
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<std::mutex>;

  Channel* boxLocked(const std::string& name);
  Connection* connectionLocked(unsigned handle, int direction, int& rc);
  // Waits on `changed_` until `ready` says a wait is over (returns its code, 0 to take) or the
  // time runs out (kNothingReceived).
  template <typename Ready>
  int waitFor(Lock& lock, unsigned handle, int direction, int timeoutMs, Ready ready);
  void reclaimIdleLocked();
  // Adds `delta` to the awaited replies of the senders of `messages`. REQUIRES: mutex_ held.
  void awaitRepliesLocked(const std::vector<Message>& messages, std::size_t from, int delta);
  // Closes connection `it`, returning its budget; what it has in flight goes back.
  // REQUIRES: mutex_ held.
  std::map<unsigned, Connection>::iterator dropConnectionLocked(std::map<unsigned, Connection>::iterator it);
  // Settles tags of `connection`; returns the journal ticket (0: nothing appended). Settled
  // batches go to `freeLater`, for the caller to free after releasing the mutex.
  // REQUIRES: mutex_ held.
  std::uint64_t settleLocked(Connection& connection, const std::vector<Tag>& acks, const std::vector<Tag>& released,
                             std::vector<Batch>& freeLater);
  // `messages` back at the front of the queue they came from (none when its channel is gone).
  // REQUIRES: mutex_ held.
  void putBackLocked(Connection& connection, const std::vector<Message>& messages);
  // `messages`, taken from `connection`, gone for good: their budget returned, their numbers
  // journalled; returns the journal ticket. REQUIRES: mutex_ held.
  std::uint64_t doneLocked(Connection& connection, const std::vector<Message>& messages);
  // Numbers every kept message of `channel` (in flight first, then queued) from 0 as a replay of
  // its whole records will, and returns them in that order. REQUIRES: mutex_ held.
  std::vector<Message> renumberLocked(Channel& channel);
  BudgetCounter& kindCounter(int kind);
  // Appends `record` (of channel `channel`) when the channel is persistent and the table has a
  // journal; returns the ticket to wait for (0: nothing appended). REQUIRES: mutex_ held.
  std::uint64_t journalLocked(const Channel& channel, JournalRecord& record);
  // The shape record of `channel`: kind, capacity, event codes.
  static JournalRecord shapeRecord(const std::string& name, const Channel& channel);
  // The records that make `channel` whole: its shape, an emptied queue, its kept messages
  // (renumbered). REQUIRES: mutex_ held.
  void wholeRecordsLocked(const std::string& name, Channel& channel, std::vector<JournalRecord>& out);
  // Appends wholeRecordsLocked of `channel`; returns the last ticket. REQUIRES: mutex_ held.
  std::uint64_t journalWholeLocked(const std::string& name, Channel& channel);
  // `rc` once the journal holds every record up to `ticket`; kNotKept when it cannot.
  // REQUIRES: mutex_ not held, so that concurrent changes share one disk flush.
  int kept(int rc, std::uint64_t ticket);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<Channel>> channels_;  // GUARDED_BY(mutex_)
  std::map<unsigned, Connection> connections_;                // GUARDED_BY(mutex_)
  bool closing_ = false;                                      // GUARDED_BY(mutex_)
  const unsigned idleSeconds_;
  Journal* journal_ = nullptr;  // set by keepIn before the table is shared
  BudgetBook* budget_;          // set by useBudget before the table is shared
  std::string realm_;
};

}  // namespace tarn
