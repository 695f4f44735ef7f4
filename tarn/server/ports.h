// The port service of one realm: packet ports, event boxes and the persistence flag, over the
// realm's PortTable (port_table.h says what the queues, handles and waits do). Every operation
// starts with the server's fault plan under its own name; the "_sized" and "_from" forms share
// the plan of the operation they extend. Snapshot files of ports hold the realm's channels and
// their queues (PortTable::image), written safely (snapshot_file.h). On a server with a journal
// the queues of persistent channels are kept across a restart (port_table.h says how).
// Servants run on the ORB's threads; receives and reply waits block only their own thread.
#pragma once

#include <memory>
#include <string>

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
  kxTarn::FileHandle_ptr open_snapshot_file_from(const char* process) override;
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
  CORBA::Long peek_channel(const char* name, CORBA::Long kind, CORBA::ULong from, CORBA::Long maxCount,
                           CORBA::ULong_out held, kxTarn::DATA_BUFFER_SEQ_out values) override;
  CORBA::Long connections(kxTarn::ConnectionInfoSeq_out infos) override;
  CORBA::Long make_snapshot_file(const char* file, const char* option) override;
  CORBA::Long load_snapshot_file(const char* file, const char* option) override;
  CORBA::Long connect_port_from(const char* name, CORBA::Long direction, CORBA::Long mode, const char* process,
                                CORBA::ULong& handle, CORBA::ULong_out extra) override;
  CORBA::Long receive_tagged(CORBA::ULong handle, CORBA::ULongLong tag, const kxTarn::TAG_LIST& acks,
                             const kxTarn::TAG_LIST& released, CORBA::Boolean replies, CORBA::Boolean batch,
                             CORBA::ULong least,
                             CORBA::ULong most, CORBA::Long maxCount, CORBA::Long timeout, CORBA::ULong_out sender,
                             kxTarn::DATA_BUFFER_SEQ_out values) override;
  void settle(CORBA::ULong handle, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) override;
  CORBA::Long settle_now(CORBA::ULong handle, const kxTarn::TAG_LIST& acks, const kxTarn::TAG_LIST& released) override;
  CORBA::Long disconnect_settled(CORBA::ULong handle, const kxTarn::TAG_LIST& acks,
                                 const kxTarn::TAG_LIST& released) override;

 private:
  PortTable& ports() { return realm_->ports; }
  // One receive of up to maxCount values (see PortTable::receive).
  int receive(CORBA::ULong handle, const Receipt& receipt, const Fit& fit, CORBA::Long maxCount, CORBA::Long timeout,
              Batch& taken);
  // Write and load a snapshot file of the realm's channels. REQUIRES: realm snapshotMutex held.
  int savePorts(const std::string& path);
  int restorePorts(const std::string& path);

  ServerHost& host_;
  std::shared_ptr<RealmState> realm_;
};

}  // namespace tarn
