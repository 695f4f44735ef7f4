// What the port and event operations share: the constants they hand to the middleware and the
// receive connection by name that both open.
//
// Every function may be called from any thread; none holds a lock when it returns.
#pragma once

#include <string>

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

// A batch receive names the last batch of events its connection brought (events.cc keeps the
// numbers per server and handle), so that a batch whose answer was lost on the way comes again:
// the server keeps each answer until the connection's next receive. Forgets the number of
// `handle` on `server` (null or empty: the "own" server) when the library closes it.
void forgetDeliveries(const char* server, unsigned int handle);

// A receive's result for the caller: the middleware's refusal of a value of another size is the
// library's kEventSizeMismatch; any other code passes unchanged.
int sizeRefusal(int rc);

}  // namespace ostrel
