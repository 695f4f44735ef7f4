#include "tarn/server/file_handles.h"

#include <atomic>
#include <cstdlib>
#include <random>
#include <vector>

#include "tarn/client/codes.h"
#include "tarn/server/budgets.h"
#include "tarn/client/orb.h"
#include "tarn/server/callers.h"
#include "tarn/server/env.h"
#include "tarn/server/faults.h"

namespace tarn {

using Clock = std::chrono::steady_clock;

class FileReader : public POA_kxTarn::FileHandle {
 public:
  FileReader(FileHandles& owner, FaultBook& faults, std::string id, std::unique_ptr<File> file, std::uint64_t length)
      : owner_(owner), faults_(faults), id_(std::move(id)), file_(std::move(file)), length_(length),
        lastUse_(Clock::now().time_since_epoch().count()) {}

  CORBA::Long read(CORBA::ULong size, CORBA::Long& end, kxTarn::DATA_BUFFER_out data) override {
    data = new kxTarn::DATA_BUFFER;
    end = 0;
    TARN_FAULT_POINT(faults_, "file_read");
    touch();
    std::lock_guard<std::mutex> hold(mutex_);
    const std::uint64_t left = length_ - at_;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({size, FileHandles::kMaxReadBytes, left}));
    data->length(static_cast<CORBA::ULong>(want));
    if (want > 0 && !file_->readAll(at_, reinterpret_cast<char*>(data->get_buffer()), want)) {
      data->length(0);
      return kFileError;
    }
    at_ += want;
    end = at_ == length_ ? 1 : 0;
    return kOk;
  }

  CORBA::Long get_length(CORBA::ULong& length) override {
    length = 0;
    TARN_FAULT_POINT(faults_, "file_get_length");
    touch();
    length = length_ > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<CORBA::ULong>(length_);
    return kOk;
  }

  CORBA::Long close() override {
    TARN_FAULT_POINT(faults_, "file_close");
    owner_.retire(id_);
    return kOk;
  }

  bool idleSince(Clock::time_point since) const { return lastUse_.load() < since.time_since_epoch().count(); }

 private:
  void touch() { lastUse_ = Clock::now().time_since_epoch().count(); }

  FileHandles& owner_;
  FaultBook& faults_;
  const std::string id_;
  const std::unique_ptr<File> file_;
  const std::uint64_t length_;
  std::atomic<Clock::rep> lastUse_;
  std::mutex mutex_;
  std::uint64_t at_ = 0;  // GUARDED_BY(mutex_)
};

namespace {

std::chrono::seconds idleTime() {
  const char* text = std::getenv("TARN_IDLE_FILE_S");
  const long seconds = text ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 600);
}

void deactivate(const std::string& id) {
  if (orbStopped()) return;
  try {
    PortableServer::ObjectId_var oid = PortableServer::string_to_ObjectId(id.c_str());
    insPoa()->deactivate_object(oid.in());
  } catch (const CORBA::Exception&) {
  }
}

// An object id nobody can guess: 128 bits from the system's random source.
std::string unguessableId() {
  std::random_device device;
  static const char kDigits[] = "0123456789abcdef";
  std::string id = "file/";
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t bits = device();
    for (int k = 0; k < 8; ++k) id.push_back(kDigits[(bits >> (4 * k)) & 15]);
  }
  return id;
}

}  // namespace

FileHandles::FileHandles(FaultBook& faults, std::size_t total, std::size_t perClient)
    : faults_(faults), idle_(idleTime()), total_(total), perClient_(perClient) {}

FileHandles::~FileHandles() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (const auto& entry : open_) deactivate(entry.first);
}

bool FileHandles::readerClient(const char* process, std::string& client) {
  if (nameTooLong(process)) return false;
  client = process != nullptr && *process ? "process " + std::string(process) : currentCaller();
  return true;
}

kxTarn::FileHandle_ptr FileHandles::open(const std::string& path, const std::string& client) {
  std::lock_guard<std::mutex> hold(mutex_);
  reclaimIdleLocked();
  if ((total_ && open_.size() >= total_) || (perClient_ && byClient_[client] >= perClient_))
    return kxTarn::FileHandle::_nil();
  std::unique_ptr<File> file = env().open(path, OpenFor::kRead);
  std::uint64_t length = 0;
  if (!file || !file->size(length)) return kxTarn::FileHandle::_nil();
  std::string id = unguessableId();
  while (open_.count(id)) id = unguessableId();
  auto* reader = new FileReader(*this, faults_, id, std::move(file), length);
  PortableServer::ServantBase_var owned = reader;  // the POA keeps the reader alive while active
  PortableServer::ObjectId_var oid = PortableServer::string_to_ObjectId(id.c_str());
  insPoa()->activate_object_with_id(oid.in(), reader);
  open_[id] = {reader, client};
  ++byClient_[client];
  CORBA::Object_var object = insPoa()->id_to_reference(oid.in());
  return kxTarn::FileHandle::_narrow(object.in());
}

std::map<std::string, FileHandles::Open>::iterator FileHandles::dropLocked(std::map<std::string, Open>::iterator it) {
  auto count = byClient_.find(it->second.client);
  if (count != byClient_.end() && --count->second == 0) byClient_.erase(count);
  deactivate(it->first);
  return open_.erase(it);
}

void FileHandles::retire(const std::string& id) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = open_.find(id);
  if (it != open_.end()) dropLocked(it);
}

void FileHandles::reclaimIdleLocked() {
  const Clock::time_point since = Clock::now() - idle_;
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->second.reader->idleSince(since))
      it = dropLocked(it);
    else
      ++it;
  }
}

}  // namespace tarn
