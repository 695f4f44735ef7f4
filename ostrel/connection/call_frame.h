// The steps that every server-taking operation shares, in one place:
//
//   guardConnection      the connection guard: kNotConnected unless the connector records the
//                        caller's server (null: the default server) as connected;
//   positionOrDefault    the caller's position, or a copy of the connector's default position
//                        (the realm: every operation that takes a position resolves it here,
//                        and looks up and drops its service references with the result);
//   resolveServer        a null or empty server becomes the server at position "own" when the
//                        middleware names one; otherwise null means "no server" and empty stays;
//   targetOf             the three steps above in order, for an operation on a service reference;
//   callService          the frame of one call on a remote service reference: obtain the cached
//                        reference, optionally swap it for one with a longer call time-out, run
//                        the call, turn every exception into the operation's own code and drop
//                        the cached reference, and release the reference on every path.
//
// A typical operation:
//
//   ostrel::Target target;
//   if (int rc = ostrel::targetOf(server, position, target)) return rc;
//   return ostrel::callService<kxTarn::DT_Point_Factory, OstrelCode::kRemoteCallFailed>(
//       target.server.c_str(), target.realm.c_str(), [&](kxTarn::DT_Point_Factory_ptr points) {
//         return points->delete_snapshot(snapshotName);
//       });
//
// The realm is resolved before the reference is looked up: a diverted default realm (DivertReleam)
// reaches the same points whether an operation goes through the flat client API or a reference.
//
// Every function may be called from any thread; none holds a lock when it returns.
#pragma once

#include <new>
#include <optional>
#include <string>

#include "ostrel/api/middleware/kxDeliveries.h"
#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/middleware/kxWaits.h"
#include "ostrel/api/result_codes.h"

namespace ostrel {

// The name of the server that the middleware's settings place at position "own";
// nullopt when they name none.
std::optional<std::string> ownServerName();

// kOk when the connector records `server` as connected; kNotConnected otherwise, whatever the
// reason (never connected, lost, failed, no default server). Nothing else is done.
int guardConnection(const char* server);

// `position` when it is not null; otherwise a copy of the connector's default position for
// `server` (null included), the empty text for a server never diverted.
std::string positionOrDefault(const char* server, const char* position);

// The server name an operation works on: `server` itself when it is neither null nor empty;
// otherwise the server at "own" when there is one; otherwise the empty name for an empty
// `server`, and nullopt (no server; the operation's own code, mostly kNoServerName) for null.
std::optional<std::string> resolveServer(const char* server);

// What an operation on a service reference works on.
struct Target {
  std::string server;  // resolveServer's name
  std::string realm;   // positionOrDefault's realm
};

// The shared steps before a call on a service reference, in order: the connection guard
// (kNotConnected), the realm (positionOrDefault) and the server name (kNoServerName when
// resolveServer finds none). kOk with `target` filled; otherwise `target` is unspecified.
int targetOf(const char* server, const char* position, Target& target);

// The shared steps before a call of the flat client API, which resolves the server itself: the
// guard of `server`, then `call(realm)` with the position resolved once (the caller's, or the
// server's default realm). What `call` returns, or kNotConnected.
template <typename Call>
int guardedInRealm(const char* server, const char* position, Call call) {
  if (int rc = guardConnection(server)) return rc;
  const std::string realm = positionOrDefault(server, position);
  return call(realm.c_str());
}

// Call time-outs for callService, in milliseconds: none (the reference's own), and the longer
// time-out that list reads and snapshot loads run with.
constexpr int kDefaultCallTimeOut = 0;
constexpr int kLongCallTimeOut = 20000;
// A call that may wait on the server without limit (a receive asked to wait without limit).
constexpr int kNoCallTimeOut = -1;
// The call time-out of a remote call that waits up to `waitMs` on the server (0: no wait, the
// reference's own; negative: no limit; otherwise the wait plus a margin).
inline int waitCallTimeOut(int waitMs) { return kxWaits::callTimeOut(waitMs); }

// Whether the last callService of this thread ended in a call time-out (kxDeliveries::callTimedOut).
bool& lastCallTimedOut();

// Set when ExitOstrel begins; true from then on.
void markLibraryEnded();
bool libraryEnded();

// Runs `wait(sliceMs)`, one bounded remote wait returning a code, as kxWaits::inSlices does:
// a long wait is a series of short ones, ExitOstrel ends it (kLibraryEnded) within a slice, and
// an attempt without an answer (an exception, no reference) is tried again within its limit.
template <typename Wait>
int waitInSlices(int timeoutMs, Wait wait) {
  bool timedOut = false;
  auto lost = [&timedOut](int rc) {
    if (rc == OstrelCode::kRemoteCallFailed && lastCallTimedOut()) return timedOut = true;
    return timedOut && (rc == OstrelCode::kRemoteCallFailed || rc == OstrelCode::kNoReference ||
                        rc == OstrelCode::kNoTimeOutReference);
  };
  return kxWaits::inSlices(timeoutMs, libraryEnded, OstrelCode::kLibraryEnded, lost, wait);
}

// How each service's reference is obtained from the reference container and how its cached copy
// is dropped after a failed call.
template <class Service>
struct ServiceReferences;

template <>
struct ServiceReferences<kxTarn::DT_Point_Factory> {
  static kxTarn::DT_Point_Factory_ptr obtain(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleaseDtpReference(server, position);
  }
};

template <>
struct ServiceReferences<kxTarn::Port_Factory> {
  static kxTarn::Port_Factory_ptr obtain(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetPortReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleasePortReference(server, position);
  }
};

template <>
struct ServiceReferences<kxTarn::contender_server> {
  static kxTarn::contender_server_ptr obtain(const char* server, const char* position) {
    return kxReferenceContainer::instance()->GetContenerReferenceWithServerName(server, position);
  }
  static void drop(const char* server, const char* position) {
    kxReferenceContainer::instance()->ReleaseContenterReference(server, position);
  }
};

// The service manager is one per server (no realm) and is not cached by the caller.
template <>
struct ServiceReferences<kxTarn::kxTarnServiceManager> {
  static kxTarn::kxTarnServiceManager_ptr obtain(const char* server, const char*) {
    return kxReferenceContainer::instance()->GetServiceRefrence(server);
  }
  static void drop(const char*, const char*) {}
};

// Runs `call(reference)` on the `Service` reference of (server, position) and returns what the
// call returns (an int result code).
//   - no reference:                                          kNoReference (99), call not run;
//   - timeOutMs > 0 (or kNoCallTimeOut) and the naming client
//     gives no reference with that time-out:                 kNoTimeOutReference (-1);
//   - any exception from the time-out swap on, in the call or
//     while it copies its results out:                       kExceptionCode, and the cached
//     reference of (server, position) is dropped so that the next call builds a fresh one.
// std::bad_alloc is not turned into a code: it reaches the caller, like everywhere else.
// `call` releases its own out values (use _var types); the frame releases the references.
template <class Service, int kExceptionCode, class Call>
int callService(const char* server, const char* position, Call&& call,
                int timeOutMs = kDefaultCallTimeOut) {
  using References = ServiceReferences<Service>;
  lastCallTimedOut() = false;
  typename Service::_var_type reference = References::obtain(server, position);
  if (CORBA::is_nil(reference.in())) return OstrelCode::kNoReference;
  try {
    if (timeOutMs > 0 || timeOutMs == kNoCallTimeOut) {
      CORBA::Object_var longer =
          kxNaming_Client::GetInstance()->changeTimeOut(reference.in(), timeOutMs, server, position);
      typename Service::_var_type patient = Service::_narrow(longer.in());
      if (CORBA::is_nil(patient.in())) return OstrelCode::kNoTimeOutReference;
      return call(patient.in());
    }
    return call(reference.in());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const CORBA::Exception& e) {
    lastCallTimedOut() = kxDeliveries::callTimedOut(e);
    References::drop(server, position);
    return kExceptionCode;
  } catch (...) {
    References::drop(server, position);
    return kExceptionCode;
  }
}

}  // namespace ostrel
