#include "tarn/server/data_folder.h"

#include <cstdio>
#include <stdexcept>

#include "tarn/server/env.h"
#include "tarn/server/handles.h"

namespace tarn {

bool isAsideFile(const std::string& file, unsigned long& pid) {
  // NAME.MARK-PID-N with a non-empty NAME, a PID of 1 to 9 digits and N of at least one digit.
  for (const std::string mark : {".part-", ".replaced-"}) {
    const std::size_t at = file.rfind(mark), digits = at + mark.size();
    if (at == std::string::npos || at == 0) continue;
    const std::size_t dash = file.find('-', digits);
    if (dash == std::string::npos || dash == digits || dash - digits > 9 || dash + 1 == file.size()) continue;
    bool numbers = true;
    for (std::size_t i = digits; i < file.size(); ++i) numbers = numbers && (i == dash || (file[i] >= '0' && file[i] <= '9'));
    if (!numbers) continue;
    pid = std::stoul(file.substr(digits, dash - digits));
    return true;
  }
  return false;
}

bool serverOwnsName(const std::string& name) {
  const bool foldCase = env().foldsCase();
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    // Where "Points.Journal" names the journal, it is the server's too.
    if (foldCase)
      for (char& c : part) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    unsigned long pid = 0;
    if (part.compare(0, sizeof kJournalFile - 1, kJournalFile) == 0 || part == kLockFile || isAsideFile(part, pid))
      return true;
    start = end + 1;
  }
  return false;
}

DataFolderLock::DataFolderLock(const std::string& dir) {
  if (!env().makeFolder(dir)) throw std::runtime_error("data folder " + dir + ": " + lastIoError().text);
  const std::string path = dir + "/" + kLockFile;
  file_ = env().open(path, OpenFor::kUpdate);
  if (!file_) throw std::runtime_error("data folder " + dir + ": cannot open " + path + ": " + lastIoError().text);
  const bool locked = file_->lock();
  const IoError error = lastIoError();
  // The owner's process id and the incarnation of its run (handles.h).
  char held[64] = {0};
  const long long got = file_->readAt(0, held, sizeof held - 1);
  if (!locked) {
    file_.reset();
    if (error.fault != IoFault::kBusy)
      throw std::runtime_error("data folder " + dir + ": cannot lock " + path + ": " + error.text);
    std::string pid = got > 0 ? std::string(held, static_cast<std::size_t>(got)) : "(unknown)";
    pid = pid.substr(0, pid.find('\n'));
    throw std::runtime_error("data folder " + dir + " is in use by tarnd " + pid);
  }
  unsigned long previousPid = 0, previous = 0;
  if (got > 0 && std::sscanf(held, "%lu %lu", &previousPid, &previous) != 2) previous = 0;
  incarnation_ = setHandleIncarnation(static_cast<unsigned>(previous));
  const std::string mine = std::to_string(env().processId()) + "\n" + std::to_string(incarnation_) + "\n";
  // Without these the lock still holds; a second server's message and the next incarnation are
  // only poorer.
  if (file_->truncate(0) && file_->writeAt(0, mine.data(), mine.size())) file_->sync();
}

DataFolderLock::~DataFolderLock() = default;

}  // namespace tarn
