#include "tarn/server/snapshot_file.h"

#include <atomic>

#include "tarn/client/codes.h"
#include "tarn/server/data_folder.h"
#include "tarn/server/env.h"
#include "tarn/server/file_handles.h"
#include "tarn/server/file_io.h"
#include "tarn/server/host.h"

namespace tarn {
namespace {

constexpr char kTag[4] = {'T', 'S', 'N', 'P'};

}  // namespace

int snapshotPath(const std::string& folder, const char* file, std::string& path) {
  if (!file || !*file || *file == '/') return kBadFileName;
  const std::string name = file;
  if (serverOwnsName(name)) return kBadFileName;
  if (folder.empty()) return kFileError;
  std::string walked = folder;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || !env().plainName(part)) return kBadFileName;
    // A link inside the folder may lead anywhere: no part of a client's name may be one.
    walked += "/" + part;
    if (env().isLink(walked)) return kBadFileName;
    start = end + 1;
  }
  path = walked;
  return kOk;
}

int writeSnapshotFile(const std::string& path, SnapshotKind kind, const std::string& body,
                      const std::function<void()>& halfway) {
  static std::atomic<unsigned> serial{0};
  std::string header(kTag, sizeof kTag);
  putU32(header, kSnapshotFormat);
  putU32(header, static_cast<std::uint32_t>(kind));
  putU32(header, crc32(body.data(), body.size()));
  putU64(header, body.size());
  const std::string aside = path + ".part-" + std::to_string(env().processId()) + "-" + std::to_string(++serial);
  std::unique_ptr<File> file = env().open(aside, OpenFor::kWrite);
  if (!file) return kFileError;
  const std::size_t half = body.size() / 2;
  bool ok = file->append(header) && file->append(body.data(), half);
  if (ok && halfway) halfway();
  ok = ok && file->append(body.data() + half, body.size() - half) && file->sync();
  file.reset();
  if (!ok || !env().replace(aside, path)) {
    env().remove(aside);
    return kFileError;
  }
  env().syncFolder(folderOf(path));
  return kOk;
}

int readSnapshotFile(const std::string& path, SnapshotKind kind, std::string& body) {
  const std::unique_ptr<File> file = env().open(path, OpenFor::kRead);
  if (!file) {
    const IoFault fault = lastIoError().fault;
    return fault == IoFault::kMissing ? kNoSuchSnapshot : fault == IoFault::kLink ? kBadFileName : kFileError;
  }
  std::uint64_t size = 0;
  std::string bytes;
  if (!file->size(size)) return kFileError;
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0 && !file->readAll(0, &bytes[0], bytes.size())) return kFileError;
  if (bytes.size() < kSnapshotHeaderBytes || bytes.compare(0, sizeof kTag, kTag, sizeof kTag) != 0)
    return kSnapshotDamaged;
  if (getU32(&bytes[4]) > kSnapshotFormat) return kSnapshotTooNew;
  const std::uint64_t length = getU64(&bytes[16]);
  if (getU32(&bytes[8]) != static_cast<std::uint32_t>(kind) || length != bytes.size() - kSnapshotHeaderBytes ||
      crc32(bytes.data() + kSnapshotHeaderBytes, length) != getU32(&bytes[12]))
    return kSnapshotDamaged;
  body = bytes.substr(kSnapshotHeaderBytes);
  return kOk;
}

std::string encodePoints(const std::map<std::string, Point>& points) {
  std::string body;
  putU32(body, static_cast<std::uint32_t>(points.size()));
  for (const auto& entry : points) {
    putBytes(body, entry.first.data(), entry.first.size());
    putBytes(body, entry.second.type.data(), entry.second.type.size());
    body.push_back(entry.second.written ? 1 : 0);
    putBytes(body, entry.second.value.data(), entry.second.value.size());
  }
  return body;
}

bool decodePoints(const std::string& body, std::map<std::string, Point>& points) {
  ByteReader in(body.data(), body.size());
  std::uint32_t count = 0;
  if (!in.u32(count)) return false;
  points.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name, value;
    Point point;
    unsigned char written = 0;
    if (!in.text(name) || !in.text(point.type) || !in.byte(written) || !in.text(value)) return false;
    point.written = written != 0;
    point.value.assign(value.begin(), value.end());
    points[name] = std::move(point);
  }
  return in.done();
}

int makeSnapshotFile(ServerHost& host, RealmState& realm, std::string& current, const char* file,
                     const SnapshotStep& save) {
  std::string path;
  if (int rc = snapshotPath(host.snapshotFolder(), file, path)) return rc;
  std::lock_guard<std::mutex> hold(realm.snapshotMutex);
  const int rc = save(path);
  if (rc == kOk) current = path;
  return rc;
}

int loadSnapshotFile(ServerHost& host, RealmState& realm, const char* file, const SnapshotStep& restore) {
  std::string path;
  if (int rc = snapshotPath(host.snapshotFolder(), file, path)) return rc;
  std::lock_guard<std::mutex> hold(realm.snapshotMutex);
  return restore(path);
}

kxTarn::FileHandle_ptr openSnapshotFile(ServerHost& host, RealmState& realm, std::string& current,
                                        const char* stem, const SnapshotStep& save, const char* process) {
  std::string client;
  if (!FileHandles::readerClient(process, client)) return kxTarn::FileHandle::_nil();
  std::lock_guard<std::mutex> hold(realm.snapshotMutex);
  if (!current.empty()) return host.files().open(current, client);
  // Nothing made since the start: a file of the realm as it is now, written anew at every such
  // open and never taken for a made one, so that the next open sees the realm as it is then.
  std::string path;
  const std::string name = std::string(stem) + "." + hexName(realm.name) + ".snapshot";
  if (snapshotPath(host.snapshotFolder(), name.c_str(), path) || save(path)) return kxTarn::FileHandle::_nil();
  return host.files().open(path, client);
}

std::size_t removeStaleAsideFiles(const std::string& folder) {
  std::vector<std::string> files;
  env().list(folder, true, files);
  std::size_t removed = 0;
  for (const std::string& file : files) {
    unsigned long pid = 0;
    if (!isAsideFile(file.substr(file.rfind('/') + 1), pid)) continue;
    if (env().processGone(pid) && env().remove(folder + "/" + file)) ++removed;
  }
  return removed;
}

std::string hexName(const std::string& text) {
  if (text.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : text) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

}  // namespace tarn
