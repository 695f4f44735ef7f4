// Remote readers of snapshot files (FileHandle servants), one set per server host.
//
// open() opens the file and activates a reader over it; the reader keeps the open file, so it
// sees the file as it was when opened even when a new snapshot is renamed over the path
// meanwhile. A read hands out at most kMaxReadBytes at a time (a remote message has a size
// limit); the end flag is set with the reply that carries the last byte, and on every read
// after it. close() deactivates the reader and closes the file. A reader that nobody used for
// the idle time (TARN_IDLE_FILE_S seconds, 600 when unset) is reclaimed when the next file is
// opened; a call on it then raises OBJECT_NOT_EXIST.
//
// Thread-safe: one mutex guards the set; each reader has its own for its file position.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ostrel/api/middleware/kxTarn.h"

namespace tarn {

class FaultBook;
class FileReader;

class FileHandles {
 public:
  static constexpr unsigned kMaxReadBytes = 1u << 20;

  explicit FileHandles(FaultBook& faults);
  ~FileHandles();  // deactivates every reader still open
  FileHandles(const FileHandles&) = delete;
  FileHandles& operator=(const FileHandles&) = delete;

  // A reader over the file at `path`; nil when it cannot be opened. The caller releases it.
  kxTarn::FileHandle_ptr open(const std::string& path);
  // Deactivates the reader with object id `id` (once; later calls do nothing).
  void retire(const std::string& id);

 private:
  void reclaimIdleLocked();

  FaultBook& faults_;
  const std::chrono::seconds idle_;
  std::mutex mutex_;
  unsigned long serial_ = 0;                               // GUARDED_BY(mutex_)
  std::map<std::string, FileReader*> open_;                // GUARDED_BY(mutex_), by object id
};

}  // namespace tarn
