// The port service of one realm: packet ports, event boxes and the persistence flag.
// This server does not offer packets and events yet: those operations answer kNotSupported.
#pragma once

#include <memory>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/realm.h"

namespace tarn {

class ServerHost;

class PortService : public POA_kxTarn::Port_Factory {
 public:
  PortService(ServerHost& host, std::shared_ptr<RealmState> realm) : host_(host), realm_(realm) {}

  CORBA::Long set_persistent(const char* name, CORBA::Boolean persistent) override;
  CORBA::Long delete_box(const char* boxName) override;
  CORBA::Long send_events(CORBA::Long eventCode, const kxTarn::DATA_BUFFER_SEQ& values, CORBA::Long flag) override;
  CORBA::Long receive_events(CORBA::ULong handle, kxTarn::DATA_BUFFER_SEQ_out values, CORBA::Long maxCount,
                             CORBA::Long timeout) override;
  kxTarn::FileHandle_ptr open_snapshot_file() override;
  CORBA::Long create_port(const char* name, CORBA::Long kind, CORBA::Long size) override;
  CORBA::Long connect_port(const char* name, CORBA::Long direction, CORBA::Long mode, CORBA::ULong& handle,
                           CORBA::ULong_out extra) override;
  CORBA::Long disconnect_port(CORBA::ULong handle) override;
  CORBA::Long add_event(const char* boxName, CORBA::Long eventCode) override;
  CORBA::Long clear_event(const char* boxName) override;
  CORBA::Long event_count(const char* boxName, CORBA::ULong_out count) override;
  CORBA::Long send_event(const char* boxName, const kxTarn::DATA_BUFFER& value) override;
  CORBA::Long declare_event(CORBA::Long eventCode, const kxTarn::DATA_BUFFER& value) override;
  CORBA::Long send_packet(CORBA::ULong handle, const kxTarn::DATA_BUFFER& value, CORBA::Long option,
                          CORBA::Boolean front) override;
  CORBA::Long receive_packet(CORBA::ULong handle, CORBA::ULong_out sender, kxTarn::DATA_BUFFER_out value,
                             CORBA::Long timeout) override;
  CORBA::Long reply_packet(CORBA::ULong replyHandle, const kxTarn::DATA_BUFFER& value, CORBA::Long option) override;
  CORBA::Long receive_reply(CORBA::ULong handle, kxTarn::DATA_BUFFER_out value, CORBA::Long timeout) override;
  CORBA::Long channel_names(kxTarn::STRING_LIST_out names) override;
  CORBA::Long connections(kxTarn::ConnectionInfoSeq_out infos) override;
  CORBA::Long make_snapshot_file(const char* file, const char* option) override;
  CORBA::Long load_snapshot_file(const char* file, const char* option) override;

 private:
  ServerHost& host_;
  std::shared_ptr<RealmState> realm_;
};

}  // namespace tarn
