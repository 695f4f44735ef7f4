// Remote readers of snapshot files (FileHandle servants), one set per server host.
//
// open() opens the file and activates a reader over it; the reader keeps the open file, so it
// sees the file as it was when opened even when a new snapshot is renamed over the path
// meanwhile. A read hands out at most kMaxReadBytes at a time (a remote message has a size
// limit); the end flag is set with the reply that carries the last byte, and on every read
// after it. close() deactivates the reader and closes the file. A reader that nobody used for
// the idle time (TARN_IDLE_FILE_S seconds, 600 when unset) is reclaimed when the next file is
// opened, before anything else; a call on it then raises OBJECT_NOT_EXIST.
//
// Budgets: at most `total` readers are open, and at most `perClient` in one client's share (its
// process when it names itself, else its connection: callers.h); past either, open() answers nil and opens nothing, so readers that are
// never closed cannot take the server's file descriptors. A reader's object key carries 128
// random bits, so no client can guess and read another client's open reader.
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

  FileHandles(FaultBook& faults, std::size_t total, std::size_t perClient);
  ~FileHandles();  // deactivates every reader still open
  FileHandles(const FileHandles&) = delete;
  FileHandles& operator=(const FileHandles&) = delete;

  // A reader over the file at `path`, counted in `client`'s share (readerClient()); nil when it
  // cannot be opened or a budget is used up. The caller releases it.
  kxTarn::FileHandle_ptr open(const std::string& path, const std::string& client);
  // Whose share a reader opened by the current call counts in: the process it names ("host:pid",
  // as open_snapshot_file_from passes it), or, when it names none, the client connection the
  // call came over. False when the name is too long to keep.
  static bool readerClient(const char* process, std::string& client);
  // Deactivates the reader with object id `id` (once; later calls do nothing).
  void retire(const std::string& id);

 private:
  void reclaimIdleLocked();

  struct Open {
    FileReader* reader;
    std::string client;
  };
  // Forgets the reader `it` and deactivates it. REQUIRES: mutex_ held.
  std::map<std::string, Open>::iterator dropLocked(std::map<std::string, Open>::iterator it);

  FaultBook& faults_;
  const std::chrono::seconds idle_;
  const std::size_t total_, perClient_;
  std::mutex mutex_;
  std::map<std::string, Open> open_;                       // GUARDED_BY(mutex_), by object id
  std::map<std::string, std::size_t> byClient_;            // GUARDED_BY(mutex_): open readers
};

}  // namespace tarn
