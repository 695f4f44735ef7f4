/// @file
/// The receiving side of the middleware's delivery protocol, for the flat client API and for
/// callers of the remote port service alike.
///
/// Every receive names itself with a tag of this process. What the server takes for it stays in
/// flight on the connection until the process settles the tag: acknowledged once the answer is in
/// the caller's hands, released when the receive ends without one (the server then puts the
/// messages back at the front of their queue). Every retry of one receive carries its tag, so an
/// answer lost on the way (a stall, a client time-out, a cut cable) comes again rather than being
/// lost, and threads sharing a connection never settle each other's receives.
///
/// Settlements ride with the connection's next receive or its close until an answered call has
/// carried them; an acknowledgement that no call carried within 20 ms, and every release at once,
/// also go on their own (a oneway message), and whatever is left goes when the client ends.
///
/// Every function may be called from any thread.
#pragma once

#include <string>

#include "ostrel/api/middleware/kxTarn.h"

/// One receive on connection `handle` of (server, realm); a null or empty server is the server at
/// position "own", a null realm the default realm. The server may hold messages for the tag once
/// an attempt was answered with some, or went unanswered (mark both with mayHold()); a receive
/// that ends without delivered() then releases its tag.
class kxDelivery {
 public:
  /// A new tag for one receive on connection `handle` of (`server`, `realm`).
  kxDelivery(const char* server, const char* realm, unsigned int handle);
  /// Releases the tag when the server may hold messages for it and delivered() was not called.
  ~kxDelivery();
  kxDelivery(const kxDelivery&) = delete;
  kxDelivery& operator=(const kxDelivery&) = delete;

  /// The receive's tag, which every attempt of it carries.
  CORBA::ULongLong tag() const { return tag_; }
  /// The settlements of this connection that an attempt carries, ...
  void carry(kxTarn::TAG_LIST& acks, kxTarn::TAG_LIST& released) const;
  /// ... and, once that attempt was answered (whatever its code), what the server now has.
  void carried(const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) const;
  /// The server may hold messages for the tag: an attempt went unanswered, or was answered with
  /// messages.
  void mayHold() { mayHold_ = true; }
  /// The answer is in the caller's hands: acknowledge the tag.
  void delivered();

 private:
  void settle(bool acknowledged);

  std::string server_;
  std::string realm_;
  unsigned int handle_;
  CORBA::ULongLong tag_;
  bool mayHold_ = false;
  bool settled_ = false;
};

namespace kxDeliveries {

/// Whether `e` is a call time-out (the server may still run the call and answer): a wait tries
/// such a call again with the same tag, and after one a server that cannot be reached for a moment
/// is a stall too.
inline bool callTimedOut(const CORBA::Exception& e) {
  if (CORBA::TIMEOUT::_downcast(&e)) return true;
  const CORBA::TRANSIENT* transient = CORBA::TRANSIENT::_downcast(&e);
  return transient && transient->minor() == OMNIORBMinorCode_8;  // TRANSIENT_CallTimedout
}

/// The settlements of connection `handle` that its close must carry; the connection is forgotten.
void closing(const char* server, const char* realm, unsigned int handle, kxTarn::TAG_LIST& acks,
             kxTarn::TAG_LIST& released);

}  // namespace kxDeliveries
