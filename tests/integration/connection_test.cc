// The connector, listeners and settings against real tarnd processes on loopback.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "tarn/client/settings.h"
#include "tests/connection/library_end.h"
#include "tests/connection/recording_listener.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace std::chrono_literals;
using testing_support::freePort;
using testing_support::RecordingListener;
using testing_support::ScopedListener;
using testing_support::ScopedSettings;
using testing_support::StatusEvent;
using testing_support::TarndProcess;

// One monitor scan comes at most 6.5 s after the last; the naming client needs up to about a
// second more to notice a server that stopped or started answering.
constexpr auto kOneScan = 9s;

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { Ostrel::DisConnectTarn("clean-slate"); }
  void TearDown() override { Ostrel::DisConnectTarn("clean-slate"); }
};

TEST_F(ConnectionTest, KilledServerIsReportedDownAndItsReturnUpWithinOneScan) {
  TarndProcess plant("plant", freePort());
  ASSERT_TRUE(plant.start());
  ScopedSettings settings({{"plant", "own", {plant.address()}}});
  RecordingListener listener;
  ScopedListener installed(listener);

  ASSERT_EQ(Ostrel::ConnectTarn("plant"), 0);
  EXPECT_EQ(listener.events(), (std::vector<StatusEvent>{{"plant", true}}));
  EXPECT_STREQ(Ostrel::activeServer("plant"), plant.address().c_str());
  EXPECT_EQ(Ostrel::ConnectTarn(nullptr), 0);
  EXPECT_EQ(listener.events().size(), 1u) << "an unchanged second connect tells nobody";
  listener.clear();

  plant.kill();
  ASSERT_TRUE(listener.waitFor("plant", false, kOneScan)) << "no onDisconnected after the kill";
  EXPECT_NE(Ostrel::IsConnect("plant"), 0);
  EXPECT_NE(ostrel::guardConnection("plant"), 0);
  EXPECT_NE(Ostrel::ConnectTarn("plant"), 0) << "a second attempt while down, as the next scan makes";

  // Started again at once: the return, recorded before the next scan, must still be heard.
  ASSERT_TRUE(plant.start());
  ASSERT_TRUE(listener.waitFor("plant", true, kOneScan)) << "no onConnected after the restart";
  EXPECT_EQ(Ostrel::IsConnect("plant"), 0);
  EXPECT_EQ(Ostrel::ConnectTarn("plant"), 0);
  EXPECT_EQ(listener.events(), (std::vector<StatusEvent>{{"plant", false}, {"plant", true}}))
      << "an outage over several attempts is one down and one up";
}

// The library's listener and the tool's status watch, in a process of its own, see one failover.
TEST_F(ConnectionTest, RedundantPairFailsOverToTheSecondAddressAndListenersHear) {
  TarndProcess first("pair", freePort()), second("pair", freePort());
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start());
  ScopedSettings settings({{"pair", "own", {first.address(), second.address()}}});
  ASSERT_EQ(Ostrel::ConnectTarn("pair"), 0);
  EXPECT_STREQ(Ostrel::activeServer("pair"), first.address().c_str());
  RecordingListener listener;
  ScopedListener installed(listener);

  std::thread killer = first.killAfter(2s);
  const testing_support::ToolRun run =
      testing_support::runTool("status --watch", "", "TARN_SETTINGS=" + settings.path() + " timeout -s INT 16");
  killer.join();
  ASSERT_TRUE(listener.waitFor("pair", true, kOneScan)) << "the change of active server went unheard";
  EXPECT_STREQ(Ostrel::activeServer("pair"), second.address().c_str());
  EXPECT_EQ(Ostrel::IsConnect("pair"), 0) << "the pair as a whole stays connected";
  for (const StatusEvent& event : listener.events())
    EXPECT_TRUE(event.connected) << "a failover is not a disconnection: " << event;
  EXPECT_TRUE(testing_support::has(run, "switched " + first.address() + " -> " + second.address())) << run.output;
  EXPECT_EQ(run.output.find("switched"), run.output.rfind("switched")) << "one line per change: " << run.output;
  EXPECT_FALSE(testing_support::has(run, "down")) << "a failover is no outage: " << run.output;
  const testing_support::ToolRun addresses =
      testing_support::runTool("addresses", "", "TARN_SETTINGS=" + settings.path());
  EXPECT_TRUE(testing_support::has(addresses, second.address() + "  (active)")) << addresses.output;

  second.kill();
  EXPECT_EQ(Ostrel::ConnectTarn("pair"), 2002) << "neither address answers";
  EXPECT_STREQ(Ostrel::activeServer("pair"), "");
}

TEST_F(ConnectionTest, MasterSwitchReachesTheServerAndFailuresHaveTheirCodes) {
  TarndProcess plant("plant", freePort());
  ASSERT_TRUE(plant.start());
  ScopedSettings settings({{"plant", "own", {plant.address()}}});
  kxTarn::kxTarnServiceManager_var manager = plant.manager();

  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "plant"), 0);
  EXPECT_TRUE(manager->is_master());
  EXPECT_EQ(Ostrel::setMasterMiddleware(false, nullptr), 0) << "null is the own server";
  EXPECT_FALSE(manager->is_master());

  testing_support::planFault("plant", "set_master", 0, 1, "COMM_FAILURE");
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "plant"), OstrelCode::kMasterCallFailed);
  EXPECT_FALSE(manager->is_master());
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "plant"), 0) << "one planned failure only";

  plant.kill();
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "plant"), OstrelCode::kNoReference);
}

TEST_F(ConnectionTest, CallFrameTurnsExceptionsIntoTheOperationsCodeAndAppliesTimeOuts) {
  TarndProcess plant("plant", freePort());
  ASSERT_TRUE(plant.start());
  ScopedSettings settings({{"plant", "own", {plant.address()}}});
  using Points = kxTarn::DT_Point_Factory;
  const auto listNames = [](kxTarn::DT_Point_Factory_ptr points) {
    kxTarn::STRING_LIST_var names;
    return static_cast<int>(points->get_all_point_names(names.out()));
  };

  const auto list = [&](int timeOutMs = 0) {
    return ostrel::callService<Points, OstrelCode::kRemoteCallFailed>("plant", nullptr, listNames, timeOutMs);
  };
  EXPECT_EQ(list(), 0);
  testing_support::planFault("plant", "get_all_point_names", 0, 1, "TRANSIENT");
  EXPECT_EQ(list(), OstrelCode::kRemoteCallFailed);
  EXPECT_EQ(list(), 0) << "the next call builds a working reference";

  // An exception thrown while results are copied out counts as well.
  EXPECT_EQ((ostrel::callService<Points, OstrelCode::kTypeQueryCallFailed>(
                "plant", nullptr, [](Points::_ptr_type) -> int { throw CORBA::BAD_PARAM(); })),
            OstrelCode::kTypeQueryCallFailed);

  // A stalled call ends at the time-out given to the frame; the cached reference keeps none.
  testing_support::planFault("plant", "get_all_point_names", 2, 1, "", 0, 1500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(list(300), OstrelCode::kRemoteCallFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1400ms);
  testing_support::planFault("plant", "get_all_point_names", 2, 1, "", 0, 800);
  EXPECT_EQ(list(), 0);
  testing_support::clearFaults("plant");
}

// The writer is killed a little later each round: the file is the old one or one whole record.
TEST_F(ConnectionTest, SettingsFileStaysWellFormedWhenTheWriterIsKilled) {
  ScopedSettings settings({{"plant", "own", {"127.0.0.1:7001"}}, {"spare", "others", {"127.0.0.1:7003"}}});
  std::string script;
  for (int i = 0; i < 5000; ++i)
    script += "settings own 127.0.0.1:" + std::to_string(10000 + i) + " 127.0.0.1:" + std::to_string(20000 + i) + " --name plant\n";
  bool written = false;
  for (int round = 0; round < 8; ++round) {
    testing_support::runTool("shell", script, "TARN_SETTINGS=" + settings.path() + " timeout -s KILL " +
                                                  std::to_string(0.15 + 0.06 * round));
    std::string error;
    const std::vector<tarn::ServerSetting> servers = tarn::readSettings(&error);
    ASSERT_TRUE(error.empty()) << "round " << round << ": " << error;
    ASSERT_EQ(servers.size(), 2u) << "round " << round;
    EXPECT_EQ(servers[0].name, "plant");
    ASSERT_FALSE(servers[0].addresses.empty());
    const bool original = servers[0].addresses[0] == "127.0.0.1:7001";
    EXPECT_EQ(servers[0].addresses.size(), original ? 1u : 2u) << "round " << round;
    written = written || !original;
  }
  EXPECT_TRUE(written) << "the writer was always killed before its first write";
}

}  // namespace
