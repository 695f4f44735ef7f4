#include "tarn/server/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "tarn/server/data_folder.h"
#include "tarn/server/file_io.h"

namespace tarn {
namespace {

constexpr char kTag[] = "TARNJNL1";
constexpr std::size_t kTagBytes = 8;
constexpr std::size_t kFrameBytes = 8;  // length and checksum

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

}  // namespace

std::string encodeJournalRecord(const JournalRecord& record) {
  // The payload is written after room for the frame, which is filled in once its size is known.
  std::string framed(kFrameBytes, '\0');
  framed.push_back(static_cast<char>(record.kind));
  putBytes(framed, record.realm.data(), record.realm.size());
  if (record.kind != JournalRecord::kRealmEmptied) putBytes(framed, record.name.data(), record.name.size());
  if (record.kind == JournalRecord::kPoint) {
    putBytes(framed, record.point.type.data(), record.point.type.size());
    framed.push_back(record.point.written ? 1 : 0);
    putBytes(framed, record.point.value.data(), record.point.value.size());
  }
  if (record.forChannel()) encodeChannel(record, framed);
  const std::size_t size = framed.size() - kFrameBytes;
  std::string frame;
  putU32(frame, static_cast<std::uint32_t>(size));
  putU32(frame, crc32(framed.data() + kFrameBytes, size));
  framed.replace(0, kFrameBytes, frame);
  return framed;
}

Journal::Journal(const std::string& dir, bool syncToDisk) : path_(dir + "/" + kJournalFile), syncToDisk_(syncToDisk) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
    throw std::runtime_error("data folder " + dir + ": " + std::strerror(errno));
  reopen();
}

Journal::~Journal() {
  // A clean stop is the last chance to keep what was answered kNotKept while the disk was full.
  if (broken_) compact();
  if (fd_ >= 0) ::close(fd_);
}

void Journal::reopen() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("journal " + path_ + ": " + std::strerror(errno));
}

namespace {

// Whether a whole record that passes its checksum starts at `at`; its length goes to `length`.
bool recordAt(const std::string& bytes, std::size_t at, JournalRecord& record, std::uint32_t& length) {
  if (at + kFrameBytes > bytes.size()) return false;
  length = getU32(bytes.data() + at);
  if (length > bytes.size() - at - kFrameBytes) return false;
  const char* payload = bytes.data() + at + kFrameBytes;
  record = JournalRecord();
  return crc32(payload, length) == getU32(bytes.data() + at + 4) && decode(payload, length, record);
}

// The next offset after `from` where a whole record starts; bytes.size() when none does.
std::size_t nextRecord(const std::string& bytes, std::size_t from) {
  JournalRecord record;
  std::uint32_t length = 0;
  for (std::size_t at = from + 1; at + kFrameBytes <= bytes.size(); ++at)
    if (recordAt(bytes, at, record, length)) return at;
  return bytes.size();
}

}  // namespace

std::size_t Journal::replay(const std::function<void(const JournalRecord&)>& apply, bool salvage) {
  std::string bytes;
  char chunk[1 << 16];
  ssize_t n = 0;
  ::lseek(fd_, 0, SEEK_SET);
  while ((n = ::read(fd_, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<std::size_t>(n));
  if (n < 0) throw std::runtime_error("journal " + path_ + ": " + std::strerror(errno));

  if (bytes.size() < kTagBytes) {
    // New, or torn before its tag was whole: start it afresh.
    if (::ftruncate(fd_, 0) != 0 || !writeAll(fd_, std::string(kTag, kTagBytes)) || ::fdatasync(fd_) != 0)
      throw std::runtime_error("journal " + path_ + ": " + std::strerror(errno));
    fileBytes_ = compactedBytes_ = kTagBytes;
    return 0;
  }
  const bool tagged = bytes.compare(0, kTagBytes, kTag) == 0;
  if (!tagged && !salvage) throw std::runtime_error("journal " + path_ + ": not a journal file");

  // Every whole record in order, stepping over damage to the next whole record.
  struct Span {
    std::size_t at, length;
  };
  std::vector<Span> whole;
  std::size_t firstDamage = tagged ? 0 : kTagBytes, damagedPlaces = tagged ? 0 : 1, droppedBytes = 0;
  std::size_t at = kTagBytes;
  while (at < bytes.size()) {
    JournalRecord record;
    std::uint32_t length = 0;
    if (recordAt(bytes, at, record, length)) {
      whole.push_back({at, kFrameBytes + length});
      at += kFrameBytes + length;
      continue;
    }
    const std::size_t next = nextRecord(bytes, at);
    if (firstDamage == 0) firstDamage = at;
    ++damagedPlaces;
    droppedBytes += next - at;
    at = next;
  }
  std::size_t after = 0;  // whole records after the first damage
  for (const Span& span : whole)
    if (damagedPlaces && span.at > firstDamage) ++after;

  if (after > 0 && !salvage)
    throw std::runtime_error("journal " + path_ + " is damaged at offset " + std::to_string(firstDamage) + " with " +
                             std::to_string(after) + " whole record" + (after == 1 ? "" : "s") +
                             " after the damage; the file is left as it is. Start tarnd with --salvage to keep "
                             "every whole record and set the damaged file aside");
  for (const Span& span : whole) {
    JournalRecord record;
    std::uint32_t length = 0;
    recordAt(bytes, span.at, record, length);
    apply(record);
  }
  if (damagedPlaces == 0) {
    fileBytes_ = compactedBytes_ = bytes.size();
    return whole.size();
  }
  if (after == 0 && tagged) {
    // A torn tail: the last write never finished, so it was never acknowledged.
    if (::ftruncate(fd_, static_cast<off_t>(firstDamage)) != 0 || ::fdatasync(fd_) != 0)
      throw std::runtime_error("journal " + path_ + ": cannot cut the torn tail: " + std::strerror(errno));
    note_ = "journal " + path_ + ": cut a torn last record (" + std::to_string(bytes.size() - firstDamage) +
            " bytes at offset " + std::to_string(firstDamage) + ")";
    fileBytes_ = compactedBytes_ = firstDamage;
    return whole.size();
  }
  // Salvage: the damaged file goes aside whole, the journal becomes the whole records alone.
  const std::string damaged = path_ + ".damaged-" + std::to_string(static_cast<long long>(::time(nullptr)));
  std::string kept(kTag, kTagBytes);
  for (const Span& span : whole) kept.append(bytes, span.at, span.length);
  const std::string aside = path_ + ".compact";
  auto writeFile = [](const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && writeAll(fd, content) && ::fdatasync(fd) == 0;
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    return ok;
  };
  if (!writeFile(damaged, bytes) || !writeFile(aside, kept) || std::rename(aside.c_str(), path_.c_str()) != 0)
    throw std::runtime_error("journal " + path_ + ": cannot salvage: " + std::strerror(errno));
  syncFolder(folderOf(path_));
  reopen();
  note_ = "journal " + path_ + " salvaged: kept " + std::to_string(whole.size()) + " whole records, dropped " +
          std::to_string(droppedBytes) + " damaged bytes in " + std::to_string(damagedPlaces) + " place" +
          (damagedPlaces == 1 ? "" : "s") + " (the first at offset " + std::to_string(firstDamage) +
          "); the damaged file is kept as " + damaged;
  fileBytes_ = compactedBytes_ = kept.size();
  return whole.size();
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
  std::lock_guard<std::mutex> hold(mutex_);
  // While the file is behind the tables, a record adds nothing: the repair writes the state whole.
  if (!broken_) pending_ += encodeJournalRecord(record);
  return ++appended_;
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
    bool whole = true;
    if (broken_) {
      hold.unlock();
      whole = compact();
      hold.lock();
      if (!whole) nextRepair_ = Clock::now() + kRepairPause;
    } else if (flush(hold)) {
      hold.unlock();
      compact();
      hold.lock();
    }
    flushing_ = false;
    flushed_.notify_all();
    if (!whole || (broken_ && durable_ < ticket)) return false;
  }
  return true;
}

bool Journal::flush(std::unique_lock<std::mutex>& hold) {
  std::string batch;
  batch.swap(pending_);
  const std::uint64_t upto = appended_;
  const std::size_t before = fileBytes_;
  hold.unlock();
  bool ok = writeAll(fd_, batch) && (!syncToDisk_ || ::fdatasync(fd_) == 0);
  if (!ok) {
    // Part of the batch may have reached the file: cut it off. A file that cannot be cut ends in
    // a torn record, which the next start cuts.
    const int cut = ::ftruncate(fd_, static_cast<off_t>(before));
    (void)cut;
  }
  hold.lock();
  if (!ok) {
    // The tables hold changes the file lacks; from now on only a whole new file can catch up.
    broken_ = true;
    pending_.clear();
    nextRepair_ = Clock::now() + kRepairPause;
    return false;
  }
  durable_ = upto;
  fileBytes_ += batch.size();
  flushed_.notify_all();
  return fileBytes_ > kCompactBytes && fileBytes_ > 4 * compactedBytes_;
}

bool Journal::compact() {
  std::lock_guard<std::mutex> registry(realmsMutex_);
  std::vector<std::unique_lock<std::mutex>> tables;
  for (const auto& realm : realms_) {
    tables.emplace_back(realm->points.mutex);
    tables.push_back(realm->ports.holdForJournal());
  }
  std::lock_guard<std::mutex> hold(mutex_);

  // Every appended record is applied to the tables held now, so their state replaces them all.
  std::string image(kTag, kTagBytes);
  for (const auto& realm : realms_) {
    JournalRecord record;
    record.realm = realm->name;
    for (const auto& entry : realm->points.points) {
      record.name = entry.first;
      record.point = entry.second;
      image += encodeJournalRecord(record);
    }
    std::vector<JournalRecord> channels;
    realm->ports.keptRecordsLocked(channels);
    for (const JournalRecord& channel : channels) image += encodeJournalRecord(channel);
  }
  const std::string aside = path_ + ".compact";
  const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && writeAll(fd, image) && ::fdatasync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(aside.c_str(), path_.c_str()) == 0;
  if (!ok) {
    ::unlink(aside.c_str());
    compactedBytes_ = fileBytes_;  // an intact journal stays in use; try again after more growth
    return false;
  }
  syncFolder(folderOf(path_));
  try {
    reopen();
  } catch (const std::runtime_error&) {
    broken_ = true;
    return false;
  }
  broken_ = false;
  pending_.clear();
  durable_ = appended_;
  fileBytes_ = compactedBytes_ = image.size();
  return true;
}

}  // namespace tarn
