// The connector without a live server: states recorded from the naming client's news and from
// connection attempts that fail, the guard and its name resolution, disconnection, listeners.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/connector.h"
#include "tests/connection/recording_listener.h"
#include "tests/connection/library_end.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::deadAddress;
using testing_support::RecordingListener;
using testing_support::ScopedListener;
using testing_support::ScopedSettings;
using testing_support::SlotGuard;
using testing_support::StatusEvent;

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override { Ostrel::DisConnectTarn("clean-slate"); }
  void TearDown() override { Ostrel::DisConnectTarn("clean-slate"); }
  TarnConnector& connector() { return *TarnConnector::instance(); }
};

TEST_F(ConnectorTest, GuardFollowsRecordedStateAndResolvesTheOwnServer) {
  ScopedSettings settings({{"plant", "own", {deadAddress()}}, {"spare", "others", {deadAddress()}}});
  EXPECT_EQ(Ostrel::IsConnect("never"), OstrelCode::kNoState) << "never connected";
  EXPECT_EQ(ostrel::guardConnection("never"), OstrelCode::kNotConnected);

  connector().onServerConnection("plant", true);
  EXPECT_EQ(Ostrel::IsConnect(nullptr), 0) << "null is the own server";
  EXPECT_EQ(Ostrel::IsConnect(""), 0) << "empty is the own server when there is one";
  EXPECT_EQ(ostrel::guardConnection(nullptr), OstrelCode::kOk);
  EXPECT_EQ(ostrel::guardConnection("spare"), OstrelCode::kNotConnected);
  connector().onServerConnection("plant", false);
  EXPECT_EQ(ostrel::guardConnection("plant"), OstrelCode::kNotConnected) << "lost";

  ScopedSettings noOwn({{"spare", "others", {deadAddress()}}});
  EXPECT_EQ(Ostrel::IsConnect(nullptr), OstrelCode::kNoServerName);
  EXPECT_EQ(ostrel::guardConnection(nullptr), OstrelCode::kNotConnected) << "3000 guards as 2015";
  EXPECT_EQ(Ostrel::IsConnect(""), OstrelCode::kNoState);
  connector().onServerConnection("", true);
  EXPECT_EQ(Ostrel::IsConnect(""), 0) << "the empty name is a key of its own";
  EXPECT_EQ(Ostrel::ConnectTarn(nullptr), OstrelCode::kNoServerName);
  EXPECT_EQ(Ostrel::ConnectTarn(""), OstrelCode::kNoServerName) << "empty never means the own server here";
  Ostrel::DisConnectTarn(nullptr);
  EXPECT_EQ(Ostrel::IsConnect(""), 0) << "a disconnect that names no server drops nothing";
}

// Asks for the state it is told about, from inside the notification.
struct StateAsker : RecordingListener {
  using RecordingListener::RecordingListener;
  void onDisconnected(const char* server) override {
    seen = Ostrel::IsConnect(server);
    RecordingListener::onDisconnected(server);
  }
  int seen = 0;
};

TEST_F(ConnectorTest, ConnectResultsAreRecordedAndAnnouncedOnlyOnChange) {
  ScopedSettings settings({{"plant", "own", {deadAddress()}}});
  std::vector<std::string> log;
  RecordingListener first(&log, "a");
  StateAsker second(&log, "b");
  ScopedListener installFirst(first), installSecond(second);

  connector().onServerConnection("plant", true);  // the naming client saw it answer once
  const int rc = Ostrel::ConnectTarn(nullptr);
  ASSERT_NE(rc, 0) << "nothing answers at the plant's address";
  ASSERT_NE(rc, OstrelCode::kNoServerName) << "the own server's name was used";
  EXPECT_EQ(Ostrel::IsConnect("plant"), rc) << "the middleware's code is recorded as it is";
  EXPECT_EQ(log, (std::vector<std::string>{"a-plant", "b-plant"})) << "each listener once, in order";
  EXPECT_EQ(second.seen, rc) << "the state is recorded before anyone is told";

  EXPECT_EQ(Ostrel::ConnectTarn("plant"), rc);
  EXPECT_EQ(log.size(), 2u) << "same result, same active address: nobody is told";
}

// Holds the monitor's scan after it asked the middleware and before it records the answer. The
// hook goes into its slot before the monitor thread starts (slots are replaced only while no
// other thread calls them) and leaves after the test stopped that thread.
class ConnectorScanTest : public ConnectorTest {
 protected:
  void SetUp() override {
    hook_.reset(new SlotGuard<const char*(const char*)>(OstrelFunc::activeServer, [this](const char* server) {
      if (std::this_thread::get_id() != testThread_) {
        std::unique_lock<std::mutex> hold(mutex_);
        held_ = true;
        wake_.notify_all();
        wake_.wait(hold, [&] { return released_; });
      }
      return original_(server);
    }));
    ConnectorTest::SetUp();
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool held_ = false, released_ = false;
  const std::thread::id testThread_ = std::this_thread::get_id();
  const boost::function<const char*(const char*)> original_ = OstrelFunc::activeServer;
  std::unique_ptr<SlotGuard<const char*(const char*)>> hook_;
};

TEST_F(ConnectorScanTest, ScanBegunBeforeADisconnectDoesNotConnectAgain) {
  ASSERT_EQ(Ostrel::ConnectTarn("local"), 0) << "the embedded server answers";
  {
    std::unique_lock<std::mutex> hold(mutex_);
    ASSERT_TRUE(wake_.wait_for(hold, std::chrono::seconds(15), [&] { return held_; })) << "no scan came";
  }
  Ostrel::DisConnectTarn("local");
  {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
  }
  wake_.notify_all();
  connector().stop();  // the scan has ended once the monitor thread has
  EXPECT_EQ(Ostrel::IsConnect("local"), OstrelCode::kNoState) << "the scan undid the disconnect";
}

// A listener that removes itself from inside the pass that calls it.
class SelfRemovingListener : public RecordingListener {
 public:
  void onDisconnected(const char* server) override {
    RecordingListener::onDisconnected(server);
    Ostrel::RemoveListener(*this);
  }
};

TEST_F(ConnectorTest, ListenerListKeepsDuplicatesAndRemovesOneEntryAtATime) {
  RecordingListener twice, never;
  Ostrel::InstallListener(twice);
  Ostrel::InstallListener(twice);
  Ostrel::RemoveListener(twice);
  Ostrel::RemoveListener(never);  // not installed: changes nothing
  Ostrel::DisConnectTarn("x");
  EXPECT_EQ(twice.events().size(), 1u) << "one entry left after one removal";
  EXPECT_TRUE(never.events().empty());
  Ostrel::RemoveListener(twice);
  Ostrel::DisConnectTarn("x");
  EXPECT_EQ(twice.events().size(), 1u) << "removed for good";

  // Removing oneself mid-pass neither blocks (the lock is recursive) nor skips the next listener.
  SelfRemovingListener leaving;
  RecordingListener staying;
  Ostrel::InstallListener(leaving);
  Ostrel::InstallListener(staying);
  Ostrel::DisConnectTarn("y");
  Ostrel::DisConnectTarn("z");
  EXPECT_EQ(leaving.events(), (std::vector<StatusEvent>{{"y", false}}));
  EXPECT_EQ(staying.events(), (std::vector<StatusEvent>{{"y", false}, {"z", false}}));
  Ostrel::RemoveListener(staying);
}

}  // namespace
