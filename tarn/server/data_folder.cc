#include "tarn/server/data_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tarn/server/file_io.h"
#include "tarn/server/handles.h"

namespace tarn {

bool isAsideFile(const std::string& file, pid_t& pid) {
  // NAME.part-PID-N with a non-empty NAME, a PID of 1 to 9 digits and N of at least one digit.
  const std::size_t mark = file.rfind(".part-");
  if (mark == std::string::npos || mark == 0) return false;
  const std::size_t dash = file.find('-', mark + 6);
  if (dash == std::string::npos || dash == mark + 6 || dash - mark - 6 > 9 || dash + 1 == file.size()) return false;
  for (std::size_t i = mark + 6; i < file.size(); ++i)
    if (i != dash && (file[i] < '0' || file[i] > '9')) return false;
  pid = static_cast<pid_t>(std::stol(file.substr(mark + 6, dash - mark - 6)));
  return true;
}

bool serverOwnsName(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    pid_t pid = 0;
    if (part.compare(0, sizeof kJournalFile - 1, kJournalFile) == 0 || part == kLockFile || isAsideFile(part, pid))
      return true;
    start = end + 1;
  }
  return false;
}

DataFolderLock::DataFolderLock(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
    throw std::runtime_error("data folder " + dir + ": " + std::strerror(errno));
  const std::string path = dir + "/" + kLockFile;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) throw std::runtime_error("data folder " + dir + ": cannot open " + path + ": " + std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    char owner[32] = {0};
    const ssize_t n = ::pread(fd_, owner, sizeof owner - 1, 0);
    ::close(fd_);
    fd_ = -1;
    if (error != EWOULDBLOCK)
      throw std::runtime_error("data folder " + dir + ": cannot lock " + path + ": " + std::strerror(error));
    std::string pid = n > 0 ? std::string(owner, static_cast<std::size_t>(n)) : "(unknown)";
    pid = pid.substr(0, pid.find('\n'));
    throw std::runtime_error("data folder " + dir + " is in use by tarnd " + pid);
  }
  // The file holds the owner's process id and the incarnation of its run (handles.h).
  char held[64] = {0};
  const ssize_t got = ::pread(fd_, held, sizeof held - 1, 0);
  unsigned long previousPid = 0, previous = 0;
  if (got > 0 && std::sscanf(held, "%lu %lu", &previousPid, &previous) != 2) previous = 0;
  incarnation_ = setHandleIncarnation(static_cast<unsigned>(previous));
  const std::string mine = std::to_string(::getpid()) + "\n" + std::to_string(incarnation_) + "\n";
  // Without these the lock still holds; a second server's message and the next incarnation are
  // only poorer.
  if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, mine.data(), mine.size(), 0) == static_cast<ssize_t>(mine.size()))
    ::fdatasync(fd_);
}

DataFolderLock::~DataFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tarn
