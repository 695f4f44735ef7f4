// Release operations of the name and connection lists.
#include <omniORB4/CORBA.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"

void OstrelOrigin::DeatoryNameSeq(ObjectNames* names) {
  if (names == nullptr) return;
  if (names->release && names->count >= 1 && names->names != nullptr) {
    for (int i = 0; i < names->count; ++i) CORBA::string_free(names->names[i]);
  }
  delete[] names->names;
  names->count = 0;
  names->names = nullptr;
}

void OstrelOrigin::DestoryConnectSeq(ConnectionSequence* connections) {
  kx_destory_connection_seq(connections);
}
