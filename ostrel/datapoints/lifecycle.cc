// Data point lifecycle: create (one, with a value, in batches), delete, null-data check,
// persistence flag.
#include <cstring>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/record.h"

namespace {

// One remote request for a whole batch of new points. The batch is checked whole before
// anything is sent: a null record, or one without the bytes of its type, gives kInvalidRecord.
// A CORBA system exception while the request is built or sent gives kCreateBatchCallFailed and
// leaves the cached reference alone; other exceptions reach the caller.
template <typename Records>
int createBatch(const Records& records, std::size_t count, const char* server, const char* position) {
  for (std::size_t i = 0; i < count; ++i) {
    char* bytes = nullptr;
    unsigned int size = 0;
    if (records[i] == nullptr || records[i]->heldValue(bytes, size) != OstrelCode::kOk)
      return OstrelCode::kInvalidRecord;  // never dereferenced, never read past its block
  }
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  kxTarn::DT_Point_Factory_var service =
      ostrel::ServiceReferences<kxTarn::DT_Point_Factory>::obtain(target.server.c_str(), target.realm.c_str());
  if (CORBA::is_nil(service)) return OstrelCode::kNoReference;
  try {
    kxTarn::CreationParameterSeq points;
    points.length(static_cast<CORBA::ULong>(count));
    for (std::size_t i = 0; i < count; ++i) {
      BrennicData& record = *records[i];
      kxTarn::CreationParameter& point = points[static_cast<CORBA::ULong>(i)];
      point.name = record.GetDataName();
      const char* typeName = record.GetTypeName();
      point.typeName = typeName ? typeName : "";
      char* bytes = nullptr;
      unsigned int size = 0;
      record.heldValue(bytes, size);
      point.value.length(size);
      if (size) std::memcpy(point.value.get_buffer(), bytes, size);
    }
    return service->create_points(points);
  } catch (const CORBA::SystemException&) {
    return OstrelCode::kCreateBatchCallFailed;
  }
}

// Adapts a vector of records to the pointer indexing of createBatch.
struct ValueRecords {
  const std::vector<BrennicData>& records;
  BrennicData* operator[](std::size_t i) const { return const_cast<BrennicData*>(&records[i]); }
};

}  // namespace

int OstrelOrigin::CreateDataPoint(const char* name, const char* typeName, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_create_data_template_point(name, typeName, server, realm.c_str());
}

int OstrelOrigin::CreateDataPoint(const char* name, BrennicData& data, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  char* bytes = nullptr;
  unsigned int size = 0;
  if (int rc = data.heldValue(bytes, size)) return rc;
  return kx_create_set(name, data.GetTypeName(), bytes, size, server, realm.c_str());
}

int OstrelOrigin::CreateDataPoints(const std::vector<BrennicData>& points, const char* server, const char* position) {
  return createBatch(ValueRecords{points}, points.size(), server, position);
}

int OstrelOrigin::CreateDataPoints(const std::vector<BrennicData*>& points, const char* server, const char* position) {
  return createBatch(points, points.size(), server, position);
}

int OstrelOrigin::CreateDataPoints(BrennicData** points, int count, const char* server, const char* position) {
  if (count == 0) return OstrelCode::kOk;
  if (count < 0) return OstrelCode::kNegativeCount;
  if (points == nullptr) return OstrelCode::kNullArray;
  return createBatch(points, static_cast<std::size_t>(count), server, position);
}

int OstrelOrigin::DeleteDataPoint(const char* name, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_remove_template_point(name, server, realm.c_str());
}

int OstrelOrigin::CheckNullData(ObjectNames* names, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_check_null_data(names, server, realm.c_str());
}

int OstrelOrigin::SetPersistent(const char* name, bool persistent, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  // Without an "own" server the reference is still asked for, with the caller's null name.
  const auto resolved = ostrel::resolveServer(server);
  const char* target = resolved ? resolved->c_str() : nullptr;
  return ostrel::callService<kxTarn::Port_Factory, OstrelCode::kRemoteCallFailed>(
      target, realm.c_str(),
      [&](kxTarn::Port_Factory_ptr ports) { return ports->set_persistent(name ? name : "", persistent); });
}
