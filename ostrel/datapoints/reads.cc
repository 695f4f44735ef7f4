// Data point reads: one point, many by name, all of a type, and the name listings.
#include <cstring>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/datapoints/point_lists.h"

namespace ostrel {

namespace {

// The local type of each value, looked up once per run of equal type names: an answer mostly
// holds long runs of one type, and a lookup takes the type manager's lock.
class TypeRun {
 public:
  TarnDataType* of(const char* typeName) {
    if (typeName == nullptr) return nullptr;
    if (looked_ && std::strcmp(typeName, name_) == 0) return type_;
    TarnTypeMgr* types = TarnTypeMgr::GetInstance();
    type_ = types != nullptr ? types->GetDataType(typeName) : nullptr;
    name_ = typeName;
    looked_ = true;
    return type_;
  }

 private:
  bool looked_ = false;
  const char* name_ = nullptr;
  TarnDataType* type_ = nullptr;
};

}  // namespace

void fillRecord(BrennicData& record, TarnDataType* type, kxTarn::DATA_BUFFER& value) {
  const CORBA::ULong length = value.length();
  if (length > 0 && (type == nullptr || type->GetTypeSize() == length)) {
    if (CORBA::Octet* block = value.get_buffer(true)) {
      record.takeValue(type, block, length, true);
      return;
    }
  }
  record.takeValue(type, value.get_buffer(), length, false);
}

void fillList(BrennicDataList& list, kxTarn::DATA_BUFFER_SEQ& values, const char* typeName,
              const kxTarn::STRING_LIST* names, const kxTarn::STRING_LIST* typeNames) {
  list.count = static_cast<int>(values.length());
  if (values.length() == 0) return;
  list.items = new BrennicData*[values.length()]();
  BrennicData::makeBatch(values.length(), list.items);
  TypeRun types;
  for (CORBA::ULong i = 0; i < values.length(); ++i) {
    fillRecord(*list.items[i], types.of(typeNames ? (*typeNames)[i].in() : typeName), values[i]);
    if (names) list.items[i]->SetFullName((*names)[i].in());
  }
}

}  // namespace ostrel

int OstrelOrigin::GetDataPoint(const char* name, BrennicData& data, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  data.SetFullName(name);
  const std::string realm = ostrel::positionOrDefault(server, position);
  if (data.GetTypeName() != nullptr) {
    // Read straight into the record's block, which must hold its type's bytes.
    char* bytes = nullptr;
    unsigned int size = 0;
    if (int rc = data.heldValue(bytes, size)) return rc;
    return kx_get_data_template_point(name, bytes, size, server, realm.c_str());
  }

  char* text = nullptr;
  char* typeName = nullptr;
  char* buffer = nullptr;
  unsigned int length = 0;
  const int rc = get_dtp_info2(name, &text, &typeName, &buffer, &length, server, realm.c_str());
  if (rc != OstrelCode::kOk) return rc;
  TarnDataType* type = typeName ? TarnTypeMgr::GetInstance()->GetDataType(typeName) : nullptr;
  // The record adopts the buffer only when it holds exactly one value of the local type; a
  // buffer of another size is copied, so that the record never reads past its block.
  if (type != nullptr && type->GetTypeSize() == length) {
    data.SwellSetTarnType(typeName, buffer, 0);
  } else {
    data.SetRawValue(buffer, static_cast<int>(length));
    kx_free_buffer(buffer);
  }
  CORBA::string_free(typeName);
  CORBA::string_free(text);
  return OstrelCode::kOk;
}

namespace {

int readPoints(const std::vector<const char*>& names, BrennicDataList& list, const char* server, const char* position) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kRemoteCallFailed>(
      target.server.c_str(), target.realm.c_str(),
      [&](kxTarn::DT_Point_Factory_ptr points) {
        kxTarn::STRING_LIST wanted;
        wanted.length(static_cast<CORBA::ULong>(names.size()));
        for (CORBA::ULong i = 0; i < wanted.length(); ++i) wanted[i] = names[i] ? names[i] : "";
        kxTarn::STRING_LIST_var found, typeNames;
        kxTarn::DATA_BUFFER_SEQ_var values;
        const int rc = points->get_points(wanted, found.out(), typeNames.out(), values.out());
        if (found->length() != values->length() || typeNames->length() != values->length())
          throw CORBA::MARSHAL(0, CORBA::COMPLETED_YES);  // lists that do not line up are unusable
        ostrel::fillList(list, values.inout(), nullptr, &found.in(), &typeNames.in());
        return rc;
      },
      ostrel::kLongCallTimeOut);
}

}  // namespace

int OstrelOrigin::GetDataPointN(char** names, int count, BrennicDataList& list, const char* server,
                                const char* position) {
  if (count < 0) return OstrelCode::kNegativeCount;
  if (names == nullptr && count > 0) return OstrelCode::kNullArray;
  return readPoints(std::vector<const char*>(names, names + count), list, server, position);
}

int OstrelOrigin::GetDataPointN(const std::vector<std::string>& names, BrennicDataList& list, const char* server,
                                const char* position) {
  std::vector<const char*> texts;
  texts.reserve(names.size());
  for (const std::string& name : names) texts.push_back(name.c_str());
  return readPoints(texts, list, server, position);
}

int OstrelOrigin::GetDataPointByTypeName(const char* typeName, BrennicDataList& list, const char* server,
                                         const char* position) {
  ostrel::Target target;
  if (int rc = ostrel::targetOf(server, position, target)) return rc;
  return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kTypeQueryCallFailed>(
      target.server.c_str(), target.realm.c_str(), [&](kxTarn::DT_Point_Factory_ptr points) {
        kxTarn::DATA_BUFFER_SEQ_var values;
        points->get_points_by_type(typeName ? typeName : "", values.out());
        ostrel::fillList(list, values.inout(), typeName, nullptr, nullptr);
        return OstrelCode::kOk;
      });
}

// The listings take no connection guard; like every operation they work on the resolved realm.
int OstrelOrigin::GetAllPointName(ObjectNames* names, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_get_all_point_name(names, server, realm.c_str());
}

int OstrelOrigin::GetAllPointNameByType(ObjectNames* names, const char* typeName, const char* server,
                                        const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_get_all_point_by_typename(names, typeName, server, realm.c_str());
}

int OstrelOrigin::GetTarnTypes(ObjectNames* names, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_get_query_data_type(names, server, realm.c_str());
}
