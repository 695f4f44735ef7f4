// What the port and event operations share: the constants they hand to the middleware and the
// receive connection by name that both open.
//
// Every function may be called from any thread; none holds a lock when it returns.
#pragma once

#include <string>

#include "ostrel/connection/call_frame.h"

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

}  // namespace ostrel
