// Servers on hosts of their own (network namespaces, see tests/support/network_lab.h) and a
// client on another: what the client sees when a server's cable is pulled while it works, and
// when the cable comes back. Needs root; skipped with the reason otherwise.
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/connection/recording_listener.h"
#include "tests/support/contenders.h"  // eventually()
#include "tests/support/network_lab.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Short bounds, so a call into a pulled cable ends soon; set before the ORB starts.
constexpr auto kCallBound = 1500ms;
// The library's own bound of list reads (GetDataPointN), whatever the settings say.
constexpr auto kListBound = 20s;
// What a call may take beyond its bound: the library's own steps and a loaded machine.
constexpr auto kSlack = 1500ms;
// One monitor scan comes at most 6.5 s after the last, and a ping into a pulled cable waits 1 s.
constexpr auto kOneScan = 9s;

void shortBounds() {
  setEnvironment("TARN_CALL_TIMEOUT_MS", std::to_string(kCallBound.count()).c_str());
  setEnvironment("TARN_CONNECT_TIMEOUT_MS", "500");
}


BrennicData analog(double value) {
  BrennicData data("AnalogPoint", 0);
  data.PutValue("value", value);
  return data;
}

// The names of the points `tarnd` holds, asked of it directly (no naming client).
std::vector<std::string> pointsOn(const TarndProcess& tarnd) {
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  CORBA::Object_var object = manager->get_service("dtp", "");
  kxTarn::DT_Point_Factory_var points = kxTarn::DT_Point_Factory::_unchecked_narrow(object);
  kxTarn::STRING_LIST_var names;
  if (points->get_all_point_names(names.out()) != 0) return {"<failed>"};
  return std::vector<std::string>(names->get_buffer(), names->get_buffer() + names->length());
}

// Host 0 and 1 hold a redundant pair, the client is host 2. The first server also listens on its
// loopback, named first: the references it hands out must still lead the client to it, and not to
// the decoy on the client's own loopback at the same port.
TEST(NetnsFailover, PulledCableOfTheActiveServerSwitchesToTheOtherAndItsReturnIsHeard) {
  if (const std::string why = NetworkLab::unavailable(); !why.empty()) GTEST_SKIP() << why;
  NetworkLab lab(3);
  if (!lab.runHere(2)) return;
  shortBounds();
  const int port = freePort();
  TarndProcess decoy("decoy", port), first("pair", port, {"--listen", "127.0.0.1", "--allow", NetworkLab::network()}),
      second("pair", port, {"--allow", NetworkLab::network()});
  first.host = lab.address(0);
  first.launcher = lab.inside(0);
  second.host = lab.address(1);
  second.launcher = lab.inside(1);
  ASSERT_TRUE(decoy.start());
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start());
  ScopedSettings settings({{"pair", "own", {first.address(), second.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("pair"));
  ASSERT_STREQ(first.address().c_str(), Ostrel::activeServer("pair"));
  BrennicData one = analog(1), two = analog(2);
  ASSERT_EQ(0, Ostrel::CreateDataPoint("before", one, "pair", nullptr));
  EXPECT_EQ(std::vector<std::string>{"before"}, pointsOn(first));
  EXPECT_TRUE(pointsOn(decoy).empty()) << "a reference led to the client's own loopback";
  RecordingListener listener;
  ScopedListener installed(listener);

  // A read in flight when the cable goes: it ends with its code within its bound.
  planFault("pair", "get_point", 2, 1, "", 0, 3000);
  auto read = std::async(std::launch::async, [] {
    const auto start = Clock::now();
    BrennicData value("AnalogPoint", 0);
    const int rc = Ostrel::GetDataPoint("before", value, "pair", nullptr);
    return std::make_pair(rc, Clock::now() - start);
  });
  std::this_thread::sleep_for(300ms);
  const auto pulled = Clock::now();
  ASSERT_TRUE(lab.unplug(0));
  const auto [rc, took] = read.get();
  EXPECT_NE(0, rc) << "the reply went into the pulled cable";
  EXPECT_LT(took, kCallBound + kSlack) << "the read outlived its bound by far";
  printMeasured("GetDataPoint in flight, code " + std::to_string(rc) + ", ended after", took);

  ASSERT_TRUE(listener.waitFor("pair", true, kOneScan)) << "the switch to the second server went unheard";
  printMeasured("listener heard the switch after the cable was pulled", Clock::now() - pulled);
  EXPECT_STREQ(second.address().c_str(), Ostrel::activeServer("pair"));
  for (const StatusEvent& event : listener.events()) EXPECT_TRUE(event.connected) << "a failover is no outage";
  EXPECT_EQ(0, Ostrel::CreateDataPoint("after", two, "pair", nullptr)) << "writes go to the second server";
  EXPECT_EQ(std::vector<std::string>{"after"}, pointsOn(second));

  // The cable comes back, and the second server's goes: the first is found again.
  ASSERT_TRUE(lab.plug(0));
  std::this_thread::sleep_for(1s);  // at least one ping of the first server over the cable
  listener.clear();
  const auto secondPulled = Clock::now();
  ASSERT_TRUE(lab.unplug(1));
  ASSERT_TRUE(listener.waitFor("pair", true, kOneScan)) << "the first server's return went unheard";
  printMeasured("listener heard the switch back after the second cable was pulled", Clock::now() - secondPulled);
  EXPECT_STREQ(first.address().c_str(), Ostrel::activeServer("pair"));
  BrennicData value("AnalogPoint", 0);
  EXPECT_EQ(0, Ostrel::GetDataPoint("before", value, "pair", nullptr));
  EXPECT_EQ(1.0, value.GetDoubleValue("value")) << "what the first server acknowledged is still there";
  EXPECT_TRUE(pointsOn(decoy).empty());
  Ostrel::DisConnectTarn("pair");
}

// One server on host 0, the client on host 1: three long calls, each cut by a pulled cable.
class NetnsCutCalls : public ::testing::Test {
 protected:
  static constexpr int kPoints = 10000;

  // Starts the server and the client's settings; false when the parent ran the test.
  bool setUp(NetworkLab& lab) {
    if (!lab.runHere(1)) return false;
    shortBounds();
    server_ = std::make_unique<TarndProcess>("plant", freePort(), std::vector<std::string>{"--allow", NetworkLab::network()});
    server_->host = lab.address(0);
    server_->launcher = lab.inside(0);
    EXPECT_TRUE(server_->start());
    settings_ = std::make_unique<ScopedSettings>(std::vector<ServerEntry>{{"plant", "own", {server_->address()}}});
    EXPECT_EQ(0, Ostrel::ConnectTarn("plant"));
    return !HasFailure();
  }
  void TearDown() override { Ostrel::DisConnectTarn("plant"); }

  // Runs `call` on a thread, pulls the cable `after` it began, and returns its result and time.
  template <typename Call>
  std::pair<int, Clock::duration> cut(NetworkLab& lab, std::chrono::milliseconds after, Call call) {
    auto running = std::async(std::launch::async, [&] {
      const auto start = Clock::now();
      const int rc = call();
      return std::make_pair(rc, Clock::now() - start);
    });
    std::this_thread::sleep_for(after);
    EXPECT_TRUE(lab.unplug(0));
    auto result = running.get();
    EXPECT_TRUE(lab.plug(0));
    // The failed call may have made the server count as lost: it is connected again first.
    EXPECT_TRUE(eventually([] { return Ostrel::ConnectTarn("plant") == 0; }, kOneScan));
    return result;
  }

  std::unique_ptr<TarndProcess> server_;
  std::unique_ptr<ScopedSettings> settings_;
};

TEST_F(NetnsCutCalls, EachEndsWithItsCodeWithinItsBoundAndNothingAcknowledgedIsLost) {
  if (const std::string why = NetworkLab::unavailable(); !why.empty()) GTEST_SKIP() << why;
  NetworkLab lab(2);
  if (!setUp(lab)) return;
  RecordingListener listener;
  ScopedListener installed(listener);

  // 10,000 points, acknowledged; a read of all of them is cut while the server answers.
  std::vector<BrennicData> batch;
  std::vector<std::string> names;
  for (int i = 0; i < kPoints; ++i) {
    names.push_back("p" + std::to_string(i));
    batch.push_back(analog(i));
    batch.back().SetFullName(names.back().c_str());
  }
  ASSERT_EQ(0, Ostrel::CreateDataPoints(batch, "plant", nullptr));
  planFault("plant", "get_points", 2, 1, "", 0, 1000);
  const auto [readRc, readTook] = cut(lab, 300ms, [&] {
    BrennicDataList list;
    const int rc = Ostrel::GetDataPointN(names, list, "plant", nullptr);
    Ostrel::DestoryBrennicDataList(&list);
    return rc;
  });
  EXPECT_NE(0, readRc);
  EXPECT_LT(readTook, kListBound + kSlack);
  printMeasured("GetDataPointN of 10,000 points cut, code " + std::to_string(readRc) + ", ended after", readTook);

  // A receive waiting on an empty box is cut; it waits 4 s, and ends within that and its margin.
  ASSERT_EQ(0, Ostrel::CreateEventBox("inbox", 41, 100, "plant", nullptr));
  const auto [receiveRc, receiveTook] = cut(lab, 500ms, [] {
    BrennicDataList list;
    const int rc = Ostrel::ReceiveEventN("inbox", list, "AnalogPoint", 10, 4000, "plant", nullptr);
    Ostrel::DestoryBrennicDataList(&list);
    return rc;
  });
  EXPECT_NE(0, receiveRc);
  EXPECT_LT(receiveTook, 4000ms + kCallBound + kSlack);
  printMeasured("ReceiveEventN (4 s) cut, code " + std::to_string(receiveRc) + ", ended after", receiveTook);

  // A snapshot download cut between two blocks: the read in flight ends with its code.
  BrennicRemoteFile* remote = OstrelExt::openDTPSnapShot("plant", nullptr);
  ASSERT_NE(nullptr, remote);
  std::vector<char> block(4096);
  bool end = false;
  ASSERT_GT(remote->read(block.data(), block.size(), &end), 0);
  planFault("plant", "file_read", 2, 1, "", 0, 1000);
  const auto [fileRc, fileTook] = cut(lab, 300ms, [&] { return remote->read(block.data(), block.size(), &end); });
  EXPECT_LT(fileRc, 0) << "a read into a pulled cable returns a code, not bytes";
  EXPECT_LT(fileTook, kCallBound + kSlack);
  printMeasured("snapshot block read cut, code " + std::to_string(fileRc) + ", ended after", fileTook);
  OstrelExt::closeRemoteFile(&remote);

  // A cable pulled for longer is heard as an outage, and its return as the server's return.
  listener.clear();
  ASSERT_TRUE(lab.unplug(0));
  const auto pulled = Clock::now();
  EXPECT_TRUE(listener.waitFor("plant", false, kOneScan)) << "the outage went unheard";
  printMeasured("listener heard the outage after the cable was pulled", Clock::now() - pulled);
  ASSERT_TRUE(lab.plug(0));
  const auto plugged = Clock::now();
  ASSERT_TRUE(listener.waitFor("plant", true, kOneScan)) << "the server's return went unheard";
  printMeasured("listener heard the return after the cable was plugged", Clock::now() - plugged);

  // Everything the server acknowledged is there.
  std::vector<BrennicData> events(3, analog(7));
  ASSERT_EQ(0, Ostrel::SendEventN(41, events, "plant", nullptr));
  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::GetDataPointN(names, list, "plant", nullptr));
  ASSERT_EQ(kPoints, list.count);
  for (int i = 0; i < kPoints; ++i) ASSERT_EQ(i, list.items[i]->GetDoubleValue("value")) << names[i];
  Ostrel::DestoryBrennicDataList(&list);
  ASSERT_EQ(0, Ostrel::ReceiveEventN("inbox", list, "AnalogPoint", 10, 1000, "plant", nullptr));
  EXPECT_EQ(3, list.count) << "the events sent after the outage";
  Ostrel::DestoryBrennicDataList(&list);
  remote = OstrelExt::openDTPSnapShot("plant", nullptr);
  ASSERT_NE(nullptr, remote);
  unsigned length = 0, total = 0;
  ASSERT_EQ(0, remote->getLength(&length));
  for (end = false; !end;) {
    const int n = remote->read(block.data(), block.size(), &end);
    ASSERT_GT(n, 0);
    total += static_cast<unsigned>(n);
  }
  EXPECT_EQ(length, total) << "a whole download after the outage";
  EXPECT_GT(length, static_cast<unsigned>(kPoints) * 32) << "every point is in it";
  OstrelExt::closeRemoteFile(&remote);
}

}  // namespace
