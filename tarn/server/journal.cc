#include "tarn/server/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "tarn/server/data_folder.h"
#include "tarn/server/file_io.h"

namespace tarn {
namespace {

constexpr char kTag[] = "TARNJNL2";
constexpr char kEarlierTag[] = "TARNJNL1";  // one checksummed record after another
constexpr std::size_t kTagBytes = 8;
constexpr std::size_t kFrameBytes = 8;      // an earlier record's length and checksum
constexpr std::size_t kHeaderBytes = 24;    // a unit's header
constexpr std::uint32_t kImagePart = 0x80000000u;
constexpr std::size_t kImagePartBytes = 1u << 20;  // the body a compaction puts in one part
constexpr std::size_t kManifestSlot = 64;
constexpr char kManifestTag[] = "TARNMAN1";

bool decode(const char* payload, std::size_t size, JournalRecord& record) {
  ByteReader in(payload, size);
  unsigned char kind = 0;
  if (!in.byte(kind) || !in.text(record.realm)) return false;
  record.kind = static_cast<JournalRecord::Kind>(kind);
  switch (kind) {
    case JournalRecord::kPoint: {
      unsigned char written = 0;
      std::string value;
      if (!in.text(record.name) || !in.text(record.point.type) || !in.byte(written) || !in.text(value)) return false;
      record.point.written = written != 0;
      record.point.value.assign(value.begin(), value.end());
      break;
    }
    case JournalRecord::kRemoved:
      if (!in.text(record.name)) return false;
      break;
    case JournalRecord::kRealmEmptied:
      break;
    case JournalRecord::kChannel: {
      std::uint32_t kind = 0, codes = 0;
      if (!in.text(record.name) || !in.u32(kind) || !in.u32(record.channel.capacity) || !in.u32(codes)) return false;
      record.channel.kind = static_cast<int>(kind);
      for (std::uint32_t code = 0, i = 0; i < codes; ++i) {
        if (!in.u32(code)) return false;
        record.channel.codes.push_back(static_cast<int>(code));
      }
      break;
    }
    case JournalRecord::kQueued: {
      unsigned char front = 0;
      std::uint32_t count = 0;
      if (!in.text(record.name) || !in.byte(front) || !in.u32(count)) return false;
      record.channel.front = front != 0;
      std::string message;
      for (std::uint32_t i = 0; i < count; ++i) {
        if (!in.text(message)) return false;
        record.channel.messages.push_back(std::make_shared<const Bytes>(message.begin(), message.end()));
      }
      break;
    }
    case JournalRecord::kTaken:
      if (!in.text(record.name) || !in.u32(record.channel.taken)) return false;
      break;
    case JournalRecord::kAcknowledged: {
      std::uint32_t count = 0, low = 0, high = 0;
      if (!in.text(record.name) || !in.u32(count)) return false;
      for (std::uint32_t i = 0; i < count; ++i) {
        if (!in.u32(low) || !in.u32(high)) return false;
        record.channel.numbers.push_back(std::uint64_t(high) << 32 | low);
      }
      break;
    }
    case JournalRecord::kCodeAdded: {
      std::uint32_t code = 0;
      if (!in.text(record.name) || !in.u32(code)) return false;
      record.channel.codes.push_back(static_cast<int>(code));
      break;
    }
    case JournalRecord::kChannelForgotten:
    case JournalRecord::kCleared:
      if (!in.text(record.name)) return false;
      break;
    default:
      return false;
  }
  return in.done();
}

void encodeChannel(const JournalRecord& record, std::string& payload) {
  const ChannelChange& change = record.channel;
  if (record.kind == JournalRecord::kChannel) {
    putU32(payload, static_cast<std::uint32_t>(change.kind));
    putU32(payload, change.capacity);
    putU32(payload, static_cast<std::uint32_t>(change.codes.size()));
    for (int code : change.codes) putU32(payload, static_cast<std::uint32_t>(code));
  } else if (record.kind == JournalRecord::kQueued) {
    std::size_t bytes = payload.size() + 5;
    for (const SharedBytes& message : change.messages) bytes += 4 + message->size();
    payload.reserve(bytes);
    payload.push_back(change.front ? 1 : 0);
    putU32(payload, static_cast<std::uint32_t>(change.messages.size()));
    for (const SharedBytes& message : change.messages) putBytes(payload, message->data(), message->size());
  } else if (record.kind == JournalRecord::kTaken) {
    putU32(payload, change.taken);
  } else if (record.kind == JournalRecord::kAcknowledged) {
    putU32(payload, static_cast<std::uint32_t>(change.numbers.size()));
    for (std::uint64_t number : change.numbers) putU64(payload, number);
  } else if (record.kind == JournalRecord::kCodeAdded) {
    putU32(payload, change.codes.empty() ? 0u : static_cast<std::uint32_t>(change.codes.front()));
  }
}


// A record's payload (kind, texts, values), appended to `out`.
void encodePayload(const JournalRecord& record, std::string& out) {
  out.push_back(static_cast<char>(record.kind));
  putBytes(out, record.realm.data(), record.realm.size());
  if (record.kind != JournalRecord::kRealmEmptied) putBytes(out, record.name.data(), record.name.size());
  if (record.kind == JournalRecord::kPoint) {
    putBytes(out, record.point.type.data(), record.point.type.size());
    out.push_back(record.point.written ? 1 : 0);
    putBytes(out, record.point.value.data(), record.point.value.size());
  }
  if (record.forChannel()) encodeChannel(record, out);
}

// A record as a unit body holds it: its payload's length, then the payload.
void encodeInBody(const JournalRecord& record, std::string& body) {
  const std::size_t at = body.size();
  body.append(4, '\0');
  encodePayload(record, body);
  std::string length;
  putU32(length, static_cast<std::uint32_t>(body.size() - at - 4));
  body.replace(at, 4, length);
}

std::string unitHeader(std::size_t bodyBytes, std::uint32_t bodyCrc, std::uint64_t sequence, std::uint32_t count) {
  std::string header;
  putU32(header, static_cast<std::uint32_t>(bodyBytes));
  putU32(header, bodyCrc);
  putU64(header, sequence);
  putU32(header, count);
  putU32(header, crc32(header.data(), header.size()));
  return header;
}

// One unit found in a file.
struct Span {
  std::size_t at = 0, bytes = 0;  // where it starts and its whole size
  std::uint64_t sequence = 0;
  bool image = false;
  std::uint32_t count = 0;
  std::vector<JournalRecord> records;  // until applied
};

// Whether `unit` may follow `before`: numbers rise by one, the parts of one image share theirs,
// and an image part follows only image parts.
bool inSequence(const Span& before, const Span& unit) {
  const std::uint64_t expected = before.sequence + (unit.image && before.image ? 0 : 1);
  return unit.sequence == expected && (!unit.image || before.image);
}

enum class Found { kWhole, kTorn, kDamaged };

// What starts at `at` in a file of `version` (1: the earlier format, 2: units). kTorn: the file
// ends inside it (its header, when whole, checks).
Found unitAt(const std::string& bytes, std::size_t at, int version, Span& unit) {
  unit = Span();
  unit.at = at;
  const std::size_t left = bytes.size() - at;
  const char* data = bytes.data() + at;
  if (version == 1) {
    if (left < kFrameBytes || getU32(data) > left - kFrameBytes) return Found::kTorn;
    const std::uint32_t length = getU32(data);
    unit.records.emplace_back();
    unit.count = 1;
    if (crc32(data + kFrameBytes, length) != getU32(data + 4) || !decode(data + kFrameBytes, length, unit.records[0]))
      return Found::kDamaged;
    unit.bytes = kFrameBytes + length;
    return Found::kWhole;
  }
  if (left < kHeaderBytes) return Found::kTorn;
  if (crc32(data, kHeaderBytes - 4) != getU32(data + kHeaderBytes - 4)) return Found::kDamaged;
  const std::uint32_t length = getU32(data), count = getU32(data + 16) & ~kImagePart;
  unit.sequence = getU64(data + 8);
  unit.image = (getU32(data + 16) & kImagePart) != 0;
  if (length > left - kHeaderBytes) return Found::kTorn;
  const char* body = data + kHeaderBytes;
  if ((count == 0 && !unit.image) || crc32(body, length) != getU32(data + 4)) return Found::kDamaged;
  unit.records.resize(count);
  unit.count = count;
  std::size_t offset = 0;
  for (JournalRecord& record : unit.records) {
    if (length - offset < 4 || getU32(body + offset) > length - offset - 4) return Found::kDamaged;
    const std::uint32_t size = getU32(body + offset);
    if (!decode(body + offset + 4, size, record)) return Found::kDamaged;
    offset += 4 + size;
  }
  if (offset != length) return Found::kDamaged;
  unit.bytes = kHeaderBytes + length;
  return Found::kWhole;
}

// The next offset after `from` where a whole unit starts; bytes.size() when none does.
std::size_t nextUnit(const std::string& bytes, std::size_t from, int version) {
  Span unit;
  for (std::size_t at = from + 1; at < bytes.size(); ++at)
    if (unitAt(bytes, at, version, unit) == Found::kWhole) return at;
  return bytes.size();
}

struct Manifest {
  std::uint64_t base = 0, last = 0;
  bool found = false;
};

Manifest readManifest(File& file) {
  Manifest best;
  char slot[kManifestSlot];
  for (std::uint64_t at = 0; at < 2 * kManifestSlot; at += kManifestSlot) {
    if (!file.readAll(at, slot, sizeof slot)) continue;
    if (std::memcmp(slot, kManifestTag, kTagBytes) != 0 || crc32(slot, 24) != getU32(slot + 24)) continue;
    if (best.found && getU64(slot + 16) <= best.last) continue;
    best = {getU64(slot + 8), getU64(slot + 16), true};
  }
  return best;
}

std::string plural(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Writes `content` as the whole of a new file at `path`, on disk when it returns true.
bool writeWholeFile(const std::string& path, const std::string& content) {
  const std::unique_ptr<File> file = env().open(path, OpenFor::kWrite);
  return file && file->append(content) && file->sync();
}

// Puts `aside`, written whole, in the place of the journal at `path`, durably.
bool replaceJournal(const std::string& aside, const std::string& path) {
  if (!env().replace(aside, path)) return false;
  env().syncFolder(folderOf(path));
  return true;
}

}  // namespace

std::string encodeJournalUnit(const std::vector<JournalRecord>& records, std::uint64_t sequence, bool imagePart) {
  std::string body;
  for (const JournalRecord& record : records) encodeInBody(record, body);
  const std::uint32_t count = static_cast<std::uint32_t>(records.size()) | (imagePart ? kImagePart : 0u);
  return unitHeader(body.size(), crc32(body.data(), body.size()), sequence, count) + body;
}

namespace {
thread_local Journal::Unit* openUnit = nullptr;
}  // namespace

Journal::Unit::Unit(Journal* journal) : journal_(journal), outer_(openUnit) {
  // Within an open unit of the same journal a unit adds to the outer one.
  if (journal_ && !(outer_ && outer_->journal_ == journal_)) openUnit = this;
}

Journal::Unit::~Unit() {
  commit();
  if (openUnit == this) openUnit = outer_;
}

std::uint64_t Journal::Unit::commit() {
  if (!journal_ || count_ == 0 || openUnit != this) return 0;
  std::string body;
  body.swap(body_);
  const std::uint32_t count = count_;
  count_ = 0;
  const std::uint32_t bodyCrc = crc32(body.data(), body.size());
  std::lock_guard<std::mutex> hold(journal_->mutex_);
  return journal_->addUnitLocked(body, bodyCrc, count);
}

Journal::Journal(const std::string& dir, bool syncToDisk) : path_(dir + "/" + kJournalFile), syncToDisk_(syncToDisk) {
  if (!env().makeFolder(dir)) throw std::runtime_error("data folder " + dir + ": " + lastIoError().text);
  // A compaction or salvage cut short left its aside file behind.
  env().remove(path_ + ".compact");
  env().remove(path_ + ".repair");
  reopen();
  const std::string manifest = path_ + ".manifest";
  manifest_ = env().open(manifest, OpenFor::kUpdate);
  if (!manifest_) throw std::runtime_error("journal manifest " + manifest + ": " + lastIoError().text);
}

Journal::~Journal() {
  // A clean stop is the last chance to keep what was answered kNotKept while the disk was full.
  if (broken_) compact();
  file_.reset();
  if (manifest_ && !broken_) writeManifest(base_, durable_, true);
}

void Journal::reopen() {
  file_.reset();
  file_ = env().open(path_, OpenFor::kUpdate);
  if (!file_) throw std::runtime_error("journal " + path_ + ": " + lastIoError().text);
}

void Journal::writeManifest(std::uint64_t base, std::uint64_t last, bool durably) {
  std::string slot(kManifestTag, kTagBytes);
  putU64(slot, base);
  putU64(slot, last);
  putU32(slot, crc32(slot.data(), slot.size()));
  slot.resize(kManifestSlot, '\0');
  const std::uint64_t at = (manifestWrites_++ % 2) * kManifestSlot;
  // A manifest behind the journal only checks less; written after the journal, it is never ahead.
  if (manifest_->writeAt(at, slot.data(), slot.size()) && durably) manifest_->sync();
}

std::size_t Journal::replay(const std::function<void(const JournalRecord&)>& apply, bool salvage) {
  std::uint64_t end = 0;
  if (!file_->size(end)) throw std::runtime_error("journal " + path_ + ": " + lastIoError().text);
  const std::size_t size = static_cast<std::size_t>(end);
  auto readAt = [&](std::string& into, std::size_t at, std::size_t count) {
    into.resize(count);
    if (!file_->readAll(at, &into[0], count)) throw std::runtime_error("journal " + path_ + ": " + lastIoError().text);
  };
  const Manifest manifest = readManifest(*manifest_);
  const std::string leftAlone = "; the file is left as it is. Start tarnd with --salvage to keep what checks";

  // 2: units; 1: the earlier format; 0: not a journal. Fewer bytes than a tag: new, or torn
  // before its tag was whole.
  std::string tag;
  readAt(tag, 0, std::min(size, kTagBytes));
  const int version = size < kTagBytes ? 2 : tag == kTag ? 2 : tag == kEarlierTag ? 1 : 0;
  if (version == 0 && !salvage) throw std::runtime_error("journal " + path_ + ": not a journal file");
  const int format = version == 1 ? 1 : 2;

  // A whole journal in sequence is applied as it is read, one unit in memory at a time. Whatever
  // else it meets (damage, units out of sequence, the earlier format) is judged from the whole
  // file, from there on.
  std::vector<Span> whole;  // every whole unit in order, its records dropped once applied
  std::size_t records = 0, torn = size, at = std::min(size, kTagBytes);
  if (version == 2) {
    std::string unitBytes;
    while (at < size) {
      if (size - at < kHeaderBytes) {
        torn = at;
        break;
      }
      readAt(unitBytes, at, kHeaderBytes);
      if (crc32(unitBytes.data(), kHeaderBytes - 4) != getU32(unitBytes.data() + kHeaderBytes - 4)) break;
      const std::size_t length = getU32(unitBytes.data());
      if (length > size - at - kHeaderBytes) {
        torn = at;
        break;
      }
      readAt(unitBytes, at, kHeaderBytes + length);
      Span unit;
      if (unitAt(unitBytes, 0, 2, unit) != Found::kWhole || (!whole.empty() && !inSequence(whole.back(), unit))) break;
      unit.at = at;
      at += unit.bytes;
      for (const JournalRecord& record : unit.records) apply(record);
      records += unit.records.size();
      unit.records.clear();
      whole.push_back(std::move(unit));
    }
  }
  std::string bytes;  // the whole file, once a unit needs more than the first pass
  std::size_t firstDamage = version == 0 ? 0 : size, damagedPlaces = version == 0 ? 1 : 0;
  std::size_t droppedBytes = 0, outOfSequence = 0;
  std::string sequenceFault;
  if (at < size && torn == size) {
    readAt(bytes, 0, size);
    while (at < size) {
      Span unit;
      const Found found = unitAt(bytes, at, format, unit);
      if (found == Found::kTorn) {  // the file ends inside this unit
        torn = at;
        break;
      }
      if (found == Found::kDamaged) {
        const std::size_t next = nextUnit(bytes, at, format);
        firstDamage = std::min(firstDamage, at);
        ++damagedPlaces;
        droppedBytes += next - at;
        at = next;
        continue;
      }
      at += unit.bytes;
      if (format == 2 && !whole.empty() && !inSequence(whole.back(), unit)) {
        const Span& before = whole.back();
        const std::uint64_t expected = before.sequence + (unit.image && before.image ? 0 : 1);
        if (sequenceFault.empty())
          sequenceFault = "unit " + std::to_string(unit.sequence) + " at offset " + std::to_string(unit.at) +
                          (unit.sequence > expected    ? " skips " + plural(unit.sequence - expected, "change")
                           : unit.sequence == expected ? " is part of a compaction after changes"
                           : unit.sequence == before.sequence ? " repeats the one before it"
                                                              : " steps back from " + std::to_string(before.sequence));
        ++outOfSequence;
        if (unit.sequence <= before.sequence && !(unit.image && before.image)) continue;
      }
      whole.push_back(std::move(unit));
    }
  }
  std::size_t after = 0;  // whole units after the first damage
  for (const Span& unit : whole) after += unit.at > firstDamage ? 1 : 0;
  if (version == 1 && damagedPlaces > 0 && after == 0) {
    // The earlier format cannot tell a torn record from a damaged one: the last is cut, as then.
    torn = firstDamage;
    damagedPlaces = 0;
  }
  const std::uint64_t last = whole.empty() ? 0 : whole.back().sequence;
  std::string missing;  // what the manifest says was committed and the journal lacks
  if (version == 2 && manifest.found && manifest.last > last)
    missing = (whole.empty() ? "holds no changes" : "ends at change " + std::to_string(last)) + ", but its manifest " +
              path_ + ".manifest records change " + std::to_string(manifest.last) + " as committed: " +
              plural(manifest.last - last, "committed change") + " missing (the journal was cut, lost or replaced)";
  else if (version == 2 && manifest.found && !whole.empty() && !whole.front().image &&
           whole.front().sequence > manifest.base)
    missing = "starts at change " + std::to_string(whole.front().sequence) + ", but its manifest records changes from " +
              std::to_string(manifest.base) + ": the changes before it are missing";

  if (!salvage) {
    if (damagedPlaces > 0)
      throw std::runtime_error("journal " + path_ + " is damaged at offset " + std::to_string(firstDamage) + " with " +
                               plural(after, "whole unit") + " after the damage" + leftAlone);
    if (!sequenceFault.empty())
      throw std::runtime_error("journal " + path_ + ": " + sequenceFault + leftAlone);
    if (!missing.empty()) throw std::runtime_error("journal " + path_ + " " + missing + leftAlone);
  }

  for (Span& unit : whole) {
    for (const JournalRecord& record : unit.records) apply(record);
    records += unit.records.size();
    unit.records.clear();
  }

  std::size_t leading = kTagBytes;  // the image parts the file starts with: the state's size
  for (std::size_t i = 0; i < whole.size() && whole[i].image; ++i) leading += whole[i].bytes;
  const bool rewrite = version != 2 || damagedPlaces > 0 || outOfSequence > 0;
  if (!rewrite && size >= kTagBytes) {
    if (torn < size) {
      // An incomplete last unit: the last write never finished, so it was never acknowledged.
      if (!file_->truncate(torn) || !file_->sync())
        throw std::runtime_error("journal " + path_ + ": cannot cut the torn tail: " + lastIoError().text);
      note_ = "journal " + path_ + ": cut an incomplete last unit (" + std::to_string(size - torn) +
              " bytes at offset " + std::to_string(torn) + ")";
    }
    fileBytes_ = torn;
    appended_ = durable_ = last;
    base_ = whole.empty() ? last + 1 : whole.front().sequence;
  } else if (!rewrite) {
    if (!file_->truncate(0) || !file_->append(std::string(kTag, kTagBytes)) || !file_->sync())
      throw std::runtime_error("journal " + path_ + ": " + lastIoError().text);
    fileBytes_ = kTagBytes;
    appended_ = durable_ = last;
    base_ = last + 1;
  } else {
    // The whole units, numbered afresh (the parts of one image keep sharing their number).
    std::string kept(kTag, kTagBytes);
    std::uint64_t sequence = 0;
    bool front = true;  // only the image the file starts with stays one
    for (std::size_t i = 0; i < whole.size(); ++i) {
      const Span& unit = whole[i];
      front = front && unit.image;
      if (!front && unit.image && unit.count == 0) continue;  // an empty image part adds nothing
      if (!(front && i > 0)) ++sequence;
      if (format == 1) {
        Span again;
        unitAt(bytes, unit.at, 1, again);
        kept += encodeJournalUnit(again.records, sequence);
        continue;
      }
      const std::uint32_t count = unit.count | (front ? kImagePart : 0u);
      kept += unitHeader(unit.bytes - kHeaderBytes, getU32(bytes.data() + unit.at + 4), sequence, count);
      kept.append(bytes, unit.at + kHeaderBytes, unit.bytes - kHeaderBytes);
    }
    const std::string aside = path_ + ".compact";
    const bool damaged = damagedPlaces > 0 || outOfSequence > 0 || version == 0;
    const std::string damagedFile = path_ + ".damaged-" + std::to_string(static_cast<long long>(::time(nullptr)));
    // The journal is closed while another file takes its place (Windows renames over no open file).
    file_.reset();
    if ((damaged && !writeWholeFile(damagedFile, bytes)) || !writeWholeFile(aside, kept) ||
        !replaceJournal(aside, path_))
      throw std::runtime_error("journal " + path_ + ": cannot rewrite: " + lastIoError().text);
    reopen();
    if (!damaged) {
      note_ = "journal " + path_ + ": rewrote " + plural(records, "record") + " of the earlier format as units";
    } else {
      note_ = "journal " + path_ + " salvaged: kept " + plural(whole.size(), "whole unit") + " (" +
              plural(records, "record") + ")";
      if (damagedPlaces > 0)
        note_ += ", dropped " + std::to_string(droppedBytes) + " damaged bytes in " + plural(damagedPlaces, "place") +
                 " (the first at offset " + std::to_string(firstDamage) + ")";
      if (outOfSequence > 0)
        note_ += ", found " + plural(outOfSequence, "unit") + " out of sequence (the first: " + sequenceFault + ")";
      note_ += "; the damaged file is kept as " + damagedFile;
    }
    if (torn < size) note_ += "; an incomplete last unit was cut";
    fileBytes_ = kept.size();
    appended_ = durable_ = sequence;
    base_ = 1;
  }
  if (!missing.empty()) note_ += (note_.empty() ? "journal " + path_ : std::string(";")) + " started anyway: it " + missing;
  // Both slots: a salvage may have numbered the units afresh, below what the other slot holds.
  writeManifest(base_, durable_, false);
  writeManifest(base_, durable_, true);
  // The threshold follows the live state: a long journal left by crashes compacts at the first flush.
  compactedBytes_ = imageBytes_ = leading;
  return records;
}

void Journal::attach(const std::shared_ptr<RealmState>& realm) {
  std::lock_guard<std::mutex> hold(realmsMutex_);
  for (const auto& known : realms_)
    if (known == realm) return;
  realms_.push_back(realm);
}

void Journal::detach(const std::shared_ptr<RealmState>& realm) {
  std::lock_guard<std::mutex> hold(realmsMutex_);
  for (auto it = realms_.begin(); it != realms_.end(); ++it) {
    if (*it != realm) continue;
    realms_.erase(it);
    return;
  }
}

std::uint64_t Journal::append(const JournalRecord& record) {
  if (openUnit && openUnit->journal_ == this) {
    encodeInBody(record, openUnit->body_);
    ++openUnit->count_;
    return 0;
  }
  std::string body;
  encodeInBody(record, body);
  const std::uint32_t bodyCrc = crc32(body.data(), body.size());
  std::lock_guard<std::mutex> hold(mutex_);
  return addUnitLocked(body, bodyCrc, 1);
}

std::uint64_t Journal::addUnitLocked(const std::string& body, std::uint32_t bodyCrc, std::uint32_t count) {
  ++appended_;
  // While the file is behind the tables, a unit adds nothing: the repair writes the state whole.
  // So does a unit too large for its header.
  if (broken_) return appended_;
  if (body.size() > 0xFFFFFFFFu - kHeaderBytes || count >= kImagePart) {
    broken_ = true;
    pending_.clear();
    nextRepair_ = Clock::now();
    return appended_;
  }
  pending_ += unitHeader(body.size(), bodyCrc, appended_, count);
  pending_ += body;
  return appended_;
}

bool Journal::sync(std::uint64_t ticket) {
  std::unique_lock<std::mutex> hold(mutex_);
  while (durable_ < ticket) {
    if (flushing_) {
      flushed_.wait(hold);
      continue;
    }
    if (broken_ && Clock::now() < nextRepair_) return false;
    flushing_ = true;
    bool whole = true, compactNow = false;
    if (broken_) {
      hold.unlock();
      whole = compact();
      hold.lock();
      if (!whole) nextRepair_ = Clock::now() + kRepairPause;
    } else {
      compactNow = flush(hold);
    }
    flushing_ = false;
    flushed_.notify_all();
    if (compactNow) {
      hold.unlock();
      compactAside();
      hold.lock();
    }
    if (!whole || (broken_ && durable_ < ticket)) return false;
  }
  return true;
}

bool Journal::flush(std::unique_lock<std::mutex>& hold) {
  std::string batch;
  batch.swap(pending_);
  const std::uint64_t upto = appended_, base = base_;
  // A batch taken after a compaction's image goes to its file too, but for the front, which the
  // image holds already; one taken before is in the image whole.
  const bool sinceImage = compacting_;
  const std::size_t skip = sinceImage ? std::min(skipBytes_, batch.size()) : 0;
  skipBytes_ -= skip;
  const std::size_t before = fileBytes_;
  hold.unlock();
  bool ok = file_->append(batch) && (!syncToDisk_ || file_->sync());
  if (!ok) {
    const std::string error = lastIoError().text;
    // Part of the batch may have reached the file: cut it off. A file that cannot be cut ends in
    // an incomplete unit, which the next start cuts.
    file_->truncate(before);
    std::fprintf(stderr,
                 "tarnd: journal %s: a write failed (%s); changes answer 2035 until the folder has room for a new "
                 "journal of the whole state (about %zu bytes)\n",
                 path_.c_str(), error.c_str(), std::max(imageBytes_, before));
  } else {
    writeManifest(base, upto, false);
  }
  hold.lock();
  if (!ok) {
    // The tables hold changes the file lacks; from now on only a whole new file can catch up.
    broken_ = true;
    ++failures_;
    pending_.clear();
    nextRepair_ = Clock::now() + kRepairPause;
    return false;
  }
  if (sinceImage && compacting_) sinceImage_.append(batch, skip, std::string::npos);
  durable_ = upto;
  fileBytes_ += batch.size();
  flushed_.notify_all();
  return !compacting_ && fileBytes_ > kCompactBytes && fileBytes_ > 4 * compactedBytes_;
}

std::string Journal::imageLocked() {
  // Every appended unit is applied to the tables held now, so their state replaces them all: the
  // image's parts carry the number of the last of them.
  std::string image(kTag, kTagBytes), body;
  std::uint32_t count = 0;
  auto part = [&] {
    image += unitHeader(body.size(), crc32(body.data(), body.size()), appended_, count | kImagePart);
    image += body;
    body.clear();
    count = 0;
  };
  auto add = [&](const JournalRecord& record) {
    encodeInBody(record, body);
    if (++count, body.size() >= kImagePartBytes) part();
  };
  for (const auto& realm : realms_) {
    JournalRecord record;
    record.realm = realm->name;
    for (const auto& entry : realm->points.points) {
      record.name = entry.first;
      record.point = entry.second;
      add(record);
    }
    std::vector<JournalRecord> channels;
    realm->ports.keptRecordsLocked(channels);
    for (const JournalRecord& channel : channels) add(channel);
  }
  if (count > 0 || image.size() == kTagBytes) part();  // an empty state is one empty part
  return image;
}

std::vector<std::unique_lock<std::mutex>> Journal::holdTablesLocked() {
  std::vector<std::unique_lock<std::mutex>> tables;
  for (const auto& realm : realms_) {
    tables.emplace_back(realm->points.mutex);
    tables.push_back(realm->ports.holdForJournal());
  }
  return tables;
}

bool Journal::compact() {
  std::lock_guard<std::mutex> registry(realmsMutex_);
  const std::vector<std::unique_lock<std::mutex>> tables = holdTablesLocked();
  std::lock_guard<std::mutex> hold(mutex_);
  const std::string image = imageLocked();
  const std::string aside = path_ + ".repair";
  bool ok = writeWholeFile(aside, image);
  if (ok) file_.reset();  // Windows renames over no open file; a failed write keeps the journal open
  ok = ok && replaceJournal(aside, path_);
  if (!file_) {
    try {
      reopen();
    } catch (const std::runtime_error&) {
      if (ok) ++failures_;
      broken_ = true;
      return false;
    }
  }
  if (!ok) {
    env().remove(aside);
    compactedBytes_ = fileBytes_;  // an intact journal stays in use; try again after more growth
    imageBytes_ = image.size();
    return false;
  }
  ++failures_;  // a compaction writing aside now would lack what this one holds
  broken_ = false;
  pending_.clear();
  skipBytes_ = 0;
  durable_ = base_ = appended_;
  writeManifest(base_, durable_, true);
  fileBytes_ = compactedBytes_ = imageBytes_ = image.size();
  return true;
}

void Journal::compactAside() {
  std::string image;
  std::uint64_t sequence = 0;
  unsigned failures = 0;
  {
    std::lock_guard<std::mutex> registry(realmsMutex_);
    const std::vector<std::unique_lock<std::mutex>> tables = holdTablesLocked();
    std::lock_guard<std::mutex> hold(mutex_);
    if (broken_ || compacting_) return;
    image = imageLocked();
    sequence = appended_;
    failures = failures_;
    skipBytes_ = pending_.size();
    sinceImage_.clear();
    compacting_ = true;
  }
  // Writers go on meanwhile: their units reach the journal and, through flush(), sinceImage_.
  const std::string aside = path_ + ".compact";
  std::unique_ptr<File> file = env().open(aside, OpenFor::kWrite);
  bool ok = file && file->append(image) && file->sync();

  std::unique_lock<std::mutex> hold(mutex_);
  while (flushing_) flushed_.wait(hold);
  flushing_ = true;  // no flush until the new file is in place
  ok = ok && failures == failures_;
  std::string since;
  since.swap(sinceImage_);
  hold.unlock();
  ok = ok && file->append(since) && file->sync();
  file.reset();
  if (ok) file_.reset();  // no flush runs meanwhile (flushing_ is set)
  ok = ok && replaceJournal(aside, path_);
  bool reopened = true;
  if (!file_) {
    try {
      reopen();
    } catch (const std::runtime_error&) {
      reopened = false;
    }
  }
  hold.lock();
  compacting_ = false;
  if (!reopened) {
    // The journal (the new one, or the old one still in place) cannot be opened again: the repair
    // writes the state whole.
    broken_ = true;
    ++failures_;
    nextRepair_ = Clock::now();
  }
  if (!ok) {
    env().remove(aside);
    compactedBytes_ = fileBytes_;  // the journal stays in use; try again after more growth
  } else {
    // What was pending when the image was taken is in it: the new file must not repeat it.
    pending_.erase(0, skipBytes_);
    skipBytes_ = 0;
    durable_ = std::max(durable_, sequence);
    base_ = sequence;
    fileBytes_ = image.size() + since.size();
    compactedBytes_ = imageBytes_ = image.size();
    if (reopened) writeManifest(base_, durable_, true);
  }
  flushing_ = false;
  flushed_.notify_all();
}

}  // namespace tarn
