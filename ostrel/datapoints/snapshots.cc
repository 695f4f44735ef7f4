// Snapshots: named data point snapshots kept by the data point service, the snapshot files of
// data points, data types and ports made and loaded through the flat client API, and remote
// snapshot files read through a FileHandle.
#include <algorithm>
#include <cstring>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/datapoints/remote_file_impl.h"

namespace {

// One named snapshot operation on the data point service of (server, position). A null name
// is sent as the empty one, which the server refuses with its bad-argument code (a null text
// cannot cross the wire).
template <typename Call>
int onPoints(const char* server, const char* position, int timeOutMs, Call call) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kRemoteCallFailed>(
      target.server.c_str(), target.realm.c_str(), call, timeOutMs);
}

// Opens the snapshot file of the `Service` of (server, position); null on every failure.
template <class Service>
BrennicRemoteFile* openSnapshot(const char* server, const char* position) {
  ostrel::Target target;
  if (ostrel::targetOf(server, position, target) != OstrelCode::kOk) return nullptr;
  typename Service::_var_type service =
      ostrel::ServiceReferences<Service>::obtain(target.server.c_str(), target.realm.c_str());
  if (CORBA::is_nil(service.in())) return nullptr;
  try {
    kxTarn::FileHandle_var handle = service->open_snapshot_file_from(kx_process_name());
    if (CORBA::is_nil(handle.in())) return nullptr;
    return new RemoteFileImpl(handle.in());
  } catch (const CORBA::SystemException&) {
    return nullptr;
  }
}

}  // namespace

int OstrelOrigin::CreateDTPSnapShut(const char* name, const char* server, const char* position) {
  return onPoints(server, position, ostrel::kLongCallTimeOut,
                  [&](kxTarn::DT_Point_Factory_ptr points) { return points->create_snapshot(name ? name : ""); });
}

int OstrelOrigin::LoadDTPSnapShut(const char* name, const char* server, const char* position) {
  return onPoints(server, position, ostrel::kLongCallTimeOut,
                  [&](kxTarn::DT_Point_Factory_ptr points) { return points->load_snapshot(name ? name : ""); });
}

int OstrelOrigin::DeleteDTPSnapShut(const char* name, const char* server, const char* position) {
  return onPoints(server, position, ostrel::kDefaultCallTimeOut,
                  [&](kxTarn::DT_Point_Factory_ptr points) { return points->delete_snapshot(name ? name : ""); });
}

int OstrelOrigin::MakeDataPointSnapShot(const char* file, const char* option) { return kx_make_dtp_snapshot(file, option); }
int OstrelOrigin::MakeDataTypeSnapShot(const char* file, const char* option) { return kx_make_dt_snapshot(file, option); }
int OstrelOrigin::MakePortSnapShot(const char* file, const char* option) { return kx_make_port_snapshot(file, option); }
int OstrelOrigin::LoadDataPointSnapShot(const char* file, const char* option) { return kx_load_dtp_snapshot(file, option); }
int OstrelOrigin::LoadDataTypeSnapShot(const char* file, const char* option) { return kx_load_dt_snapshot(file, option); }
int OstrelOrigin::LoadPortSnapShot(const char* file, const char* option) { return kx_load_port_snapshot(file, option); }

BrennicRemoteFile::~BrennicRemoteFile() = default;

RemoteFileImpl::RemoteFileImpl(kxTarn::FileHandle_ptr handle) : handle_(kxTarn::FileHandle::_duplicate(handle)) {}

RemoteFileImpl::~RemoteFileImpl() = default;

int RemoteFileImpl::read(char* buffer, unsigned int size, bool* end) {
  if (!buffer && size) return -1;
  if (rest_.empty()) {
    try {
      CORBA::Long endFlag = 0;
      kxTarn::DATA_BUFFER* reply = nullptr;
      const CORBA::Long rc = handle_->read(size, endFlag, reply);
      kxTarn::DATA_BUFFER_var data = reply;
      // A refused read, or no bytes and no end, means the server cannot give what it promised
      // (the file shrank or went away): a reader looping until the end would never get there.
      if (rc != 0 || reply == nullptr || (data->length() == 0 && size > 0 && endFlag == 0)) return -1;
      const char* bytes = reinterpret_cast<const char*>(data->get_buffer());
      if (data->length() <= size) {  // the usual case: straight into the caller's block
        if (data->length()) std::memcpy(buffer, bytes, data->length());
        if (end) *end = endFlag != 0;
        return static_cast<int>(data->length());
      }
      rest_.assign(bytes, data->length());
      restEnds_ = endFlag != 0;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      return -1;
    }
  }
  const std::size_t n = std::min<std::size_t>(size, rest_.size());
  if (n) std::memcpy(buffer, rest_.data(), n);
  rest_.erase(0, n);
  if (end && rest_.empty()) *end = restEnds_;
  return static_cast<int>(n);
}

int RemoteFileImpl::getLength(unsigned int* length) {
  if (!length) return -1;
  try {
    CORBA::ULong remote = 0;
    handle_->get_length(remote);
    *length = remote;
    return 0;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return -1;
  }
}

int RemoteFileImpl::close() {
  try {
    handle_->close();
    return 0;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return -1;
  }
}

BrennicRemoteFile* OstrelExt::openDTPSnapShot(const char* server, const char* position) {
  return openSnapshot<kxTarn::DT_Point_Factory>(server, position);
}

BrennicRemoteFile* OstrelExt::openPortSnapShot(const char* server, const char* position) {
  return openSnapshot<kxTarn::Port_Factory>(server, position);
}

void OstrelExt::closeRemoteFile(BrennicRemoteFile** file) {
  if (!file || !*file) return;
  (*file)->close();
  delete *file;
  *file = nullptr;  // a second close does nothing
}
