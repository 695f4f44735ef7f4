#include "tarn/server/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

Journal::Journal(const std::string& dir, bool syncToDisk) : path_(dir + "/points.journal"), syncToDisk_(syncToDisk) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
    throw std::runtime_error("data folder " + dir + ": " + std::strerror(errno));
  reopen();
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

void Journal::reopen() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("journal " + path_ + ": " + std::strerror(errno));
}

std::size_t Journal::replay(const std::function<void(const JournalRecord&)>& apply) {
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
  if (bytes.compare(0, kTagBytes, kTag) != 0) throw std::runtime_error("journal " + path_ + ": not a journal file");

  std::size_t at = kTagBytes, applied = 0;
  while (at + kFrameBytes <= bytes.size()) {
    const std::uint32_t length = getU32(bytes.data() + at);
    const std::uint32_t checksum = getU32(bytes.data() + at + 4);
    if (length > bytes.size() - at - kFrameBytes) break;
    const char* payload = bytes.data() + at + kFrameBytes;
    JournalRecord record;
    if (crc32(payload, length) != checksum || !decode(payload, length, record)) break;
    apply(record);
    ++applied;
    at += kFrameBytes + length;
  }
  if (at < bytes.size() && (::ftruncate(fd_, static_cast<off_t>(at)) != 0 || ::fdatasync(fd_) != 0))
    throw std::runtime_error("journal " + path_ + ": cannot cut the torn tail: " + std::strerror(errno));
  fileBytes_ = compactedBytes_ = at;
  return applied;
}

void Journal::attach(const std::shared_ptr<RealmState>& realm) {
  std::lock_guard<std::mutex> hold(realmsMutex_);
  for (const auto& known : realms_)
    if (known == realm) return;
  realms_.push_back(realm);
}

std::uint64_t Journal::append(const JournalRecord& record) {
  const std::string framed = encodeJournalRecord(record);
  std::lock_guard<std::mutex> hold(mutex_);
  pending_ += framed;
  return ++appended_;
}

bool Journal::sync(std::uint64_t ticket) {
  std::unique_lock<std::mutex> hold(mutex_);
  while (durable_ < ticket) {
    if (failed_) return false;
    if (flushing_) {
      flushed_.wait(hold);
      continue;
    }
    flushing_ = true;
    const bool grown = flush(hold);
    if (grown) {
      hold.unlock();
      compact();
      hold.lock();
    }
    flushing_ = false;
    flushed_.notify_all();
  }
  return true;
}

bool Journal::flush(std::unique_lock<std::mutex>& hold) {
  std::string batch;
  batch.swap(pending_);
  const std::uint64_t upto = appended_;
  hold.unlock();
  const bool ok = writeAll(fd_, batch) && (!syncToDisk_ || ::fdatasync(fd_) == 0);
  hold.lock();
  if (!ok) {
    failed_ = true;
    return false;
  }
  durable_ = upto;
  fileBytes_ += batch.size();
  flushed_.notify_all();
  return fileBytes_ > kCompactBytes && fileBytes_ > 4 * compactedBytes_;
}

void Journal::compact() {
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
  const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && writeAll(fd, image) && ::fdatasync(fd) == 0;
  if (fd >= 0) ::close(fd);
  ok = ok && std::rename(aside.c_str(), path_.c_str()) == 0;
  if (!ok) {
    ::unlink(aside.c_str());
    compactedBytes_ = fileBytes_;  // the journal itself is whole; try again after more growth
    return;
  }
  syncFolder(folderOf(path_));
  try {
    reopen();
  } catch (const std::runtime_error&) {
    failed_ = true;
    return;
  }
  pending_.clear();
  durable_ = appended_;
  fileBytes_ = compactedBytes_ = image.size();
}

}  // namespace tarn
