// Event boxes and events: boxes and their codes through the flat client API, batches and box
// deletion through the remote port service, with the realm resolved once per operation.
#include <climits>
#include <cstring>
#include <vector>

#include "ostrel/api/middleware/Scribe80.h"
#include "ostrel/api/middleware/kxDeliveries.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/datapoints/point_lists.h"
#include "ostrel/messaging/channels.h"

namespace {

using Ports = kxTarn::Port_Factory;
using PortsPtr = kxTarn::Port_Factory_ptr;

// Runs `call` and, should it raise a CORBA exception, writes one log line with `format` (none
// when null) and the exception's name before the call frame turns it into a code.
template <typename Call>
auto logged(const char* format, Call call) {
  return [format, call](PortsPtr ports) {
    try {
      return call(ports);
    } catch (const CORBA::Exception& e) {
      if (format) CScribe::instance()->kx_log(format, e._name());
      throw;
    }
  };
}

// The guard, the server (kNoServerName when none can be named) and the realm of a batch.
struct Target {
  int rc = OstrelCode::kOk;
  std::string server;
  std::string realm;
};

Target batchTarget(const char* server, const char* position) {
  Target target;
  if ((target.rc = ostrel::guardConnection(server))) return target;
  target.realm = ostrel::positionOrDefault(server, position);
  const auto name = ostrel::resolveServer(server);
  if (!name) {
    target.rc = OstrelCode::kNoServerName;
    return target;
  }
  target.server = *name;
  return target;
}

bool nullArray(BrennicData** records) { return records == nullptr; }

// The records' raw values as a batch; the buffers borrow the records' bytes for the call.
// After the guard, a negative count, a null array, a null record, or one that claims bytes it
// does not hold, refuses the batch before anything is sent.
template <typename Records>
int sendRaw(int eventCode, const Records& records, int count, const char* logFormat, const char* server,
            const char* position) {
  const Target target = batchTarget(server, position);
  if (target.rc) return target.rc;
  if (count < 0) return OstrelCode::kNegativeCount;
  if (count > 0 && nullArray(records)) return OstrelCode::kNullArray;
  std::vector<std::pair<char*, unsigned int>> held(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (records[i] == nullptr) return OstrelCode::kInvalidRecord;
    if (int rc = ostrel::messageValue(*records[i], held[i].first, held[i].second)) return rc;
  }
  kxTarn::DATA_BUFFER_SEQ values(static_cast<CORBA::ULong>(count));
  values.length(static_cast<CORBA::ULong>(count));
  for (std::size_t i = 0; i < held.size(); ++i) {
    const CORBA::ULong size = held[i].second;
    values[static_cast<CORBA::ULong>(i)].replace(size, size, reinterpret_cast<CORBA::Octet*>(held[i].first), false);
  }
  return ostrel::callService<Ports, OstrelCode::kRemoteCallFailed>(
      target.server.c_str(), target.realm.c_str(),
      logged(logFormat, [&](PortsPtr ports) { return ports->send_events(eventCode, values, 0); }));
}

struct ValueRecords {
  const std::vector<BrennicData>& records;
  BrennicData* operator[](std::size_t i) const { return const_cast<BrennicData*>(&records[i]); }
};

bool nullArray(const ValueRecords&) { return false; }

enum class Form { kRaw, kTyped, kStream };

// A list being filled: released on the way out unless it was handed over.
struct PendingList {
  BrennicDataList list;
  ~PendingList() { ostrel::releaseList(list.count, list.items); }
};

// Receives up to maxCount events of receive connection `handle` into `list`, as one tagged
// receive (kxDeliveries.h): the server keeps what it took until the list is made, so an answer
// lost on the way comes again on the next attempt and nothing is taken twice. The list is filled
// only when every event became a record. A typed receive asks the server for events of the
// type's size only: one of another size among those it would take refuses the whole receive
// (kEventSizeMismatch, list empty) and leaves every event in the box. A stream event that does
// not parse comes back as a raw record of its own bytes rather than as nothing.
int receiveMany(unsigned int handle, BrennicDataList& list, Form form, const char* typeName, int maxCount,
                int timeout, const char* server, const char* position) {
  const Target target = batchTarget(server, position);
  if (target.rc) return target.rc;
  const char* logFormat =
      form == Form::kStream ? "ReceiveUndefinedEventN M/W Error %s" : "ReceiveEventN M/W Error %s";
  TarnDataType* type = nullptr;
  if (form == Form::kTyped) {
    type = TarnTypeMgr::GetInstance()->GetDataType(typeName);
    if (type == nullptr) return OstrelCode::kRecordWithoutType;  // nothing taken from the box
  }
  kxDelivery delivery(target.server.c_str(), target.realm.c_str(), handle);
  kxTarn::DATA_BUFFER_SEQ_var values;
  int slice = 0;
  bool answered = false;
  auto receive = [&](PortsPtr ports) {
    kxTarn::TAG_LIST acks, released;
    delivery.carry(acks, released);
    const CORBA::ULong least = type ? type->GetTypeSize() : 0;
    const CORBA::ULong most = type ? type->GetTypeSize() : ~CORBA::ULong(0);
    CORBA::ULong sender = 0;
    const int rc = ports->receive_tagged(handle, delivery.tag(), acks, released, false, true, least, most, maxCount, slice,
                                         sender, values.out());
    answered = true;
    delivery.carried(acks, released);
    return ostrel::sizeRefusal(rc);
  };
  const int rc = ostrel::waitInSlices(timeout, [&](int sliceMs) {
    slice = sliceMs;
    answered = false;
    const int code = ostrel::callService<Ports, OstrelCode::kRemoteCallFailed>(
        target.server.c_str(), target.realm.c_str(), logged(logFormat, receive), ostrel::waitCallTimeOut(sliceMs));
    if (!answered) delivery.mayHold();  // the call may have taken events and lost its answer
    return code;
  });
  if (rc == OstrelCode::kEventSizeMismatch) {
    list.count = 0;
    list.items = nullptr;
  }
  if (rc != OstrelCode::kOk) return rc;
  delivery.mayHold();
  const CORBA::ULong count = values->length();
  for (CORBA::ULong i = 0; form == Form::kTyped && i < count; ++i) {
    if (type->GetTypeSize() != values[i].length()) {
      list.count = 0;
      list.items = nullptr;
      return OstrelCode::kEventSizeMismatch;
    }
  }
  PendingList made;
  made.list.items = new BrennicData*[count]();
  made.list.count = static_cast<int>(count);
  BrennicData::makeBatch(count, made.list.items);
  for (CORBA::ULong i = 0; i < count; ++i) {
    BrennicData& record = *made.list.items[i];
    const bool parsed = form == Form::kStream &&
                        BrennicData::isWholeStream(reinterpret_cast<char*>(values[i].get_buffer()), values[i].length()) &&
                        record.tryFromStream(reinterpret_cast<char*>(values[i].get_buffer()), values[i].length());
    if (!parsed) ostrel::fillRecord(record, type, values[i]);
  }
  list.items = made.list.items;
  list.count = made.list.count;
  made.list.items = nullptr;
  made.list.count = 0;
  delivery.delivered();
  return OstrelCode::kOk;
}

}  // namespace

int OstrelOrigin::CreateEventBox(const char* boxName, int eventCode, int boxSize, const char* server,
                                 const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    const int rc = kx_create_port(boxName, ostrel::kBoxKind, boxSize, server, realm);
    if (rc == OstrelCode::kOk) kx_add_event(boxName, eventCode, server, realm);
    return rc;
  });
}

int OstrelOrigin::DeleteEventBox(const char* boxName, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    // Without an "own" server the reference is still asked for, with the caller's null name.
    const auto resolved = ostrel::resolveServer(server);
    return ostrel::callService<Ports, OstrelCode::kRemoteCallFailed>(
        resolved ? resolved->c_str() : nullptr, realm,
        [&](PortsPtr ports) { return ports->delete_box(boxName ? boxName : ""); });
  });
}

int OstrelOrigin::ClearEventBox(const char* boxName, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_clear_event(boxName, server, realm.c_str());
}

int OstrelOrigin::AddEventCode(const char* boxName, int eventCode, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    return kx_add_event(boxName, eventCode, server, realm);
  });
}

int OstrelOrigin::EventCount(const char* boxName, unsigned int& count, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_event_count(boxName, &count, server, realm.c_str());
}

int OstrelOrigin::SendEvent(int eventCode, BrennicData& data, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    if (!data.IsGood()) return OstrelCode::kInvalidRecord;
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    return kx_declare_event(eventCode, bytes, length, server, realm);
  });
}

int OstrelOrigin::SendEvent(const char* boxName, BrennicData& data, int, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    return kx_send_event(boxName, bytes, length, server, realm);
  });
}

int OstrelOrigin::SendUndefinedEvent(int eventCode, BrennicData& data, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    if (!data.IsGood()) return OstrelCode::kInvalidRecord;
    BrennicStore stream;
    data.toStream(stream);
    return kx_declare_event(eventCode, stream.get(), static_cast<unsigned int>(stream.buffer_size()), server,
                            realm);
  });
}

int OstrelOrigin::SendEventN(int eventCode, const std::vector<BrennicData>& records, const char* server,
                             const char* position) {
  if (records.size() > static_cast<std::size_t>(INT_MAX)) return OstrelCode::kNegativeCount;
  return sendRaw(eventCode, ValueRecords{records}, static_cast<int>(records.size()), nullptr, server, position);
}

int OstrelOrigin::SendEventN(int eventCode, BrennicData** records, int count, int, const char* server,
                             const char* position) {
  return sendRaw(eventCode, records, count, "SendEventN M/W Error %s", server, position);
}

int OstrelOrigin::SendUndefinedEventEventN(int eventCode, const std::vector<BrennicData*>& records,
                                           const char* server, const char* position) {
  const Target target = batchTarget(server, position);
  if (target.rc) return target.rc;
  for (BrennicData* record : records)
    if (record == nullptr) return OstrelCode::kInvalidRecord;  // refused before anything is sent
  kxTarn::DATA_BUFFER_SEQ values(static_cast<CORBA::ULong>(records.size()));
  values.length(static_cast<CORBA::ULong>(records.size()));
  for (CORBA::ULong i = 0; i < values.length(); ++i) {
    BrennicStore stream;
    records[i]->toStream(stream);
    const CORBA::ULong size = static_cast<CORBA::ULong>(stream.buffer_size());
    values[i].length(size);
    if (size) std::memcpy(values[i].get_buffer(), stream.get(), size);
  }
  return ostrel::callService<Ports, OstrelCode::kRemoteCallFailed>(
      target.server.c_str(), target.realm.c_str(),
      [&](PortsPtr ports) { return ports->send_events(eventCode, values, 0); });
}

int OstrelOrigin::ReceiveEvent(int handle, BrennicData& data, int timeout, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    unsigned int sender = 0;
    char* bytes = nullptr;
    unsigned int length = 0;
    if (int rc = ostrel::messageValue(data, bytes, length)) return rc;
    // Only an event of exactly the record's size lands in its block; another stays queued.
    return ostrel::sizeRefusal(
        kx_receive_packet(static_cast<unsigned int>(handle), &sender, bytes, length, timeout, server, realm));
  });
}

int OstrelOrigin::ReceiveEvent(const char* boxName, BrennicData& data, int timeout, const char* server,
                               const char* position) {
  unsigned int sender = 0;
  return OstrelOrigin::ReceivePacket(boxName, sender, data, timeout, server, position);
}

int OstrelOrigin::ReceiveEventN(unsigned int handle, BrennicDataList& list, const char* typeName, int maxCount,
                                int timeout, const char* server, const char* position) {
  return receiveMany(handle, list, typeName ? Form::kTyped : Form::kRaw, typeName, maxCount, timeout, server,
                     position);
}

int OstrelOrigin::ReceiveEventN(const char* boxName, BrennicDataList& list, const char* typeName, int maxCount,
                                int timeout, const char* server, const char* position) {
  return ostrel::guardedInRealm(server, position, [&](const char* realm) {
    return ostrel::receiveByName(boxName, server, realm, [&](unsigned int handle) {
      return OstrelOrigin::ReceiveEventN(handle, list, typeName, maxCount, timeout, server, realm);
    }, ostrel::AfterReceive::kKeep);
  });
}

int OstrelOrigin::ReceiveUndefinedEventN(unsigned int handle, BrennicDataList& list, int maxCount, int timeout,
                                         const char* server, const char* position) {
  return receiveMany(handle, list, Form::kStream, nullptr, maxCount, timeout, server, position);
}

