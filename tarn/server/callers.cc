#include "tarn/server/callers.h"

#include <mutex>

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include "tarn/client/orb.h"

namespace tarn {
namespace {

thread_local std::string caller;
thread_local std::string identity;
thread_local bool remoteCall = false;

CORBA::Boolean noteCaller(omni::omniInterceptors::serverReceiveRequest_T::info_T& info) {
  const char* peer = info.peeraddress();
  caller = peer ? peer : "";
  const char* name = info.peeridentity();
  identity = name ? name : "";
  remoteCall = true;
  return true;
}

}  // namespace

void watchCallers() {
  static std::once_flag once;
  std::call_once(once, [] {
    orb();  // the interceptors belong to a running ORB
    omniORB::getInterceptors()->serverReceiveRequest.add(noteCaller);
  });
}

std::string currentCaller() { return remoteCall ? caller : std::string("in-process"); }

std::string currentIdentity() { return remoteCall ? identity : std::string(); }

bool remoteCaller() { return remoteCall; }

}  // namespace tarn
