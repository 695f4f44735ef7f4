// The server's file system with faults a test turns on: installed as the server's Env for the
// object's life (tarn/server/env.h), so that the full-disk paths run on every platform, without a
// file size limit of the process.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "tarn/server/env.h"

namespace testing_support {

// While `full` is set, every write to a file fails with kNoRoom and writes nothing, as on a full
// disk. Install it before the server opens its files. Not copyable or movable.
class FullDiskEnv : public tarn::EnvWrapper {
 public:
  FullDiskEnv() : EnvWrapper(tarn::platformEnv()) { tarn::useEnv(this); }
  ~FullDiskEnv() override { tarn::useEnv(nullptr); }
  FullDiskEnv(const FullDiskEnv&) = delete;
  FullDiskEnv& operator=(const FullDiskEnv&) = delete;

  std::atomic<bool> full{false};

  std::unique_ptr<tarn::File> open(const std::string& path, tarn::OpenFor mode) override {
    std::unique_ptr<tarn::File> file = target_.open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<Faulty>(std::move(file), full);
  }

 private:
  class Faulty : public tarn::File {
   public:
    Faulty(std::unique_ptr<tarn::File> file, const std::atomic<bool>& full) : file_(std::move(file)), full_(full) {}
    bool writeAt(std::uint64_t at, const char* bytes, std::size_t size) override {
      if (full_) return tarn::failIo(tarn::IoFault::kNoRoom, "No space left on device");
      return file_->writeAt(at, bytes, size);
    }
    long long readAt(std::uint64_t at, char* into, std::size_t size) override { return file_->readAt(at, into, size); }
    bool size(std::uint64_t& bytes) override { return file_->size(bytes); }
    bool truncate(std::uint64_t bytes) override { return file_->truncate(bytes); }
    bool sync() override { return file_->sync(); }
    bool lock() override { return file_->lock(); }

   private:
    const std::unique_ptr<tarn::File> file_;
    const std::atomic<bool>& full_;
  };
};

}  // namespace testing_support
