// Data point writes: whole values, and field-level writes of one or many points.
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/record.h"

int OstrelOrigin::PutDataPoint(const char* name, const BrennicData& data, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  // Only the bytes the record holds are sent: none without a block or below its type's size.
  char* bytes = nullptr;
  unsigned int size = 0;
  if (int rc = data.heldValue(bytes, size)) return rc;
  return kx_set_data_template_point(name, bytes, size, server, realm.c_str());
}

int BrennicData::Teleport() {
  if (name[0] == '\0') return OstrelCode::kRecordWithoutName;
  return Ostrel::PutDataPoint(name, *this, nullptr, nullptr);
}
