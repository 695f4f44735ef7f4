#include "tarn/server/ports.h"

#include <cstring>
#include <string>
#include <vector>

#include "tarn/client/codes.h"
#include "tarn/client/orb.h"
#include "tarn/server/host.h"
#include "tarn/server/rights.h"
#include "tarn/server/snapshot_file.h"

namespace tarn {

namespace {

SharedBytes toBytes(const kxTarn::DATA_BUFFER& value) {
  const unsigned char* start = value.get_buffer();
  return std::make_shared<const Bytes>(start, start + value.length());
}

kxTarn::DATA_BUFFER* toBuffer(const Bytes& bytes) {
  kxTarn::DATA_BUFFER_var value = new kxTarn::DATA_BUFFER(static_cast<CORBA::ULong>(bytes.size()));
  value->length(static_cast<CORBA::ULong>(bytes.size()));
  if (!bytes.empty()) std::memcpy(value->get_buffer(), bytes.data(), bytes.size());
  return value._retn();
}

std::string text(const char* value) { return value ? value : ""; }

// A packet or reply of any length.
constexpr CORBA::ULong kAnyLength = ~CORBA::ULong(0);

// What a receive takes; a batch answer stays a margin below the ORB's message limit (the
// server's own, tarnd --max-request-bytes), for the reply's header and the sequence's own words.
Fit fit(CORBA::ULong least, CORBA::ULong most) {
  Fit fit;
  fit.least = least;
  fit.most = most;
  fit.answerBytes = maxMessageBytes() - 64 * 1024;
  return fit;
}

}  // namespace

CORBA::Long PortService::set_persistent(const char* name, CORBA::Boolean persistent) {
  TARN_FAULT_POINT(host_.faults(), "set_persistent");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return ports().setPersistent(text(name), persistent);
}

CORBA::Long PortService::delete_box(const char* boxName) {
  TARN_FAULT_POINT(host_.faults(), "delete_box");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return ports().deleteBox(text(boxName));
}

CORBA::Long PortService::send_events(CORBA::Long eventCode, const kxTarn::DATA_BUFFER_SEQ& values, CORBA::Long) {
  TARN_FAULT_POINT(host_.faults(), "send_events");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  std::vector<SharedBytes> events;
  events.reserve(values.length());
  for (CORBA::ULong i = 0; i < values.length(); ++i) events.push_back(toBytes(values[i]));
  return ports().declare(eventCode, events);
}

namespace {

std::vector<Tag> tags(const kxTarn::TAG_LIST& list) { return std::vector<Tag>(list.get_buffer(), list.get_buffer() + list.length()); }

kxTarn::DATA_BUFFER_SEQ* toBuffers(const std::vector<Message>& taken) {
  kxTarn::DATA_BUFFER_SEQ_var values = new kxTarn::DATA_BUFFER_SEQ(static_cast<CORBA::ULong>(taken.size()));
  values->length(static_cast<CORBA::ULong>(taken.size()));
  for (CORBA::ULong i = 0; i < values->length(); ++i) {
    const Bytes& bytes = *taken[i].bytes;
    kxTarn::DATA_BUFFER& value = values[i];
    value.length(static_cast<CORBA::ULong>(bytes.size()));
    if (!bytes.empty()) std::memcpy(value.get_buffer(), bytes.data(), bytes.size());
  }
  return values._retn();
}

}  // namespace

int PortService::receive(CORBA::ULong handle, const Receipt& receipt, const Fit& fit, CORBA::Long maxCount,
                         CORBA::Long timeout, Batch& taken) {
  if (maxCount <= 0) return kBadArgument;
  return ports().receive(handle, receipt, static_cast<std::size_t>(maxCount), fit, timeout, taken);
}

CORBA::Long PortService::receive_events(CORBA::ULong handle, kxTarn::DATA_BUFFER_SEQ_out values, CORBA::Long maxCount,
                                        CORBA::Long timeout) {
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "receive_events");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  Receipt receipt;
  receipt.batch = true;
  Batch taken;
  if (int rc = receive(handle, receipt, fit(0, kAnyLength), maxCount, timeout, taken)) return rc;
  delete values.ptr();
  values = toBuffers(*taken);
  return kOk;
}

CORBA::Long PortService::receive_tagged(CORBA::ULong handle, CORBA::ULongLong tag, const kxTarn::TAG_LIST& acks,
                                        const kxTarn::TAG_LIST& released, CORBA::Boolean replies,
                                        CORBA::Boolean batch, CORBA::ULong least,
                                        CORBA::ULong most, CORBA::Long maxCount, CORBA::Long timeout,
                                        CORBA::ULong_out sender, kxTarn::DATA_BUFFER_SEQ_out values) {
  sender = 0;
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "receive_tagged");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  Receipt receipt;
  receipt.tag = tag;
  receipt.acks = tags(acks);
  receipt.released = tags(released);
  receipt.batch = batch;
  receipt.replies = replies;
  Batch taken;
  if (int rc = receive(handle, receipt, fit(least, most), batch ? maxCount : 1, timeout, taken)) return rc;
  sender = taken->front().sender;
  delete values.ptr();
  values = toBuffers(*taken);
  // A stall here (a fault plan) loses this answer after the take, as a cut cable would.
  TARN_FAULT_POINT(host_.faults(), "receive_tagged_answer");
  return kOk;
}

void PortService::settle(CORBA::ULong handle, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) {
  settle_now(handle, acks, released);
}

CORBA::Long PortService::settle_now(CORBA::ULong handle, const kxTarn::TAG_LIST& acks,
                                    const kxTarn::TAG_LIST& released) {
  TARN_FAULT_POINT(host_.faults(), "settle");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().settle(handle, tags(acks), tags(released));
}

int PortService::savePorts(const std::string& path) {
  return writeSnapshotFile(path, SnapshotKind::kPorts, ports().image(), host_.faults().halfway("snapshot_write"));
}

int PortService::restorePorts(const std::string& path) {
  std::string body;
  if (int rc = readSnapshotFile(path, SnapshotKind::kPorts, body)) return rc;
  return ports().restore(body);
}

kxTarn::FileHandle_ptr PortService::open_snapshot_file() { return open_snapshot_file_from(""); }

kxTarn::FileHandle_ptr PortService::open_snapshot_file_from(const char* process) {
  host_.faults().enter("open_snapshot_file");
  if (!permitted(Right::kRead, realm_->name)) throw CORBA::NO_PERMISSION();
  return openSnapshotFile(host_, *realm_, realm_->portsFile, "ports",
                          [this](const std::string& path) { return savePorts(path); }, process);
}

CORBA::Long PortService::create_port(const char* name, CORBA::Long kind, CORBA::Long size) {
  TARN_FAULT_POINT(host_.faults(), "create_port");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  if (nameTooLong(name)) return kBadArgument;
  return ports().create(text(name), kind, size);
}

CORBA::Long PortService::connect_port(const char* name, CORBA::Long direction, CORBA::Long mode, CORBA::ULong& handle,
                                      CORBA::ULong_out extra) {
  return connect_port_from(name, direction, mode, "", handle, extra);
}

CORBA::Long PortService::connect_port_from(const char* name, CORBA::Long direction, CORBA::Long, const char* process,
                                           CORBA::ULong& handle, CORBA::ULong_out extra) {
  extra = 0;
  TARN_FAULT_POINT(host_.faults(), "connect_port");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  if (nameTooLong(process)) return kBadArgument;  // kept with the connection
  unsigned issued = 0;
  const int rc = ports().connect(text(name), direction, text(process), issued);
  if (rc == kOk) handle = issued;
  return rc;
}

CORBA::Long PortService::disconnect_settled(CORBA::ULong handle, const kxTarn::TAG_LIST& acks,
                                            const kxTarn::TAG_LIST& released) {
  TARN_FAULT_POINT(host_.faults(), "disconnect_port");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  ports().settle(handle, tags(acks), tags(released));
  return ports().disconnect(handle);
}

CORBA::Long PortService::disconnect_port(CORBA::ULong handle) {
  TARN_FAULT_POINT(host_.faults(), "disconnect_port");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().disconnect(handle);
}

CORBA::Long PortService::add_event(const char* boxName, CORBA::Long eventCode) {
  TARN_FAULT_POINT(host_.faults(), "add_event");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return ports().addCode(text(boxName), eventCode);
}

CORBA::Long PortService::clear_event(const char* boxName) {
  TARN_FAULT_POINT(host_.faults(), "clear_event");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().clear(text(boxName));
}

CORBA::Long PortService::event_count(const char* boxName, CORBA::ULong_out count) {
  count = 0;
  TARN_FAULT_POINT(host_.faults(), "event_count");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  unsigned held = 0;
  const int rc = ports().count(text(boxName), held);
  count = held;
  return rc;
}

CORBA::Long PortService::send_event(const char* boxName, const kxTarn::DATA_BUFFER& value) {
  TARN_FAULT_POINT(host_.faults(), "send_event");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().sendEvent(text(boxName), toBytes(value));
}

CORBA::Long PortService::declare_event(CORBA::Long eventCode, const kxTarn::DATA_BUFFER& value) {
  TARN_FAULT_POINT(host_.faults(), "declare_event");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().declare(eventCode, {toBytes(value)});
}

CORBA::Long PortService::send_packet(CORBA::ULong handle, const kxTarn::DATA_BUFFER& value, CORBA::Long,
                                     CORBA::Boolean front) {
  TARN_FAULT_POINT(host_.faults(), "send_packet");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().sendPacket(handle, toBytes(value), front);
}

CORBA::Long PortService::receive_packet(CORBA::ULong handle, CORBA::ULong_out sender, kxTarn::DATA_BUFFER_out value,
                                        CORBA::Long timeout) {
  sender = 0;
  value = new kxTarn::DATA_BUFFER;
  TARN_FAULT_POINT(host_.faults(), "receive_packet");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  Batch taken;
  if (int rc = receive(handle, Receipt(), fit(0, kAnyLength), 1, timeout, taken)) return rc;
  sender = taken->front().sender;
  delete value.ptr();
  value = toBuffer(*taken->front().bytes);
  return kOk;
}

CORBA::Long PortService::reply_packet(CORBA::ULong replyHandle, const kxTarn::DATA_BUFFER& value, CORBA::Long) {
  TARN_FAULT_POINT(host_.faults(), "reply_packet");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  return ports().reply(replyHandle, toBytes(value));
}

CORBA::Long PortService::receive_reply(CORBA::ULong handle, kxTarn::DATA_BUFFER_out value, CORBA::Long timeout) {
  value = new kxTarn::DATA_BUFFER;
  TARN_FAULT_POINT(host_.faults(), "receive_reply");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  Receipt receipt;
  receipt.replies = true;
  Batch taken;
  if (int rc = receive(handle, receipt, fit(0, kAnyLength), 1, timeout, taken)) return rc;
  delete value.ptr();
  value = toBuffer(*taken->front().bytes);
  return kOk;
}

CORBA::Long PortService::channel_names(kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "channel_names");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  const std::vector<std::string> found = ports().channelNames();
  names->length(static_cast<CORBA::ULong>(found.size()));
  for (CORBA::ULong i = 0; i < names->length(); ++i) (*names)[i] = found[i].c_str();
  return kOk;
}

CORBA::Long PortService::peek_channel(const char* name, CORBA::Long kind, CORBA::ULong from, CORBA::Long maxCount,
                                      CORBA::ULong_out held, kxTarn::DATA_BUFFER_SEQ_out values) {
  held = 0;
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "peek_channel");
  if (maxCount < 1 || maxCount > KX_PEEK_MOST || (kind != kPortKind && kind != kBoxKind)) return kBadArgument;
  std::vector<SharedBytes> seen;
  unsigned queued = 0;
  const int rc = ports().peek(text(name), kind, from, static_cast<std::size_t>(maxCount),
                              fit(0, kAnyLength).answerBytes, queued, seen);
  held = queued;
  values->length(static_cast<CORBA::ULong>(seen.size()));
  for (CORBA::ULong i = 0; i < values->length(); ++i) {
    kxTarn::DATA_BUFFER& value = (*values)[i];
    value.length(static_cast<CORBA::ULong>(seen[i]->size()));
    if (!seen[i]->empty()) std::memcpy(value.get_buffer(), seen[i]->data(), seen[i]->size());
  }
  return rc;
}

CORBA::Long PortService::connections(kxTarn::ConnectionInfoSeq_out infos) {
  infos = new kxTarn::ConnectionInfoSeq;
  TARN_FAULT_POINT(host_.faults(), "connections");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  const std::vector<ConnectionRow> rows = ports().connections();
  infos->length(static_cast<CORBA::ULong>(rows.size()));
  for (CORBA::ULong i = 0; i < infos->length(); ++i) {
    kxTarn::ConnectionInfo& info = (*infos)[i];
    info.handle = rows[i].handle;
    info.portName = rows[i].channel.c_str();
    info.direction = rows[i].direction;
    info.process = rows[i].process.c_str();
    info.idleSeconds = rows[i].idleSeconds;
    info.reclaimSeconds = rows[i].reclaimSeconds;
  }
  return kOk;
}

CORBA::Long PortService::make_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(host_.faults(), "make_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return makeSnapshotFile(host_, *realm_, realm_->portsFile, file,
                          [this](const std::string& path) { return savePorts(path); });
}

CORBA::Long PortService::load_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(host_.faults(), "load_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return loadSnapshotFile(host_, *realm_, file, [this](const std::string& path) { return restorePorts(path); });
}

}  // namespace tarn
