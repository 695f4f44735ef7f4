// The journal of a server with a data folder: every change of a data point, and of a port or
// event box marked persistent, reaches the file DIR/points.journal before the change is
// acknowledged. With `syncToDisk` (the default) it is flushed to the disk (fdatasync) first, so
// it survives a crash of the machine; without, it is handed to the operating system (write), so
// it survives a crash of the server process only.
//
// File: the 8-byte tag "TARNJNL2", then units. A unit is every change of one request: replay
// applies it whole or not at all. Its header (24 bytes) holds the body's length (4), the CRC-32
// of the body (4), the unit's sequence number (8), its record count (4; the top bit marks a part
// of a compaction's image) and the CRC-32 of those 20 bytes (4); the body holds the records,
// each as its payload's length (4) and the payload. Numbers are little-endian. A payload is one
// byte of kind, then texts and bytes as a 4-byte length and the bytes, counts as 4 bytes:
//   kind 1, a point's state after a change: realm, name, type, written (1 byte), value;
//   kind 2, a point removed:                realm, name;
//   kind 3, a realm emptied:                realm;
//   kind 4, a persistent channel's shape:   realm, name, kind, capacity, count, codes;
//   kind 5, a channel no longer kept:       realm, name;
//   kind 6, messages queued:                realm, name, front (1 byte), count, messages;
//   kind 7, messages taken from the front:  realm, name, count;
//   kind 8, a channel's queue emptied:      realm, name;
//   kind 9, an event code added to a box:   realm, name, code;
//   kind 10, messages acknowledged:         realm, name, count, numbers (8 bytes each).
// A shape record makes the channel, or changes a kept one without touching its queue.
//
// Sequence numbers rise by one from unit to unit. A compaction writes the whole state as image
// parts that all carry the number of the last change they hold; the changes after it go on from
// there. The manifest, points.journal.manifest, records what has been committed: the number of
// the file's first unit and of the last unit on disk (two checksummed slots, written in turn
// after every flush, synced at compactions and starts).
//
// Replay applies the units in order. Only the last unit may be cut, and only when it is
// incomplete (the file ends inside it): that is the torn tail of a write that was never
// acknowledged. Everything else refuses to start, naming the file, the offset and the cause:
// a unit that fails its checksums or cannot be read (with how many whole units follow), a
// sequence number that repeats, steps back or skips, and a journal that does not reach the last
// change the manifest records (a journal cut, lost or replaced). A salvage instead keeps every
// whole unit in order (it steps over damage to the next whole unit and over repeated numbers),
// writes a damaged file aside as points.journal.damaged-TIME, rewrites the journal with the whole
// units only, numbered afresh, and says what it kept and dropped. A journal of the earlier format
// (tag "TARNJNL1": one checksummed record after another, no units) is read as before and
// rewritten in this one.
//
// A write that fails (a full disk, a file size limit, an I/O error) answers false to every
// waiter of its batch (kNotKept to the client), and the file is cut back to its last whole
// record. The tables already hold those changes, and later ones too: they are in effect and
// visible, only not on disk. From then on every sync first tries to write the whole state as a
// new journal (as a compaction does, at most once per kRepairPause); once that succeeds, every
// change answered kNotKept so far is kept after all and writes are acknowledged again. Until
// then each journaled change answers kNotKept; a clean stop makes one last try. So kNotKept
// means "in effect, not yet on disk: lost if the server stops before the disk takes writes
// again" (a take answered kNotKept hands its messages back, so it takes nothing).
//
// Group commit: appenders add records to a pending buffer under the journal's mutex and wait for
// them with sync(); whichever waiter finds no flush running writes and syncs everything pending
// for all of them. When the file has grown well past the last compaction, the thread whose flush
// found it so compacts: it takes an image of the state of every attached realm (its points and
// its persistent channels) with the tables held, lets them go, and writes the image to a file
// aside while other writers go on appending and flushing to the journal; then, holding off
// flushes for a moment, it adds to the file aside the units flushed since the image, syncs it
// and renames it over the journal. Only the image's encoding stops the tables.
//
// Lock order: a realm's point table or port table mutex, then the journal's mutex. append() is
// called with the table mutex held, so the records of one point or channel reach the journal in
// the order of its changes; a request that changes several opens a Journal::Unit under that
// mutex and commits it before letting go. Compaction takes the realm registry's mutex, then every attached
// realm's point table and port table mutexes, then the journal's mutex. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tarn/server/env.h"
#include "tarn/server/realm.h"

namespace tarn {

struct JournalRecord {
  enum Kind : unsigned char {
    kPoint = 1,
    kRemoved = 2,
    kRealmEmptied = 3,
    kChannel = 4,
    kChannelForgotten = 5,
    kQueued = 6,
    kTaken = 7,
    kCleared = 8,
    kCodeAdded = 9,
    kAcknowledged = 10,
  };
  Kind kind = kPoint;
  std::string realm;
  std::string name;
  Point point;            // kPoint only
  ChannelChange channel;  // kChannel, kQueued, kTaken, kCodeAdded (its one code), kAcknowledged
  bool forChannel() const { return kind >= kChannel; }
};

class Journal {
 public:
  // Opens (or makes) the journal in `dir`. Throws std::runtime_error naming the file and the
  // cause when the folder or the file cannot be used.
  explicit Journal(const std::string& dir, bool syncToDisk = true);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Calls `apply` for every record of every whole unit in order and cuts an incomplete last unit
  // off the file; with `salvage`, what is refused otherwise is stepped over as above. Call once,
  // before anything is appended. Returns the number of records applied. Throws
  // std::runtime_error (without `salvage`) for damage, units out of sequence, a journal shorter
  // than its manifest or a file that is not a journal, and for a file that cannot be read or
  // rewritten; `apply` may have been called for the units before the fault (the caller then
  // discards what it built).
  std::size_t replay(const std::function<void(const JournalRecord&)>& apply, bool salvage = false);
  // What replay did beyond applying records (a cut tail, a salvage), for the server's log;
  // empty when the file was whole.
  const std::string& replayNote() const { return note_; }

  // Makes `realm`'s points and persistent channels part of every compaction. The state outlives the journal's use of it.
  void attach(const std::shared_ptr<RealmState>& realm);
  // Leaves `realm` out of compactions from now on (a deleted, empty realm).
  void detach(const std::shared_ptr<RealmState>& realm);

  // The records this thread appends to `journal` while the unit is open form one unit; commit()
  // adds it to the journal and answers its ticket for sync() (0 when it holds nothing). Opened
  // and committed under the mutex of the table it changes; the destructor commits what is left.
  // A null journal makes a unit that does nothing.
  class Unit {
   public:
    explicit Unit(Journal* journal);
    ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
    std::uint64_t commit();

   private:
    friend class Journal;
    Journal* journal_;
    Unit* outer_;
    std::string body_;
    std::uint32_t count_ = 0;
  };

  // Adds a record, as a unit of its own unless a Unit of this thread is open (then 0: the unit's
  // commit() answers the ticket); returns its ticket for sync(). REQUIRES: the mutex of the
  // table it changes.
  std::uint64_t append(const JournalRecord& record);
  // Blocks until every record up to `ticket` is on disk. False when the journal cannot be
  // written (the change must then not be acknowledged as kept).
  bool sync(std::uint64_t ticket);

  // Compaction starts once the file exceeds this size and four times its size after the last
  // (after a start, at the first flush when the replayed file exceeds it).
  static constexpr std::size_t kCompactBytes = 8u << 20;

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kRepairPause{100};

  // Adds one unit of `count` records to pending_ and answers its ticket. REQUIRES: mutex_.
  std::uint64_t addUnitLocked(const std::string& body, std::uint32_t bodyCrc, std::uint32_t count);
  bool flush(std::unique_lock<std::mutex>& hold);  // REQUIRES: hold owns mutex_, flushing_ set
  // Records base and last in the manifest's next slot; synced with `durably`.
  void writeManifest(std::uint64_t base, std::uint64_t last, bool durably);
  // Every attached realm's point table and port table, held. REQUIRES: realmsMutex_.
  std::vector<std::unique_lock<std::mutex>> holdTablesLocked();
  // The state of every attached realm as the parts of an image after the tag. REQUIRES: the
  // realm registry's and every attached table's mutex, and mutex_.
  std::string imageLocked();
  // Writes the state of every attached realm as the new journal, with the tables held: the
  // repair after a failed write. False when it cannot, with the old file left in place.
  // REQUIRES: mutex_ not held, flushing_ set (or no other user).
  bool compact();
  // The compaction that lets writers go on (above). REQUIRES: mutex_ not held, flushing_ clear.
  void compactAside();
  void reopen();

  std::string path_;
  bool syncToDisk_;
  std::string note_;
  std::unique_ptr<File> file_;                   // GUARDED_BY(mutex_) while flushing_ is clear
  std::unique_ptr<File> manifest_;               // written by the flushing thread alone
  unsigned manifestWrites_ = 0;                  // ... which slot is next

  std::mutex realmsMutex_;
  std::vector<std::shared_ptr<RealmState>> realms_;  // GUARDED_BY(realmsMutex_)

  std::mutex mutex_;
  std::condition_variable flushed_;
  std::string pending_;                          // GUARDED_BY(mutex_)
  std::uint64_t appended_ = 0;                   // GUARDED_BY(mutex_): the last unit's number (its ticket)
  std::uint64_t durable_ = 0;                    // GUARDED_BY(mutex_): the last unit on disk
  std::uint64_t base_ = 0;                       // GUARDED_BY(mutex_): the file's first unit
  bool flushing_ = false;                        // GUARDED_BY(mutex_)
  bool broken_ = false;                          // GUARDED_BY(mutex_): the file lacks changes
  Clock::time_point nextRepair_;                 // GUARDED_BY(mutex_)
  std::size_t fileBytes_ = 0;                    // GUARDED_BY(mutex_)
  std::size_t compactedBytes_ = 0;               // GUARDED_BY(mutex_)
  std::size_t imageBytes_ = 0;                   // GUARDED_BY(mutex_): the last compaction's file
  bool compacting_ = false;                      // GUARDED_BY(mutex_): compactAside() under way
  std::size_t skipBytes_ = 0;                    // GUARDED_BY(mutex_): pending bytes its image holds
  std::string sinceImage_;                       // GUARDED_BY(mutex_): units flushed after the image
  unsigned failures_ = 0;                        // GUARDED_BY(mutex_): failed flushes so far
};

// Encodes `records` as one unit with `sequence` (a part of an image with `imagePart`).
std::string encodeJournalUnit(const std::vector<JournalRecord>& records, std::uint64_t sequence,
                              bool imagePart = false);

}  // namespace tarn
