// The flat client API: snapshot files of the own server. `file` is a file name inside the
// server's data folder; `option` selects the realm of data points and ports (null or empty:
// the default realm) and the type service instance of data types (null or empty: the default
// instance). The server checks `file` (kBadFileName when it leaves the folder).
#include <string>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

namespace {

// `call(service)` on the type service instance `instance` of the own server.
template <typename Call>
int callTypes(const char* instance, Call call) {
  const std::string key = instance && *instance ? "/" + std::string(instance) + "/" KX_TYPE_SERVICE_KEY
                                                : std::string(KX_TYPE_SERVICE_KEY);
  try {
    CORBA::Object_var object = kxNaming_Client::GetInstance()->GetReferenceWithPosition("own", key.c_str());
    kxTarn::DT_manager_var service = kxTarn::DT_manager::_narrow(object.in());
    if (CORBA::is_nil(service.in())) return tarn::unreachableCode(nullptr);
    return call(service.in());
  } catch (...) {
    return tarn::kRemoteFailure;
  }
}

}  // namespace

using namespace tarn;

int kx_make_dtp_snapshot(const char* file, const char* option) {
  return callPoints(nullptr, option, [&](kxTarn::DT_Point_Factory_ptr s) { return s->make_snapshot_file(file ? file : "", ""); });
}

int kx_load_dtp_snapshot(const char* file, const char* option) {
  return callPoints(nullptr, option, [&](kxTarn::DT_Point_Factory_ptr s) { return s->load_snapshot_file(file ? file : "", ""); });
}

int kx_make_port_snapshot(const char* file, const char* option) {
  return callPorts(nullptr, option, [&](kxTarn::Port_Factory_ptr s) { return s->make_snapshot_file(file ? file : "", ""); });
}

int kx_load_port_snapshot(const char* file, const char* option) {
  return callPorts(nullptr, option, [&](kxTarn::Port_Factory_ptr s) { return s->load_snapshot_file(file ? file : "", ""); });
}

int kx_make_dt_snapshot(const char* file, const char* option) {
  return callTypes(option, [&](kxTarn::DT_manager_ptr s) { return s->make_snapshot_file(file ? file : "", ""); });
}

int kx_load_dt_snapshot(const char* file, const char* option) {
  return callTypes(option, [&](kxTarn::DT_manager_ptr s) { return s->load_snapshot_file(file ? file : "", ""); });
}

int kx_list_snapshots(ObjectNames* named, ObjectNames* files, const char* server, const char* position) {
  if (!named || !files) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr s) {
    kxTarn::STRING_LIST_var namedList, fileList;
    const int rc = s->list_snapshots(namedList.out(), fileList.out());
    if (rc != kOk) return rc;
    fillNames(named, namedList.in());
    fillNames(files, fileList.in());
    return kOk;
  });
}
