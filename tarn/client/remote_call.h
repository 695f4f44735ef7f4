// One home for the stand-in client's remote calls: take the cached service reference of
// (server, realm), run the call, and turn any exception into kRemoteFailure with the cached
// reference dropped, so the next call builds a fresh one.
#pragma once

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "tarn/client/codes.h"

namespace tarn {

// `call(reference)` returns the operation's result code.
template <typename Call>
int callPoints(const char* server, const char* position, Call call) {
  kxReferenceContainer* container = kxReferenceContainer::instance();
  kxTarn::DT_Point_Factory_var service = container->GetDptReferenceWithServerName(server, position);
  if (CORBA::is_nil(service)) return server && *server ? kServerNotAnswering : kNoServerNamed;
  try {
    return call(service.in());
  } catch (...) {
    container->ReleaseDtpReference(server, position);
    return kRemoteFailure;
  }
}

// Fills `names` from a remote list: a new[] array of CORBA strings that the list owns.
void fillNames(ObjectNames* names, const kxTarn::STRING_LIST& list);

}  // namespace tarn
