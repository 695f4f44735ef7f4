// The server's one way to the file system: everything tarnd does with files (the journal, its
// manifest, snapshot files and their readers, the data folder's lock) goes through Env and File.
// posix/env.cc and windows/env.cc implement it; nothing else in the server includes a platform
// header for files. Paths are UTF-8 and '/'-separated on both.
//
// A call that fails answers false (or null, or -1) and leaves its cause in lastIoError() of the
// calling thread, as errno does. Any thread may call Env; one File is used by one thread at a time
// (its owner's lock says which).
//
// Tests put a wrapper in front of the platform's Env with useEnv() (a disk that fills up, a
// rename that fails) to reach the server's failure paths on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarn {

enum class IoFault {
  kNone,
  kMissing,  // the file or folder does not exist
  kLink,     // the last part of the path is a link (never followed)
  kBusy,     // another process holds the lock
  kNoRoom,   // the disk, or a limit on the file's size, is full
  kOther,
};

struct IoError {
  IoFault fault = IoFault::kNone;
  std::string text;  // the system's words, for messages
};

// The last failure of an Env or File call on this thread.
const IoError& lastIoError();
// Implementations (and test wrappers) record a failure; answers false for `return fail(...)`.
bool failIo(IoFault fault, std::string text);

// An open file; closed when destroyed. Not copyable or movable.
class File {
 public:
  File() = default;
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Writes all of `bytes` at the file's end. False when not all of them were written: some may
  // have been. (The end is read first: one writer per file, as the owner's lock makes it.)
  bool append(const char* bytes, std::size_t size);
  bool append(const std::string& bytes) { return append(bytes.data(), bytes.size()); }
  // Writes all of `bytes` at offset `at` (retrying short writes).
  virtual bool writeAt(std::uint64_t at, const char* bytes, std::size_t size) = 0;
  // Reads up to `size` bytes at offset `at`: the count, 0 at the end, -1 on an error.
  virtual long long readAt(std::uint64_t at, char* into, std::size_t size) = 0;
  // Reads exactly `size` bytes at `at`; false when the file ends first or a read fails.
  bool readAll(std::uint64_t at, char* into, std::size_t size);
  virtual bool size(std::uint64_t& bytes) = 0;
  virtual bool truncate(std::uint64_t bytes) = 0;
  // Returns once what was written is on disk.
  virtual bool sync() = 0;
  // An exclusive lock between processes, held until the file closes; false at once (kBusy) when
  // another process holds it. The bytes stay readable by others.
  virtual bool lock() = 0;
};

enum class OpenFor {
  kRead,    // reading; the file must exist
  kUpdate,  // reading and writing; made when missing, kept when present
  kWrite,   // reading and writing; made when missing, emptied when present
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens `path`, never through a link at its last part (kLink). Null on failure.
  virtual std::unique_ptr<File> open(const std::string& path, OpenFor mode) = 0;
  // Renames `from` to `to`, replacing `to` in one step; durable once syncFolder() of its folder
  // returns.
  virtual bool replace(const std::string& from, const std::string& to) = 0;
  // Removes one file (kMissing when there is none).
  virtual bool remove(const std::string& path) = 0;
  // Removes a folder and everything in it; true when nothing is left. (Both platforms share
  // this and makeFolder() and list(), written with std::filesystem.)
  virtual bool removeAll(const std::string& folder);
  // Makes a folder; true when it exists afterwards.
  virtual bool makeFolder(const std::string& path);
  // Makes a new folder of its own in the temporary folder, named `stem`-XXXXXX; its path, or ""
  // when none can be made.
  virtual std::string makeTempFolder(const std::string& stem) = 0;
  // Makes the names in `folder` (renames, new and removed files) durable.
  virtual void syncFolder(const std::string& folder) = 0;
  // True when the path's last part exists and is a link (a reparse point on Windows).
  virtual bool isLink(const std::string& path) = 0;
  // The regular files under `folder` ('/'-separated paths relative to it; with `recursive`, in
  // its subfolders too, never through a link). False when the folder cannot be read.
  virtual bool list(const std::string& folder, bool recursive, std::vector<std::string>& files);
  // Whether one part of a client's file name is a name this file system keeps as written: on
  // Windows no '\', ':', device name or trailing dot or space, any of which would name another
  // file or stream than the one meant.
  virtual bool plainName(const std::string& part) = 0;
  // Whether two names that differ only in letter case name the same file.
  virtual bool foldsCase() = 0;
  virtual unsigned long processId() = 0;
  // True when no process `pid` runs any more (false when unsure).
  virtual bool processGone(unsigned long pid) = 0;
};

// The Env the server uses: the platform's, unless a test set another.
Env& env();
// The platform's own.
Env& platformEnv();
// Makes `wrapper` the server's Env (null: the platform's again). The caller keeps it alive
// until it is replaced; set it while no server runs in this process.
void useEnv(Env* wrapper);

// An Env that passes every call to another; tests override what they break.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  std::unique_ptr<File> open(const std::string& path, OpenFor mode) override { return target_.open(path, mode); }
  bool replace(const std::string& from, const std::string& to) override { return target_.replace(from, to); }
  bool remove(const std::string& path) override { return target_.remove(path); }
  bool removeAll(const std::string& folder) override { return target_.removeAll(folder); }
  bool makeFolder(const std::string& path) override { return target_.makeFolder(path); }
  std::string makeTempFolder(const std::string& stem) override { return target_.makeTempFolder(stem); }
  void syncFolder(const std::string& folder) override { target_.syncFolder(folder); }
  bool isLink(const std::string& path) override { return target_.isLink(path); }
  bool list(const std::string& folder, bool recursive, std::vector<std::string>& files) override {
    return target_.list(folder, recursive, files);
  }
  bool plainName(const std::string& part) override { return target_.plainName(part); }
  bool foldsCase() override { return target_.foldsCase(); }
  unsigned long processId() override { return target_.processId(); }
  bool processGone(unsigned long pid) override { return target_.processGone(pid); }

 protected:
  Env& target_;
};

}  // namespace tarn
