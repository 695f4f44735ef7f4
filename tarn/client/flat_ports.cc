// The flat client API: packet ports and event boxes.
//
// Receives and reply waits are tagged receives (kxDeliveries.h) that run in slices with a call
// time-out of their own slice plus a margin, retried with the same tag while the wait's limit
// allows: a default call time-out never cuts a legitimate wait short, a stall only delays it,
// and a dead server still ends every bounded wait.

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "ostrel/api/middleware/kxDeliveries.h"
#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

namespace tarn {
namespace {

// The caller's bytes as an in-parameter, without a copy.
kxTarn::DATA_BUFFER borrow(const char* buffer, unsigned int length) {
  return kxTarn::DATA_BUFFER(length, length, reinterpret_cast<CORBA::Octet*>(const_cast<char*>(buffer)), false);
}

std::mutex patientMutex;
// Keyed by the reference's address; the entry holds a duplicate of the reference so that the
// address cannot be reused while the entry lives.
struct Patient {
  CORBA::Object_var reference;
  CORBA::Object_var patient;
};
std::map<std::pair<CORBA::Object_ptr, int>, Patient> patients;  // GUARDED_BY(patientMutex)
constexpr std::size_t kMaxPatients = 64;

}  // namespace

bool& lastCallTimedOut() {
  thread_local bool timedOut = false;
  return timedOut;
}

CORBA::Object_ptr patientReference(CORBA::Object_ptr reference, int callTimeOutMs) {
  const auto key = std::make_pair(reference, callTimeOutMs);
  {
    std::lock_guard<std::mutex> hold(patientMutex);
    auto it = patients.find(key);
    if (it != patients.end()) return CORBA::Object::_duplicate(it->second.patient.in());
  }
  CORBA::Object_var patient = kxNaming_Client::GetInstance()->changeTimeOut(reference, callTimeOutMs, nullptr, nullptr);
  if (CORBA::is_nil(patient.in())) return CORBA::Object::_nil();
  std::lock_guard<std::mutex> hold(patientMutex);
  if (patients.size() >= kMaxPatients) patients.clear();
  Patient& kept = patients[key];
  kept.reference = CORBA::Object::_duplicate(reference);
  kept.patient = CORBA::Object::_duplicate(patient.in());
  return patient._retn();
}

void forgetPatient(CORBA::Object_ptr reference) {
  std::lock_guard<std::mutex> hold(patientMutex);
  for (auto it = patients.begin(); it != patients.end();) {
    if (it->first.first == reference)
      it = patients.erase(it);
    else
      ++it;
  }
}

}  // namespace tarn

using namespace tarn;

int kx_create_port(const char* name, int kind, int size, const char* server, const char* position) {
  if (!name) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) { return ports->create_port(name, kind, size); });
}

int kx_connect_port(const char* name, unsigned int* handle, int direction, int mode, unsigned int* extra,
                    const char* server, const char* position) {
  if (!name || !handle) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
    CORBA::ULong issued = *handle;
    CORBA::ULong second = 0;
    const int rc = ports->connect_port_from(name, direction, mode, kx_process_name(), issued, second);
    if (rc == kOk) *handle = issued;
    if (extra) *extra = second;
    return rc;
  });
}

int kx_disconenct_port(unsigned int handle, const char* server, const char* position) {
  kxTarn::TAG_LIST acks, released;
  kxDeliveries::closing(server, position, handle, acks, released);
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
    return ports->disconnect_settled(handle, acks, released);
  });
}

int kx_add_event(const char* boxName, int eventCode, const char* server, const char* position) {
  if (!boxName) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) { return ports->add_event(boxName, eventCode); });
}

int kx_clear_event(const char* boxName, const char* server, const char* position) {
  if (!boxName) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) { return ports->clear_event(boxName); });
}

int kx_event_count(const char* boxName, unsigned int* count, const char* server, const char* position) {
  if (!boxName || !count) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
    CORBA::ULong held = 0;
    const int rc = ports->event_count(boxName, held);
    if (rc == kOk) *count = held;
    return rc;
  });
}

int kx_send_event(const char* boxName, const char* buffer, unsigned int length, const char* server,
                  const char* position) {
  if (!boxName || (!buffer && length)) return kBadArgument;
  return callPorts(server, position,
                   [&](kxTarn::Port_Factory_ptr ports) { return ports->send_event(boxName, borrow(buffer, length)); });
}

int kx_declare_event(int eventCode, const char* buffer, unsigned int length, const char* server,
                     const char* position) {
  if (!buffer && length) return kBadArgument;
  return callPorts(server, position,
                   [&](kxTarn::Port_Factory_ptr ports) { return ports->declare_event(eventCode, borrow(buffer, length)); });
}

namespace {

int sendPacket(unsigned int handle, const char* buffer, unsigned int length, int option, bool front,
               const char* server, const char* position) {
  if (!buffer && length) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
    return ports->send_packet(handle, borrow(buffer, length), option, front);
  });
}

}  // namespace

int kx_send_packet(unsigned int handle, const char* buffer, unsigned int length, int option, const char* server,
                   const char* position) {
  return sendPacket(handle, buffer, length, option, false, server, position);
}

int kx_send_packet_to_front(unsigned int handle, const char* buffer, unsigned int length, int option,
                            const char* server, const char* position) {
  return sendPacket(handle, buffer, length, option, true, server, position);
}

int kx_reply_packet(unsigned int replyHandle, const char* buffer, unsigned int length, int option,
                    const char* server, const char* position) {
  if (!buffer && length) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
    return ports->reply_packet(replyHandle, borrow(buffer, length), option);
  });
}

namespace {

constexpr unsigned int kAnyLength = ~0u;

// One packet (receive connections) or reply (send connections) of `least` to `most` bytes,
// waiting up to `timeout` in slices as one tagged receive: `hand(value, sender)` gets the value
// and answers whether it was taken into the caller's hands, which acknowledges the receive.
template <typename Hand>
int receiveOne(unsigned int handle, bool replies, unsigned int least, unsigned int most, int timeout, const char* server,
               const char* position, Hand hand) {
  kxDelivery delivery(server, position, handle);
  CORBA::ULong from = 0;
  kxTarn::DATA_BUFFER_SEQ_var values;
  const int rc = waitInSlices(timeout, [&](int slice) {
    kxTarn::TAG_LIST acks, released;
    delivery.carry(acks, released);
    const int answered = callPorts(server, position, [&](kxTarn::Port_Factory_ptr ports) {
      return ports->receive_tagged(handle, delivery.tag(), acks, released, replies, false, least, most, 1, slice, from,
                                   values.out());
    }, waitCallTimeOut(slice));
    if (answered == kRemoteFailure)
      delivery.mayHold();
    else
      delivery.carried(acks, released);
    return answered;
  });
  if (rc != kOk) return rc;
  delivery.mayHold();
  if (values->length() != 1) return kRemoteFailure;
  const int handed = hand(values[0], from);
  if (handed == kOk) delivery.delivered();
  return handed;
}

// The value into a caller's buffer of exactly `capacity` bytes.
int copyInto(const kxTarn::DATA_BUFFER& value, char* buffer, unsigned int capacity) {
  if (value.length() != capacity) return kSizeMismatch;  // never copy a value of another size
  if (capacity) std::memcpy(buffer, value.get_buffer(), capacity);
  return kOk;
}

}  // namespace

int kx_receive_packet(unsigned int handle, unsigned int* sender, char* buffer, unsigned int capacity, int timeout,
                      const char* server, const char* position) {
  if (!buffer && capacity) return kBadArgument;
  return receiveOne(handle, false, capacity, capacity, timeout, server, position,
                    [&](const kxTarn::DATA_BUFFER& value, CORBA::ULong from) {
                      const int rc = copyInto(value, buffer, capacity);
                      if (rc == kOk && sender) *sender = from;
                      return rc;
                    });
}

int kx_receive_packet_least(unsigned int handle, unsigned int* sender, char** buffer, unsigned int* length,
                            unsigned int least, int timeout, const char* server, const char* position) {
  if (!buffer || !length) return kBadArgument;
  return receiveOne(handle, false, least, kAnyLength, timeout, server, position,
                    [&](const kxTarn::DATA_BUFFER& value, CORBA::ULong from) {
                      *buffer = handOver(value);
                      *length = value.length();
                      if (sender) *sender = from;
                      return kOk;
                    });
}

int kx_receive_packetv(unsigned int handle, unsigned int* sender, char** buffer, unsigned int* length, int timeout,
                       const char* server, const char* position) {
  return kx_receive_packet_least(handle, sender, buffer, length, 0, timeout, server, position);
}

int kx_receive_reply(unsigned int handle, char* buffer, unsigned int capacity, int timeout, const char* server,
                     const char* position) {
  if (!buffer && capacity) return kBadArgument;
  return receiveOne(handle, true, capacity, capacity, timeout, server, position,
                    [&](const kxTarn::DATA_BUFFER& value, CORBA::ULong) { return copyInto(value, buffer, capacity); });
}

int kx_receive_reply_least(unsigned int handle, char** buffer, unsigned int* length, unsigned int least, int timeout,
                           const char* server, const char* position) {
  if (!buffer || !length) return kBadArgument;
  return receiveOne(handle, true, least, kAnyLength, timeout, server, position,
                    [&](const kxTarn::DATA_BUFFER& value, CORBA::ULong) {
                      *buffer = handOver(value);
                      *length = value.length();
                      return kOk;
                    });
}

int kx_receive_reply2(unsigned int handle, char** buffer, unsigned int* length, int timeout, const char* server,
                      const char* position) {
  return kx_receive_reply_least(handle, buffer, length, 0, timeout, server, position);
}
