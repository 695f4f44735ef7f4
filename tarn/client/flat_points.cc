// The flat client API: data points.
#include <cstring>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

namespace tarn {

void fillNames(ObjectNames* names, const kxTarn::STRING_LIST& list) {
  names->count = static_cast<int>(list.length());
  names->names = new char*[list.length()];
  names->release = true;
  for (CORBA::ULong i = 0; i < list.length(); ++i) names->names[i] = CORBA::string_dup(list[i]);
}

kxTarn::DATA_BUFFER wrap(const char* buffer, unsigned int length) {
  kxTarn::DATA_BUFFER value;
  value.length(length);
  if (length) std::memcpy(value.get_buffer(), buffer, length);
  return value;
}

namespace {

// A names listing: `list(service, out)` fetches it.
template <typename List>
int listNames(ObjectNames* names, const char* server, const char* position, List list) {
  if (!names) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    kxTarn::STRING_LIST_var found;
    const int rc = list(service, found);
    if (rc == kOk) fillNames(names, found.in());
    return rc;
  });
}

}  // namespace
}  // namespace tarn

using namespace tarn;

int kx_get_data_template_point(const char* name, char* buffer, unsigned int length, const char* server,
                               const char* position) {
  if (!name || (!buffer && length)) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var value;
    const int rc = service->get_point(name, type.out(), value.out());
    if (rc != kOk) return rc;
    if (value->length() != length) return kSizeMismatch;
    if (length) std::memcpy(buffer, value->get_buffer(), length);
    return kOk;
  });
}

int kx_set_data_template_point(const char* name, const char* buffer, unsigned int length, const char* server,
                               const char* position) {
  if (!name || (!buffer && length)) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    return service->set_point(name, wrap(buffer, length));
  });
}

int get_dtp_info2(const char* name, char** text, char** typeName, char** buffer, unsigned int* length,
                  const char* server, const char* position) {
  if (!name || !text || !typeName || !buffer || !length) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var value;
    const int rc = service->get_point(name, type.out(), value.out());
    if (rc != kOk) return rc;
    char* bytes = handOver(value.in());
    *text = CORBA::string_dup(name);
    *typeName = type._retn();
    *buffer = bytes;
    *length = value->length();
    return kOk;
  });
}

char* kx_get_data_template_point_type(const char* pointName, const char* server, const char* position) {
  if (!pointName) return nullptr;
  char* result = nullptr;
  callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var value;
    const int rc = service->get_point(pointName, type.out(), value.out());
    if (rc != kOk) return rc;
    result = new char[std::strlen(type.in()) + 1];
    std::strcpy(result, type.in());
    return kOk;
  });
  return result;
}

int kx_create_data_template_point(const char* name, const char* typeName, const char* server,
                                  const char* position) {
  if (!name || !typeName) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    return service->create_point(name, typeName, false, kxTarn::DATA_BUFFER());
  });
}

int kx_create_set(const char* name, const char* typeName, const char* buffer, unsigned int length,
                  const char* server, const char* position) {
  if (!name || !typeName || (!buffer && length)) return kBadArgument;
  return callPoints(server, position, [&](kxTarn::DT_Point_Factory_ptr service) {
    return service->create_point(name, typeName, true, wrap(buffer, length));
  });
}

int kx_remove_template_point(const char* name, const char* server, const char* position) {
  if (!name) return kBadArgument;
  return callPoints(server, position,
                    [&](kxTarn::DT_Point_Factory_ptr service) { return service->remove_point(name); });
}

int kx_check_null_data(ObjectNames* names, const char* server, const char* position) {
  return listNames(names, server, position, [](kxTarn::DT_Point_Factory_ptr service, kxTarn::STRING_LIST_var& out) {
    return service->check_null_data(out.out());
  });
}

int kx_get_all_point_name(ObjectNames* names, const char* server, const char* position) {
  return listNames(names, server, position, [](kxTarn::DT_Point_Factory_ptr service, kxTarn::STRING_LIST_var& out) {
    return service->get_all_point_names(out.out());
  });
}

int kx_get_all_point_by_typename(ObjectNames* names, const char* typeName, const char* server,
                                 const char* position) {
  if (!typeName) return kBadArgument;
  return listNames(names, server, position, [&](kxTarn::DT_Point_Factory_ptr service, kxTarn::STRING_LIST_var& out) {
    return service->get_point_names_by_type(typeName, out.out());
  });
}

int kx_get_query_data_type(ObjectNames* names, const char* server, const char* position) {
  return listNames(names, server, position, [](kxTarn::DT_Point_Factory_ptr service, kxTarn::STRING_LIST_var& out) {
    return service->get_point_type_names(out.out());
  });
}
