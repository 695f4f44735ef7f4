// Messaging through a tarnd process under load and failure.
#include <signal.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using std::chrono::seconds;

class MessagingLoad : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  void start(std::vector<std::string> args) {
    settings.reset();
    tarnd.reset(new TarndProcess("plant", freePort(), std::move(args)));
    ASSERT_TRUE(tarnd->start());
    settings.reset(new ScopedSettings({{"plant", "own", {tarnd->address()}}}));
    ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  }
  void TearDown() override { Ostrel::DisConnectTarn("plant"); }

  std::unique_ptr<TarndProcess> tarnd;
  std::unique_ptr<ScopedSettings> settings;
};

TEST_F(MessagingLoad, HundredThousandEventsArriveOnceAndInOrder) {
  constexpr std::uint64_t kEvents = 100000, kBatch = 1000;
  ASSERT_EQ(0, Ostrel::CreateEventBox("numbered", 9, 5000, "plant", nullptr));
  unsigned int handle = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("numbered", handle, "plant", nullptr));

  auto producer = std::async(std::launch::async, [] {
    std::vector<BrennicData> batch(kBatch);
    for (std::uint64_t sent = 0; sent < kEvents;) {
      for (std::uint64_t i = 0; i < kBatch; ++i) {
        std::uint64_t number = sent + i;
        batch[i].SetRawValue(reinterpret_cast<char*>(&number), sizeof number);
      }
      const int rc = Ostrel::SendEventN(9, batch, "plant", nullptr);
      if (rc == 2019) {  // the box is full: nothing of this batch went in, so send it again
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (rc != 0) return rc;
      sent += kBatch;
    }
    return 0;
  });

  std::uint64_t expected = 0;
  while (expected < kEvents) {
    BrennicDataList list;
    ASSERT_EQ(0, Ostrel::ReceiveEventN(handle, list, nullptr, static_cast<int>(kBatch), 10000, "plant", nullptr))
        << "after " << expected;
    for (int i = 0; i < list.count; ++i) {
      std::uint64_t number = 0;
      ASSERT_EQ(sizeof number, list.items[i]->GetBufferSize());
      std::memcpy(&number, list.items[i]->GetRawValue(), sizeof number);
      ASSERT_EQ(expected++, number);
    }
    Ostrel::DestoryBrennicDataList(&list);
  }
  EXPECT_EQ(0, producer.get());
  unsigned int left = 1;
  ASSERT_EQ(0, Ostrel::EventCount("numbered", left, "plant", nullptr));
  EXPECT_EQ(0u, left) << "nothing duplicated";
}

TEST_F(MessagingLoad, BlockedReceiversLeaveRoomAndEndWhenTheServerDies) {
  constexpr int kReceivers = 32;
  ASSERT_EQ(0, Ostrel::CreateEventBox("quiet", 1, 10, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::CreateDataPoint("probe", "AnalogPoint", "plant", nullptr));
  std::vector<std::future<int>> receivers;
  for (int i = 0; i < kReceivers; ++i) {
    receivers.push_back(std::async(std::launch::async, [i] {
      BrennicData record;
      // Half wait 60 s, half without limit: both must end when the server goes.
      return Ostrel::ReceiveEvent("quiet", record, i % 2 ? 60000 : -1, "plant", nullptr);
    }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto& receiver : receivers) ASSERT_EQ(std::future_status::timeout, receiver.wait_for(seconds(0)));

  auto probe = std::async(std::launch::async, [] {
    BrennicData value("AnalogPoint", 0);
    return Ostrel::GetDataPoint("probe", value, "plant", nullptr);
  });
  const bool through = probe.wait_for(seconds(20)) == std::future_status::ready;
  tarnd->kill();  // before any assertion: a failed one must not leave the receivers waiting
  ASSERT_TRUE(through) << "a 33rd call got through";
  EXPECT_EQ(0, probe.get());

  for (auto& receiver : receivers) {
    ASSERT_EQ(std::future_status::ready, receiver.wait_for(seconds(20))) << "a receive outlived its server";
    EXPECT_NE(0, receiver.get());
  }
}

TEST_F(MessagingLoad, AStalledCallEndsItsWaitAfterTheLimitAndAMargin) {
  ASSERT_EQ(0, Ostrel::CreateEventBox("stalled", 3, 10, "plant", nullptr));
  unsigned int handle = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("stalled", handle, "plant", nullptr));
  // One call of each stalled far past a 100 ms wait and its margin: each wait tries again with its
  // tag once the call timed out, and ends when its limit and the margin have passed.
  planFault("plant", "receive_tagged", 2, 2, "", 0, 30000);
  auto many = std::async(std::launch::async, [&] {
    BrennicDataList list;
    return Ostrel::ReceiveEventN(handle, list, nullptr, 10, 100, "plant", nullptr);
  });
  auto one = std::async(std::launch::async, [&] {
    BrennicData record;
    return Ostrel::ReceiveEvent(static_cast<int>(handle), record, 100, "plant", nullptr);
  });
  const bool ended = many.wait_for(seconds(15)) == std::future_status::ready &&
                     one.wait_for(seconds(15)) == std::future_status::ready;
  if (!ended) tarnd->kill();  // never leave the calls waiting for 30 s
  ASSERT_TRUE(ended);
  EXPECT_EQ(2008, many.get());
  EXPECT_EQ(2008, one.get());
}

// tarnd stopped (SIGSTOP) for 4 s while receives wait with a limit of 20 s or none, and sends
// are made at the start of the stall: the stall delays every answer and fails none, and each
// message arrives once.
TEST_F(MessagingLoad, AStallShorterThanTheWaitDelaysItAndLosesNothing) {
  ASSERT_EQ(0, Ostrel::CreateEventBox("frozen", 5, 10, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::CreatePort("frozen.port", "plant", nullptr));
  unsigned int box1 = 0, box2 = 0, port = 0, sender = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("frozen", box1, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("frozen", box2, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("frozen.port", port, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::ConnectPortForSend("frozen.port", sender, "plant", nullptr));
  auto packet = std::async(std::launch::async, [&] {
    BrennicData record("AnalogPoint", 0);
    return Ostrel::ReceivePacket(port, record, 20000, "plant", nullptr);
  });
  auto event = std::async(std::launch::async, [&] {
    BrennicData record("AnalogPoint", 0);
    return Ostrel::ReceiveEvent(static_cast<int>(box1), record, -1, "plant", nullptr);
  });
  auto events = std::async(std::launch::async, [&] {
    BrennicDataList list;
    const int rc = Ostrel::ReceiveEventN(box2, list, "AnalogPoint", 10, 20000, "plant", nullptr);
    const int count = list.count;
    Ostrel::DestoryBrennicDataList(&list);
    return rc ? rc : -count;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(tarnd->pid(), SIGSTOP);
  auto sends = std::async(std::launch::async, [&] {
    BrennicData value("AnalogPoint", 0);
    value.PutValue("value", 1.0);
    const int first = Ostrel::SendPacket(sender, value, 0, "plant", nullptr);
    const int second = Ostrel::SendEvent("frozen", value, 0, "plant", nullptr);
    return first ? first : second;
  });
  std::this_thread::sleep_for(seconds(4));
  ::kill(tarnd->pid(), SIGCONT);
  EXPECT_EQ(0, sends.get()) << "the sends are acknowledged after the stall";
  ASSERT_EQ(std::future_status::ready, packet.wait_for(seconds(20)));
  EXPECT_EQ(0, packet.get());
  // One event for two receivers: one gets it, the other waits on and is ended by a second one.
  BrennicData value("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::SendEvent("frozen", value, 0, "plant", nullptr));
  ASSERT_EQ(std::future_status::ready, event.wait_for(seconds(20)));
  ASSERT_EQ(std::future_status::ready, events.wait_for(seconds(20)));
  EXPECT_EQ(0, event.get());
  EXPECT_EQ(-1, events.get()) << "the batch got one event";
  unsigned int left = 1;
  ASSERT_EQ(0, Ostrel::EventCount("frozen", left, "plant", nullptr));
  EXPECT_EQ(0u, left);
}

// A receiver that keeps its handle and never receives again (or ends without closing it) keeps
// what it was given: when the server closes the idle connection, nothing goes back.
TEST_F(MessagingLoad, WhatWasDeliveredStaysDeliveredAfterAnIdleClose) {
  setenv("TARN_IDLE_CONNECTION_S", "1", 1);
  start({});
  unsetenv("TARN_IDLE_CONNECTION_S");
  ASSERT_EQ(0, Ostrel::CreateEventBox("kept", 6, 10, "plant", nullptr));
  std::vector<BrennicData> three(3, BrennicData("AnalogPoint", 0));
  ASSERT_EQ(0, Ostrel::SendEventN(6, three, "plant", nullptr));
  unsigned int handle = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("kept", handle, "plant", nullptr));
  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::ReceiveEventN(handle, list, "AnalogPoint", 10, 0, "plant", nullptr));
  EXPECT_EQ(3, list.count);
  Ostrel::DestoryBrennicDataList(&list);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ConnectionSequence connections;
  ASSERT_EQ(0, Ostrel::GetConnectSeq(&connections, "plant", nullptr));  // closes the idle connection
  EXPECT_EQ(0, connections.count);
  Ostrel::DestoryConnectSeq(&connections);
  unsigned int left = 1;
  ASSERT_EQ(0, Ostrel::EventCount("kept", left, "plant", nullptr));
  EXPECT_EQ(0u, left) << "the delivered events did not go back";
}

TEST_F(MessagingLoad, IdleConnectionsAreReclaimed) {
  setenv("TARN_IDLE_CONNECTION_S", "1", 1);
  start({});
  unsetenv("TARN_IDLE_CONNECTION_S");
  ASSERT_EQ(0, Ostrel::CreatePort("lonely", "plant", nullptr));
  BrennicData record;
  EXPECT_EQ(2008, Ostrel::ReceivePacket("lonely", record, 0, "plant", nullptr)) << "leaves its connection open";
  ConnectionSequence connections;
  ASSERT_EQ(0, Ostrel::GetConnectSeq(&connections, "plant", nullptr));
  ASSERT_EQ(1, connections.count);
  EXPECT_EQ(1u, connections.items[0].reclaimSeconds);
  Ostrel::DestoryConnectSeq(&connections);

  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_EQ(0, Ostrel::GetConnectSeq(&connections, "plant", nullptr));
  EXPECT_EQ(0, connections.count) << "the unused connection was closed";
  Ostrel::DestoryConnectSeq(&connections);
}

}  // namespace
