// One home for the stand-in client's remote calls: take the cached service reference of
// (server, realm), run the call, and turn any exception into kRemoteFailure with the cached
// reference dropped, so the next call builds a fresh one.
#pragma once

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "tarn/client/codes.h"

namespace tarn {

template <typename Service>
struct CachedService;

template <>
struct CachedService<kxTarn::DT_Point_Factory> {
  static kxTarn::DT_Point_Factory_ptr get(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleaseDtpReference(server, position);
  }
};

template <>
struct CachedService<kxTarn::Port_Factory> {
  static kxTarn::Port_Factory_ptr get(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetPortReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleasePortReference(server, position);
  }
};

template <>
struct CachedService<kxTarn::contender_server> {
  static kxTarn::contender_server_ptr get(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetContenerReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleaseContenterReference(server, position);
  }
};

// `call(reference)` returns the operation's result code.
template <typename Service, typename Call>
int callRemote(const char* server, const char* position, Call call) {
  typename Service::_var_type service = CachedService<Service>::get(server, position);
  if (CORBA::is_nil(service.in())) return server && *server ? kServerNotAnswering : kNoServerNamed;
  try {
    return call(service.in());
  } catch (...) {
    CachedService<Service>::drop(server, position);
    return kRemoteFailure;
  }
}

template <typename Call>
int callPoints(const char* server, const char* position, Call call) {
  return callRemote<kxTarn::DT_Point_Factory>(server, position, call);
}

template <typename Call>
int callPorts(const char* server, const char* position, Call call) {
  return callRemote<kxTarn::Port_Factory>(server, position, call);
}

// Fills `names` from a remote list: a new[] array of CORBA strings that the list owns.
void fillNames(ObjectNames* names, const kxTarn::STRING_LIST& list);
// A remote buffer holding a copy of `length` bytes of `buffer`.
kxTarn::DATA_BUFFER wrap(const char* buffer, unsigned int length);

}  // namespace tarn
