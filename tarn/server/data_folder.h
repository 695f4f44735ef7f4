// The layout of a server's data folder, and the lock that keeps one tarnd per folder.
//
// The server owns, directly in the folder: the journal (points.journal), its compaction file
// (points.journal.compact), journals set aside by a salvage (points.journal.damaged-TIME) and the
// lock file (tarnd.lock). Aside files of snapshot writes (NAME.part-PID-N, snapshot_file.h) and
// files a write displaced while readers held them (NAME.replaced-PID-N, Windows only) are
// the server's too, wherever they lie. Every other name is the clients': snapshot files go
// anywhere in the folder under names that are not the server's. serverOwnsName() is the one
// place that decides, used both to refuse a client's file name and by the start-up sweep, so a
// client's file never looks like something the server may remove.
//
// Plain functions and one lock object; any thread may call them.
#pragma once

#include <memory>
#include <string>

#include "tarn/server/env.h"

namespace tarn {

constexpr char kJournalFile[] = "points.journal";
constexpr char kLockFile[] = "tarnd.lock";

// True when `name` (a relative path, '/'-separated) has a part that names a file of the
// server's: one starting with "points.journal", the lock file, or an aside file.
bool serverOwnsName(const std::string& name);
// True when `file` (one path part) is an aside file NAME.part-PID-N or NAME.replaced-PID-N; its
// PID goes to `pid`.
bool isAsideFile(const std::string& file, unsigned long& pid);

// An exclusive lock on a data folder for the life of the object (File::lock on DIR/tarnd.lock, which
// holds the owner's process id and the incarnation of its run: taking the lock makes the
// connection handles of this process those of the next incarnation, handles.h). Throws std::runtime_error "data folder DIR is in use by tarnd
// PID" when another process holds it, or naming the cause when the folder cannot be used. The
// lock goes with the process, so a killed server never leaves the folder locked.
// Not copyable or movable: it owns the open lock file.
class DataFolderLock {
 public:
  explicit DataFolderLock(const std::string& dir);
  ~DataFolderLock();
  DataFolderLock(const DataFolderLock&) = delete;
  DataFolderLock& operator=(const DataFolderLock&) = delete;

  unsigned incarnation() const { return incarnation_; }

 private:
  std::unique_ptr<File> file_;
  unsigned incarnation_ = 0;
};

}  // namespace tarn
