// Channels marked persistent on tarnd --data keep their queues through a SIGKILL and a restart.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tarn/client/codes.h"
#include "tarn/server/port_table.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::freePort;
using testing_support::TarndProcess;

kxTarn::DATA_BUFFER buffer(const std::string& text) {
  kxTarn::DATA_BUFFER value(static_cast<CORBA::ULong>(text.size()));
  value.length(static_cast<CORBA::ULong>(text.size()));
  for (std::size_t i = 0; i < text.size(); ++i) value[static_cast<CORBA::ULong>(i)] = text[i];
  return value;
}

class PersistentChannels : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/persistent_channels.XXXXXX";
    folder_ = ::mkdtemp(pattern);
    tarnd_.reset(new TarndProcess("plant", freePort(), {"--data", folder_, "--journal-sync", "os"}));
    ASSERT_TRUE(tarnd_->start());
  }
  void TearDown() override {
    tarnd_.reset();
    std::filesystem::remove_all(folder_);
  }
  // The first calls after a restart may meet connections of the killed server and fail.
  void killAndRestart() {
    tarnd_->kill();
    ASSERT_TRUE(tarnd_->start());
    for (int attempt = 0; attempt < 5; ++attempt) {
      try {
        CORBA::ULong count = 0;
        ports()->event_count("", count);
        return;
      } catch (const CORBA::SystemException&) {
      }
    }
  }
  // The port service of `realm`, reached straight over loopback.
  kxTarn::Port_Factory_var ports(const char* realm = "") {
    kxTarn::kxTarnServiceManager_var manager = tarnd_->manager();
    CORBA::Object_var service = manager->get_service("port", realm);
    return kxTarn::Port_Factory::_narrow(service);
  }
  // What a receive connection takes from `channel`, in order; {"<rc N>"} when it cannot connect.
  std::vector<std::string> take(kxTarn::Port_Factory_ptr service, const char* channel, int maxCount = 100) {
    CORBA::ULong handle = 0, extra = 0;
    const int rc = service->connect_port(channel, tarn::kReceiveDirection, 0, handle, extra);
    if (rc != tarn::kOk) return {"<rc " + std::to_string(rc) + ">"};
    kxTarn::DATA_BUFFER_SEQ_var values;
    std::vector<std::string> seen;
    if (service->receive_events(handle, values.out(), maxCount, 0) == tarn::kOk)
      for (CORBA::ULong i = 0; i < values->length(); ++i)
        seen.emplace_back(reinterpret_cast<const char*>(values[i].get_buffer()), values[i].length());
    service->disconnect_port(handle);
    return seen;
  }
  std::string folder_;
  std::unique_ptr<TarndProcess> tarnd_;
};

using Names = std::vector<std::string>;

TEST_F(PersistentChannels, QueuesOfMarkedChannelsSurviveAKillInOrder) {
  CORBA::ULong sender = 0, extra = 0;
  {
    kxTarn::Port_Factory_var east = ports("east"), home = ports();
    ASSERT_EQ(east->create_port("alarms", tarn::kBoxKind, 4), tarn::kOk);
    ASSERT_EQ(east->create_port("scratch", tarn::kBoxKind, 4), tarn::kOk);
    for (const char* box : {"alarms", "scratch"}) ASSERT_EQ(east->add_event(box, 7), tarn::kOk);
    ASSERT_EQ(east->add_event("alarms", 8), tarn::kOk);
    ASSERT_EQ(east->set_persistent("alarms", true), tarn::kOk);
    ASSERT_EQ(east->declare_event(7, buffer("e1")), tarn::kOk);
    kxTarn::DATA_BUFFER_SEQ batch(2);
    batch.length(2);
    batch[0] = buffer("e2");
    batch[1] = buffer("e3");
    ASSERT_EQ(east->send_events(8, batch, 0), tarn::kOk);
    EXPECT_EQ(take(east, "alarms", 1), Names{"e1"});

    ASSERT_EQ(home->create_port("orders", tarn::kPortKind, 0), tarn::kOk);
    ASSERT_EQ(home->set_persistent("orders", true), tarn::kOk);
    ASSERT_EQ(home->connect_port("orders", tarn::kSendDirection, 0, sender, extra), tarn::kOk);
    for (const char* packet : {"p1", "p2"}) ASSERT_EQ(home->send_packet(sender, buffer(packet), 0, false), tarn::kOk);
    ASSERT_EQ(home->send_packet(sender, buffer("p0"), 0, true), tarn::kOk);
  }
  killAndRestart();

  kxTarn::Port_Factory_var east = ports("east"), home = ports();
  CORBA::ULong count = 0;
  EXPECT_EQ(east->event_count("scratch", count), tarn::kNoSuchObject) << "an unmarked box is not kept";
  ASSERT_EQ(east->event_count("alarms", count), tarn::kOk);
  EXPECT_EQ(count, 2u) << "the taken event stays taken";
  EXPECT_EQ(east->declare_event(8, buffer("e4")), tarn::kOk);
  EXPECT_EQ(east->declare_event(7, buffer("e5")), tarn::kOk);
  EXPECT_EQ(east->send_event("alarms", buffer("e6")), tarn::kBoxFull) << "the box size came back";
  EXPECT_EQ(take(east, "alarms"), (Names{"e2", "e3", "e4", "e5"}));
  EXPECT_EQ(take(home, "orders"), (Names{"p0", "p1", "p2"}));

  // Turning the mark off forgets the channel and its queue.
  ASSERT_EQ(home->send_packet(sender, buffer("lost"), 0, false), tarn::kBadHandle) << "connections are not kept";
  ASSERT_EQ(home->connect_port("orders", tarn::kSendDirection, 0, sender, extra), tarn::kOk);
  ASSERT_EQ(home->send_packet(sender, buffer("p3"), 0, false), tarn::kOk);
  ASSERT_EQ(home->set_persistent("orders", false), tarn::kOk);
  killAndRestart();
  EXPECT_EQ(take(ports(), "orders"), Names{"<rc 2003>"});
}

// A handle names its server's run: one kept across a quick restart finds no connection of the
// new run, even when the new run has opened as many connections as the old one had.
TEST_F(PersistentChannels, AHandleFromAnEarlierRunAnswersBadHandle) {
  CORBA::ULong old = 0, fresh = 0, extra = 0;
  ASSERT_EQ(ports()->create_port("orders", tarn::kPortKind, 0), tarn::kOk);
  ASSERT_EQ(ports()->connect_port("orders", tarn::kSendDirection, 0, old, extra), tarn::kOk);
  killAndRestart();
  kxTarn::Port_Factory_var home = ports();
  ASSERT_EQ(home->create_port("orders", tarn::kPortKind, 0), tarn::kOk);
  ASSERT_EQ(home->connect_port("orders", tarn::kSendDirection, 0, fresh, extra), tarn::kOk);
  EXPECT_NE(old, fresh);
  EXPECT_EQ(home->send_packet(old, buffer("stale"), 0, false), tarn::kBadHandle);
  EXPECT_EQ(home->send_packet(fresh, buffer("new"), 0, false), tarn::kOk);
  EXPECT_EQ(take(home, "orders"), Names{"new"});
}

}  // namespace
