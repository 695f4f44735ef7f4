#include "tarn/server/env.h"

#include <atomic>
#include <filesystem>
#include <system_error>

namespace tarn {
namespace fs = std::filesystem;
namespace {

thread_local IoError lastError;
std::atomic<Env*> wrapper{nullptr};

bool failWith(const std::error_code& error) {
  return failIo(error == std::errc::no_such_file_or_directory ? IoFault::kMissing : IoFault::kOther, error.message());
}

}  // namespace

const IoError& lastIoError() { return lastError; }

bool failIo(IoFault fault, std::string text) {
  lastError.fault = fault;
  lastError.text = std::move(text);
  return false;
}

bool File::append(const char* bytes, std::size_t size) {
  std::uint64_t end = 0;
  return this->size(end) && writeAt(end, bytes, size);
}

bool File::readAll(std::uint64_t at, char* into, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const long long n = readAt(at + done, into + done, size - done);
    if (n == 0) return failIo(IoFault::kOther, "the file is shorter than it was");
    if (n < 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

Env& env() {
  Env* set = wrapper.load(std::memory_order_acquire);
  return set ? *set : platformEnv();
}

void useEnv(Env* next) { wrapper.store(next, std::memory_order_release); }

// Paths are UTF-8 on both platforms; u8path keeps them so where the narrow character set is not.
bool Env::removeAll(const std::string& folder) {
  std::error_code error;
  fs::remove_all(fs::u8path(folder), error);
  return !error || failWith(error);
}

bool Env::makeFolder(const std::string& path) {
  std::error_code error;
  if (fs::create_directory(fs::u8path(path), error) || (!error && fs::is_directory(fs::u8path(path), error)))
    return true;
  return failWith(error ? error : std::make_error_code(std::errc::not_a_directory));
}

bool Env::list(const std::string& folder, bool recursive, std::vector<std::string>& files) {
  const fs::path root = fs::u8path(folder);
  std::error_code error;
  // False for a link, which is neither listed nor entered.
  auto take = [&](const fs::directory_entry& entry) {
    if (isLink(entry.path().u8string())) return false;
    std::error_code ignored;
    if (entry.is_regular_file(ignored))
      files.push_back(entry.path().lexically_relative(root).generic_u8string());
    return true;
  };
  if (recursive) {
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
      if (!take(*it)) it.disable_recursion_pending();
  } else {
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) take(*it);
  }
  return !error || failWith(error);
}

}  // namespace tarn
