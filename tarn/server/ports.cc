#include "tarn/server/ports.h"

#include "tarn/client/codes.h"
#include "tarn/server/host.h"

namespace tarn {

// Each operation still runs the fault plan, so tests can make it raise like any other.
#define TARN_NOT_OFFERED(op)                  \
  do {                                        \
    TARN_FAULT_POINT(host_.faults(), op);     \
    return kNotSupported;                     \
  } while (0)

CORBA::Long PortService::set_persistent(const char*, CORBA::Boolean) { TARN_NOT_OFFERED("set_persistent"); }
CORBA::Long PortService::delete_box(const char*) { TARN_NOT_OFFERED("delete_box"); }
CORBA::Long PortService::send_events(CORBA::Long, const kxTarn::DATA_BUFFER_SEQ&, CORBA::Long) {
  TARN_NOT_OFFERED("send_events");
}
CORBA::Long PortService::receive_events(CORBA::ULong, kxTarn::DATA_BUFFER_SEQ_out values, CORBA::Long,
                                        CORBA::Long) {
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_NOT_OFFERED("receive_events");
}
kxTarn::FileHandle_ptr PortService::open_snapshot_file() {
  host_.faults().enter("open_snapshot_file");
  return kxTarn::FileHandle::_nil();
}
CORBA::Long PortService::create_port(const char*, CORBA::Long, CORBA::Long) { TARN_NOT_OFFERED("create_port"); }
CORBA::Long PortService::connect_port(const char*, CORBA::Long, CORBA::Long, CORBA::ULong&, CORBA::ULong_out extra) {
  extra = 0;
  TARN_NOT_OFFERED("connect_port");
}
CORBA::Long PortService::disconnect_port(CORBA::ULong) { TARN_NOT_OFFERED("disconnect_port"); }
CORBA::Long PortService::add_event(const char*, CORBA::Long) { TARN_NOT_OFFERED("add_event"); }
CORBA::Long PortService::clear_event(const char*) { TARN_NOT_OFFERED("clear_event"); }
CORBA::Long PortService::event_count(const char*, CORBA::ULong_out count) {
  count = 0;
  TARN_NOT_OFFERED("event_count");
}
CORBA::Long PortService::send_event(const char*, const kxTarn::DATA_BUFFER&) { TARN_NOT_OFFERED("send_event"); }
CORBA::Long PortService::declare_event(CORBA::Long, const kxTarn::DATA_BUFFER&) { TARN_NOT_OFFERED("declare_event"); }
CORBA::Long PortService::send_packet(CORBA::ULong, const kxTarn::DATA_BUFFER&, CORBA::Long, CORBA::Boolean) {
  TARN_NOT_OFFERED("send_packet");
}
CORBA::Long PortService::receive_packet(CORBA::ULong, CORBA::ULong_out sender, kxTarn::DATA_BUFFER_out value,
                                        CORBA::Long) {
  sender = 0;
  value = new kxTarn::DATA_BUFFER;
  TARN_NOT_OFFERED("receive_packet");
}
CORBA::Long PortService::reply_packet(CORBA::ULong, const kxTarn::DATA_BUFFER&, CORBA::Long) {
  TARN_NOT_OFFERED("reply_packet");
}
CORBA::Long PortService::receive_reply(CORBA::ULong, kxTarn::DATA_BUFFER_out value, CORBA::Long) {
  value = new kxTarn::DATA_BUFFER;
  TARN_NOT_OFFERED("receive_reply");
}
CORBA::Long PortService::channel_names(kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_NOT_OFFERED("channel_names");
}
CORBA::Long PortService::connections(kxTarn::ConnectionInfoSeq_out infos) {
  infos = new kxTarn::ConnectionInfoSeq;
  TARN_NOT_OFFERED("connections");
}
CORBA::Long PortService::make_snapshot_file(const char*, const char*) { TARN_NOT_OFFERED("make_snapshot_file"); }
CORBA::Long PortService::load_snapshot_file(const char*, const char*) { TARN_NOT_OFFERED("load_snapshot_file"); }

}  // namespace tarn
