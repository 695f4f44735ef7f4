// What the port and event operations share: the constants they hand to the middleware and the
// receive connection by name that both open.
//
// Every function may be called from any thread; none holds a lock when it returns.
#pragma once

#include <string>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"

class BrennicData;

namespace ostrel {

constexpr int kPortKind = 30005;          // kx_create_port: a packet port
constexpr int kBoxKind = 30006;           // kx_create_port: an event box
constexpr int kSendDirection = 30003;     // kx_connect_port: connection for sending
constexpr int kReceiveDirection = 30004;  // kx_connect_port: connection for receiving
constexpr int kConnectMode = 30002;       // kx_connect_port: passed by both connection forms
constexpr int kPortSize = 1;              // kx_create_port: the size a packet port is made with

// A receive connection to `name` through OstrelOrigin::ConnectPortForRecv (not the slot),
// tried once more when the middleware answers 2004, a refusal for a passing reason.
// 0 with `handle` set, or the result code of the last attempt.
int connectForReceive(const char* name, unsigned int& handle, const char* server, const char* position);

// The bytes a message carries from `data`, never more than its block holds: none for a record
// that holds and claims nothing (an empty record sends an empty message), otherwise the value
// BrennicData::heldValue gives. kInvalidRecord for a record that claims bytes it does not hold
// (a type without a block, a block shorter than the type, a released block).
int messageValue(BrennicData& data, char*& bytes, unsigned int& length);

// The fewest bytes a receive may hand to `data`: a typed record's type size, so that its block
// never ends short of its type; 0 for a record without a type.
unsigned int leastFor(BrennicData& data);

// What a receive by name does with its connection after a receive that succeeded: a failed one
// always keeps it for the next receive by that name.
enum class AfterReceive { kClose, kKeep };

// A receive by channel name: `receive(handle)` runs on a receive connection of this process to
// `name`, one kept from an earlier receive by that name on (server, realm) when there is one
// (tried once on a new connection should the kept one be gone), otherwise a new one through
// connectForReceive. Afterwards the connection is closed (kClose after a success) or kept; a
// handful are kept per name, any more are closed. So a process holds a few connections per
// name however often its receives by name time out. The result of `receive`, or of the
// connection when none could be had.
template <typename Receive>
int receiveByName(const char* name, const char* server, const char* realm, Receive receive, AfterReceive after);

// The kept connections behind receiveByName.
unsigned int takeKeptReceiver(const char* name, const char* server, const char* realm);
void keepReceiver(const char* name, const char* server, const char* realm, unsigned int handle);
// Closes every kept connection (ExitOstrel).
void closeKeptReceivers();

template <typename Receive>
int receiveByName(const char* name, const char* server, const char* realm, Receive receive, AfterReceive after) {
  unsigned int handle = takeKeptReceiver(name, server, realm);
  int rc = handle != 0 ? receive(handle) : OstrelCode::kBadHandle;
  if (rc == OstrelCode::kBadHandle) {  // none kept, or the server closed it as idle
    if ((rc = connectForReceive(name, handle, server, realm))) return rc;
    rc = receive(handle);
  }
  if (rc == OstrelCode::kOk && after == AfterReceive::kClose)
    OstrelOrigin::DisConnect(static_cast<int>(handle), server, realm);
  else
    keepReceiver(name, server, realm, handle);
  return rc;
}

// A receive's result for the caller: the middleware's refusal of a value of another size is the
// library's kEventSizeMismatch; any other code passes unchanged.
int sizeRefusal(int rc);

}  // namespace ostrel
