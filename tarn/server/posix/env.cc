// The server's files on POSIX: file descriptors, fdatasync, rename and flock.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tarn/server/env.h"

namespace tarn {
namespace {

bool failErrno() {
  const int error = errno;
  const IoFault fault = error == ENOENT                      ? IoFault::kMissing
                        : error == ELOOP                     ? IoFault::kLink
                        : error == EWOULDBLOCK               ? IoFault::kBusy
                        : error == ENOSPC || error == EFBIG  ? IoFault::kNoRoom
                                                             : IoFault::kOther;
  return failIo(fault, std::strerror(error));
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  bool writeAt(std::uint64_t at, const char* bytes, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? failErrno() : failIo(IoFault::kNoRoom, "no byte was written");
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  long long readAt(std::uint64_t at, char* into, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::pread(fd_, into, size, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? (failErrno(), -1) : n;
    }
  }

  bool size(std::uint64_t& bytes) override {
    struct stat info;
    if (::fstat(fd_, &info) != 0) return failErrno();
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
  }

  bool truncate(std::uint64_t bytes) override {
    return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0 || failErrno();
  }

  bool sync() override { return ::fdatasync(fd_) == 0 || failErrno(); }

  bool lock() override { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0 || failErrno(); }

 private:
  const int fd_;
};

class PosixEnv : public Env {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenFor mode) override {
    int flags = O_NOFOLLOW | O_CLOEXEC;
    if (mode == OpenFor::kRead) flags |= O_RDONLY;
    if (mode == OpenFor::kUpdate) flags |= O_RDWR | O_CREAT;
    if (mode == OpenFor::kWrite) flags |= O_RDWR | O_CREAT | O_TRUNC;
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return failErrno(), nullptr;
    return std::make_unique<PosixFile>(fd);
  }

  bool replace(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0 || failErrno();
  }

  bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 || failErrno(); }

  std::string makeTempFolder(const std::string& stem) override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "-XXXXXX";
    return ::mkdtemp(&pattern[0]) ? pattern : (failErrno(), std::string());
  }

  void syncFolder(const std::string& folder) override {
    // A rename is kept across a crash only once the folder that holds it is synced.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  bool isLink(const std::string& path) override {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  }

  bool plainName(const std::string&) override { return true; }
  bool foldsCase() override { return false; }
  unsigned long processId() override { return static_cast<unsigned long>(::getpid()); }
  bool processGone(unsigned long pid) override {
    // 0 and what does not fit a pid_t would name a group of processes, not one.
    return pid > 0 && pid <= 0x7FFFFFFF && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  }
};

}  // namespace

Env& platformEnv() {
  static PosixEnv posix;
  return posix;
}

}  // namespace tarn
