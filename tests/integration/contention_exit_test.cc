// ExitOstrel stops every heartbeat task, each one's leave reaches the service, and every wait in
// flight ends with a code. In an executable of its own: ExitOstrel ends ACE and the naming client for the whole process, so
// the service is read afterwards by the ostrel tool, a process of its own.
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "ostrel/redundancy/dispatcher_contender.h"
#include "tests/support/contenders.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(ContentionExit, ExitStopsEveryTaskAndWaitAtOnceAndEachLeaves) {
  TarndProcess tarnd("plant", freePort());
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(Ostrel::ContendHeartBit(("task" + std::to_string(i)).c_str(), "m", 1, "plant", nullptr));
  std::this_thread::sleep_for(1s);  // every task past its first pass and into its polls
  ASSERT_EQ(5, contenderCount("plant"));

  // Three threads wait without limit: in the flat client API, in a remote batch receive, for a reply.
  ASSERT_EQ(0, Ostrel::CreateEventBox("idle.box", 9, 10, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::CreatePort("idle.port", "plant", nullptr));
  unsigned int receiving = 0, sending = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv("idle.box", receiving, "plant", nullptr));
  ASSERT_EQ(0, Ostrel::ConnectPortForSend("idle.port", sending, "plant", nullptr));
  auto waitFor = [](std::function<int()> call) { return std::async(std::launch::async, call); };
  std::future<int> waits[] = {
      waitFor([] {
        BrennicData event("AnalogPoint", 0);
        return Ostrel::ReceiveEvent("idle.box", event, -1, "plant", nullptr);
      }),
      waitFor([receiving] {
        BrennicDataList list;
        return Ostrel::ReceiveEventN(receiving, list, nullptr, 10, -1, "plant", nullptr);
      }),
      waitFor([sending] {
        BrennicData reply;
        return Ostrel::WaitUndefinedReply(sending, reply, -1, "plant", nullptr);
      }),
  };
  std::this_thread::sleep_for(1500ms);  // every wait past its first slice
  const BrennicData late("AnalogPoint", 0);

  const auto start = std::chrono::steady_clock::now();
  Ostrel::ExitOstrel();
  // Stopped one after the other, five tasks would take five polls (2.5 s) and five leaves; together
  // they take one of each, and the waits end within one slice of theirs.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "the tasks and the waits stop together";
  EXPECT_EQ(0u, DispatcherContender::instance()->count(nullptr));
  for (std::future<int>& wait : waits) {
    ASSERT_EQ(std::future_status::ready, wait.wait_for(3s)) << "a wait outlived the library";
    EXPECT_NE(0, wait.get());
  }

  // Nothing starts once the library has ended.
  EXPECT_EQ(nullptr, Ostrel::ContendHeartBit("late", "m", 1, "plant", nullptr));
  EXPECT_EQ(2025, Ostrel::ContendHeartBit("late", late, "plant", nullptr));

  const ToolRun listing = runTool("contenders");
  EXPECT_EQ(0, listing.status) << listing.output;
  EXPECT_TRUE(has(listing, "(no contenders)")) << listing.output;
  EXPECT_FALSE(has(listing, "task")) << "every leave reached the service:\n" << listing.output;
}

}  // namespace
