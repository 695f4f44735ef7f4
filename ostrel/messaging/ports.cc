// Ports and packets: create, connect, send, receive, reply and wait, all through the flat
// client API with the realm resolved once per operation.
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/record.h"
#include "ostrel/messaging/channels.h"

namespace ostrel {
namespace {
using Key = std::tuple<std::string, std::string, std::string>;  // server, realm, name
}  // namespace

int connectForReceive(const char* name, unsigned int& handle, const char* server, const char* position) {
  handle = 0;
  int rc = OstrelOrigin::ConnectPortForRecv(name, handle, server, position);
  if (rc == OstrelCode::kReceiveRefused) rc = OstrelOrigin::ConnectPortForRecv(name, handle, server, position);
  return rc;
}

int messageValue(BrennicData& data, char*& bytes, unsigned int& length) {
  bytes = nullptr;
  length = 0;
  if (data.GetRawValue() == nullptr && data.GetBufferSize() == 0) return OstrelCode::kOk;
  return data.heldValue(bytes, length);
}

unsigned int leastFor(BrennicData& data) { return data.GetTypeName() != nullptr ? data.GetBufferSize() : 0; }

int sizeRefusal(int rc) { return rc == KX_SIZE_MISMATCH ? OstrelCode::kEventSizeMismatch : rc; }

namespace {

// Receive connections by name that this process keeps, per (server, realm, name).
class KeptReceivers {
 public:
  static constexpr std::size_t kPerName = 4;

  unsigned int take(const Key& key) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = kept_.find(key);
    if (it == kept_.end()) return 0;
    const unsigned int handle = it->second.back();
    it->second.pop_back();
    if (it->second.empty()) kept_.erase(it);
    return handle;
  }
  // Every kept connection, none kept any more.
  std::map<Key, std::vector<unsigned int>> takeAll() {
    std::map<Key, std::vector<unsigned int>> all;
    std::lock_guard<std::mutex> hold(mutex_);
    all.swap(kept_);
    return all;
  }
  // False when the name has its handful already: the caller closes the connection.
  bool keep(const Key& key, unsigned int handle) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<unsigned int>& handles = kept_[key];
    if (handles.size() >= kPerName) return false;
    handles.push_back(handle);
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<Key, std::vector<unsigned int>> kept_;  // GUARDED_BY(mutex_)
};

KeptReceivers& keptReceivers() {
  static KeptReceivers* kept = new KeptReceivers();  // lives until exit; threads may still receive
  return *kept;
}

Key keyOf(const char* name, const char* server, const char* realm) {
  const auto named = resolveServer(server);
  return Key(named ? *named : std::string(), realm ? realm : "", name ? name : "");
}

}  // namespace

unsigned int takeKeptReceiver(const char* name, const char* server, const char* realm) {
  return keptReceivers().take(keyOf(name, server, realm));
}

void closeKeptReceivers() {
  for (const auto& entry : keptReceivers().takeAll())
    for (unsigned int handle : entry.second)
      kx_disconenct_port(handle, std::get<0>(entry.first).c_str(), std::get<1>(entry.first).c_str());
}

void keepReceiver(const char* name, const char* server, const char* realm, unsigned int handle) {
  if (!keptReceivers().keep(keyOf(name, server, realm), handle))
    OstrelOrigin::DisConnect(static_cast<int>(handle), server, realm);
}

}  // namespace ostrel

namespace {

enum class Take { kAdopt, kCopy };

// One packet into `data` from receive connection `handle`: a typed record takes only a packet
// of at least its type's size (a shorter one stays queued, kEventSizeMismatch), so its block
// never ends short of its type.
int receiveInto(unsigned int handle, unsigned int& replyHandle, BrennicData& data, int timeout, char*& bytes,
                unsigned int& length, const char* server, const char* realm) {
  const unsigned int least = ostrel::leastFor(data);
  const int rc = least ? kx_receive_packet_least(handle, &replyHandle, &bytes, &length, least, timeout, server, realm)
                       : kx_receive_packetv(handle, &replyHandle, &bytes, &length, timeout, server, realm);
  return ostrel::sizeRefusal(rc);
}

// Receives one packet by port name into `data`. On success the record adopts the buffer or
// copies it (keeping its own size), and the receive connection is closed; on failure the record
// is untouched and the connection is kept for the next receive by that name.
int receiveByName(const char* portName, unsigned int& replyHandle, BrennicData& data, int timeout, Take take,
                  const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    const int rc = ostrel::receiveByName(portName, server, realm, [&](unsigned int handle) {
      return receiveInto(handle, replyHandle, data, timeout, bytes, length, server, realm);
    }, ostrel::AfterReceive::kClose);
    if (rc != OstrelCode::kOk) return rc;
    if (take == Take::kAdopt) {
      data.SwellSetRawValue(bytes, static_cast<int>(length));
    } else {
      data.SetRawValue(bytes, static_cast<int>(length));
      kx_free_buffer(bytes);
    }
    return OstrelCode::kOk;
  });
}

int receiveByHandle(unsigned int handle, unsigned int& replyHandle, BrennicData& data, int timeout,
                    const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = receiveInto(handle, replyHandle, data, timeout, bytes, length, server, realm)) return rc;
    data.SwellSetRawValue(bytes, static_cast<int>(length));
    return OstrelCode::kOk;
  });
}

// Opens a send connection (the handle may come in seeded) and sends one packet through it;
// the connection stays open.
int sendByName(const char* portName, BrennicData& data, unsigned int& handle, int option, bool front,
               const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    if (int rc = OstrelOrigin::ConnectPortForSend(portName, handle, server, realm)) return rc;
    auto send = front ? kx_send_packet_to_front : kx_send_packet;
    return send(handle, bytes, length, option, server, realm);
  });
}

}  // namespace

int OstrelOrigin::CreatePort(const char* portName, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    return kx_create_port(portName, ostrel::kPortKind, ostrel::kPortSize, server, realm);
  });
}

int OstrelOrigin::ConnectPortForRecv(const char* portName, unsigned int& handle, const char* server,
                                     const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    unsigned int extra = 0;
    const int rc = kx_connect_port(portName, &handle, ostrel::kReceiveDirection, ostrel::kConnectMode, &extra, server,
                                   realm);
    // The middleware may have issued a second handle before it refused; it is ours to close.
    if (rc != OstrelCode::kOk) kx_disconenct_port(extra, server, realm);
    return rc;
  });
}

int OstrelOrigin::ConnectPortForSend(const char* portName, unsigned int& handle, const char* server,
                                     const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    unsigned int extra = 0;
    return kx_connect_port(portName, &handle, ostrel::kSendDirection, ostrel::kConnectMode, &extra, server,
                           realm);
  });
}

void OstrelOrigin::DisConnect(int handle, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  kx_disconenct_port(static_cast<unsigned int>(handle), server, realm.c_str());
}

int OstrelOrigin::ReceivePacket(unsigned int handle, unsigned int& replyHandle, BrennicData& data, int timeout,
                                const char* server, const char* position) {
  return receiveByHandle(handle, replyHandle, data, timeout, server, position);
}

int OstrelOrigin::ReceivePacket(unsigned int handle, BrennicData& data, int timeout, const char* server,
                                const char* position) {
  unsigned int replyHandle = 0;
  return receiveByHandle(handle, replyHandle, data, timeout, server, position);
}

int OstrelOrigin::ReceivePacket(const char* portName, unsigned int& replyHandle, BrennicData& data, int timeout,
                                const char* server, const char* position) {
  return receiveByName(portName, replyHandle, data, timeout, Take::kAdopt, server, position);
}

int OstrelOrigin::ReceivePacket(const char* portName, BrennicData& data, int timeout, const char* server,
                                const char* position) {
  unsigned int replyHandle = 0;
  return receiveByName(portName, replyHandle, data, timeout, Take::kCopy, server, position);
}

int OstrelOrigin::ReplyPacket(unsigned int replyHandle, BrennicData& data, int option, const char* server,
                              const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    return kx_reply_packet(replyHandle, bytes, length, option, server, realm);
  });
}

int OstrelOrigin::SendPacket(unsigned int handle, BrennicData& data, int option, const char* server,
                             const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    return kx_send_packet(handle, bytes, length, option, server, realm);
  });
}

int OstrelOrigin::SendPacket(const char* portName, BrennicData& data, unsigned int& handle, int option,
                             const char* server, const char* position) {
  return sendByName(portName, data, handle, option, false, server, position);
}

int OstrelOrigin::SendPacketFront(const char* portName, BrennicData& data, unsigned int handleHint, int option,
                                  const char* server, const char* position) {
  unsigned int handle = handleHint;
  return sendByName(portName, data, handle, option, true, server, position);
}

int OstrelOrigin::WaitReply(unsigned int handle, BrennicData& data, int timeout, const char* server,
                            const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    return ostrel::sizeRefusal(kx_receive_reply(handle, bytes, length, timeout, server, realm));
  });
}

int OstrelOrigin::WaitUndefinedReply(unsigned int handle, BrennicData& data, int timeout, const char* server,
                                     const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    const unsigned int least = ostrel::leastFor(data);
    const int rc = least ? kx_receive_reply_least(handle, &bytes, &length, least, timeout, server, realm)
                         : kx_receive_reply2(handle, &bytes, &length, timeout, server, realm);
    if (rc != OstrelCode::kOk) return ostrel::sizeRefusal(rc);
    // The whole reply, never a cut one: the record takes the buffer, whatever its length.
    data.SwellSetRawValue(bytes, static_cast<int>(length));
    return OstrelCode::kOk;
  });
}
