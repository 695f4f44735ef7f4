// Field-level data point writes (one point, or many in chunks, with or without publishing) and
// the query by field values: both send a partial record's written paths and their bytes.
#include <cstring>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/datapoints/point_lists.h"

namespace ostrel {

void fillFields(const BrennicPartialData& record, kxTarn::STRING_LIST& names, kxTarn::DATA_BUFFER_SEQ& values) {
  ObjectNames fields;
  record.enabledFields(&fields);
  try {
    names.length(static_cast<CORBA::ULong>(fields.count));
    values.length(static_cast<CORBA::ULong>(fields.count));
    for (int i = 0; i < fields.count; ++i) {
      names[i] = static_cast<const char*>(fields.names[i]);
      char* bytes = nullptr;
      int length = 0;
      record.getStoreValue(fields.names[i], &bytes, length);
      if (bytes == nullptr || length < 0) length = 0;
      values[i].length(static_cast<CORBA::ULong>(length));
      if (length) std::memcpy(values[i].get_buffer(), bytes, static_cast<std::size_t>(length));
    }
  } catch (...) {
    // getStoreValue throws on a non-numeric index: the caller's frame turns it into a code.
    Ostrel::DeatoryNameSeq(&fields);
    throw;
  }
  Ostrel::DeatoryNameSeq(&fields);
}

}  // namespace ostrel

namespace {

// One chunk of a many-point write: one remote request.
int putPartialChunk(const std::vector<const BrennicPartialData*>& chunk, const char* server, const char* position,
                    bool publish) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kPartialBatchCallFailed>(
      target.server.c_str(), target.realm.c_str(), [&](kxTarn::DT_Point_Factory_ptr points) {
        kxTarn::PartialParameterSeq batch;
        batch.length(static_cast<CORBA::ULong>(chunk.size()));
        for (CORBA::ULong i = 0; i < batch.length(); ++i) {
          batch[i].name = chunk[i]->GetDataName();
          ostrel::fillFields(*chunk[i], batch[i].fieldNames, batch[i].fieldValues);
        }
        return points->put_partial_points(batch, publish);
      });
}

// The first record goes alone, then up to 1000 records per chunk; the first failing chunk's
// code is returned and nothing after it is sent. A null record anywhere in the batch refuses
// the whole batch before the first chunk goes out.
template <typename At>
int putPartialMany(std::size_t count, At at, const char* server, const char* position, bool publish) {
  constexpr std::size_t kChunk = 1000;
  for (std::size_t i = 0; i < count; ++i)
    if (at(i) == nullptr) return OstrelCode::kInvalidRecord;  // never dereferenced
  std::vector<const BrennicPartialData*> chunk;
  for (std::size_t i = 0; i < count; ++i) {
    chunk.push_back(at(i));
    if (i % kChunk == 0 || i + 1 == count) {
      if (int rc = putPartialChunk(chunk, server, position, publish)) return rc;
      chunk.clear();
    }
  }
  return OstrelCode::kOk;
}

}  // namespace

int OstrelOrigin::PutPartialDataPoint(const char* name, BrennicPartialData& data, const char* server,
                                      const char* position) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kRemoteCallFailed>(
      target.server.c_str(), target.realm.c_str(), [&](kxTarn::DT_Point_Factory_ptr points) {
        kxTarn::STRING_LIST names;
        kxTarn::DATA_BUFFER_SEQ values;
        ostrel::fillFields(data, names, values);
        return points->put_partial_point(name ? name : "", values, names);
      });
}

int OstrelOrigin::PutPartialDataPoints(const std::vector<BrennicPartialData*>& points, const char* server,
                                       const char* position) {
  return putPartialMany(points.size(), [&](std::size_t i) { return points[i]; }, server, position, true);
}

int OstrelOrigin::PutPartialDataPoints(const std::vector<BrennicPartialData>& points, const char* server,
                                       const char* position) {
  return putPartialMany(points.size(), [&](std::size_t i) { return &points[i]; }, server, position, true);
}

int OstrelOrigin::PutPartialDataPointsWithNoPublish(std::vector<BrennicPartialData*>& points,
                                                    const char* server, const char* position) {
  return putPartialMany(points.size(), [&](std::size_t i) { return points[i]; }, server, position, false);
}

int OstrelOrigin::PutPartialDataPointsWithNoPublish(const std::vector<BrennicPartialData>& points,
                                                    const char* server, const char* position) {
  return putPartialMany(points.size(), [&](std::size_t i) { return &points[i]; }, server, position, false);
}

int OstrelOrigin::QueryDataPoint(const BrennicPartialData& filter, char* typeName, BrennicDataList& list,
                                 const char* server, const char* position) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kTypeQueryCallFailed>(
      target.server.c_str(), target.realm.c_str(), [&](kxTarn::DT_Point_Factory_ptr points) {
        kxTarn::STRING_LIST names;
        kxTarn::DATA_BUFFER_SEQ values;
        ostrel::fillFields(filter, names, values);
        kxTarn::DATA_BUFFER_SEQ_var found;
        const int rc = points->query_points(typeName ? typeName : "", values, names, found.out());
        ostrel::fillList(list, found.inout(), typeName, nullptr, nullptr);
        return rc;
      });
}
