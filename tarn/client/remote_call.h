// One home for the stand-in client's remote calls: take the cached service reference of
// (server, realm), run the call, and turn any exception into kRemoteFailure with the cached
// reference dropped, so the next call builds a fresh one.
#pragma once

#include <cstring>

#include "ostrel/api/middleware/kxDeliveries.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxWaits.h"
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

// Whether the last service lookup on this thread reached the server, which handed out no service
// (a realm past its budget): such a call answers kOverBudget, not kServerNotAnswering.
bool serviceRefusedByServer();

// The call time-out of a remote call that waits up to `waitMs` on the server.
// A received value as a buffer from ::operator new that the caller frees with kx_free_buffer.
inline char* handOver(const kxTarn::DATA_BUFFER& value) {
  char* bytes = static_cast<char*>(::operator new(value.length() ? value.length() : 1));
  if (value.length()) std::memcpy(bytes, value.get_buffer(), value.length());
  return bytes;
}

inline int waitCallTimeOut(int waitMs) { return kxWaits::callTimeOut(waitMs); }

// Why no service reference of `server` (null or empty: the own server) could be had: no server
// was named (or the settings file cannot be used), the name is not in the settings, or the
// server does not answer. The same codes kx_tarn_connect gives.
int unreachableCode(const char* server);

// True once the middleware client was ended (kxNaming_Client::ExitInstance).
bool clientEnded();
// A remote call begins: false once the client was ended (then it must not run). Each true is
// matched by leaveCall() when the call is over.
bool enterCall();
void leaveCall();
// Once the end began (kxNaming_Client::PrepareExit), the longest call time-out a call may have:
// what is left of the end's bound (at least 100 ms); 0 before.
int endingCallTimeOut();

// Sends the settlements the delivery protocol still owes and stops its flusher (kxDeliveries.h):
// before the ORB goes.
void stopDeliveries();

// Whether the last remote call of this thread ended in a call time-out.
bool& lastCallTimedOut();

// Runs `wait(sliceMs)` as kxWaits::inSlices does, ending with kClientEnded once the client ends;
// a call that timed out, and after one a server that does not answer, is tried again within the
// wait's limit.
template <typename Wait>
int waitInSlices(int timeoutMs, Wait wait) {
  bool timedOut = false;
  auto lost = [&timedOut](int rc) {
    if (rc == kRemoteFailure && lastCallTimedOut()) return timedOut = true;
    return timedOut && (rc == kRemoteFailure || rc == kServerNotAnswering);
  };
  return kxWaits::inSlices(timeoutMs, clientEnded, kClientEnded, lost, wait);
}

// A reference to the same object as `reference` whose calls end after callTimeOutMs (-1: no
// limit). Kept per (reference, time-out) so that repeated waits do not build a proxy each time;
// forgetPatient drops the kept ones of `reference` after a failed call. Nil when none can be
// made. The caller releases the result.
CORBA::Object_ptr patientReference(CORBA::Object_ptr reference, int callTimeOutMs);
void forgetPatient(CORBA::Object_ptr reference);

// `call(reference)` returns the operation's result code. With a call time-out other than 0 the
// call runs on a reference with that time-out (waitCallTimeOut). A service the server no longer
// has (OBJECT_NOT_EXIST: its realm was removed, the call did not run) is asked for again once.
template <typename Service, typename Call>
int callRemote(const char* server, const char* position, Call call, int callTimeOutMs = 0) {
  lastCallTimedOut() = false;
  if (!enterCall()) return kClientEnded;
  struct Leave {
    ~Leave() { leaveCall(); }
  } leave;
  // Once the end began, no call outlasts it, whatever bound of its own it has.
  const int ending = endingCallTimeOut();
  if (ending && (callTimeOutMs <= 0 || callTimeOutMs > ending)) callTimeOutMs = ending;
  for (int attempt = 0;; ++attempt) {
    typename Service::_var_type service = CachedService<Service>::get(server, position);
    if (CORBA::is_nil(service.in())) return serviceRefusedByServer() ? kOverBudget : unreachableCode(server);
    try {
      if (callTimeOutMs == 0) return call(service.in());
      CORBA::Object_var patient = patientReference(service.in(), callTimeOutMs);
      typename Service::_var_type patientService = Service::_unchecked_narrow(patient.in());
      if (CORBA::is_nil(patientService.in())) return kRemoteFailure;
      return call(patientService.in());
    } catch (const CORBA::Exception& e) {
      lastCallTimedOut() = kxDeliveries::callTimedOut(e);
      forgetPatient(service.in());
      CachedService<Service>::drop(server, position);
      if (attempt == 0 && CORBA::OBJECT_NOT_EXIST::_downcast(&e)) continue;
      return kRemoteFailure;
    } catch (...) {
      forgetPatient(service.in());
      CachedService<Service>::drop(server, position);
      return kRemoteFailure;
    }
  }
}

template <typename Call>
int callPoints(const char* server, const char* position, Call call) {
  return callRemote<kxTarn::DT_Point_Factory>(server, position, call);
}

template <typename Call>
int callPorts(const char* server, const char* position, Call call, int callTimeOutMs = 0) {
  return callRemote<kxTarn::Port_Factory>(server, position, call, callTimeOutMs);
}

// Fills `names` from a remote list: a new[] array of CORBA strings that the list owns.
void fillNames(ObjectNames* names, const kxTarn::STRING_LIST& list);
// A remote buffer holding a copy of `length` bytes of `buffer`.
kxTarn::DATA_BUFFER wrap(const char* buffer, unsigned int length);

}  // namespace tarn
