// ExitOstrel stops every heartbeat task and each one's leave reaches the service. In an
// executable of its own: ExitOstrel ends ACE and the naming client for the whole process, so
// the service is read afterwards by the ostrel tool, a process of its own.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/redundancy/dispatcher_contender.h"
#include "tests/support/contenders.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(ContentionExit, ExitStopsEveryTaskAtOnceAndEachLeaves) {
  TarndProcess tarnd("plant", freePort());
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(Ostrel::ContendHeartBit(("task" + std::to_string(i)).c_str(), "m", 1, "plant", nullptr));
  std::this_thread::sleep_for(1s);  // every task past its first pass and into its polls
  ASSERT_EQ(5, contenderCount("plant"));

  const auto start = std::chrono::steady_clock::now();
  Ostrel::ExitOstrel();
  // Stopped one after the other, five tasks would take five polls (2.5 s); together they take one.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "the tasks stop together";
  EXPECT_EQ(0u, DispatcherContender::instance()->count(nullptr));

  const ToolRun listing = runTool("contenders");
  EXPECT_EQ(0, listing.status) << listing.output;
  EXPECT_TRUE(has(listing, "(no contenders)")) << listing.output;
  EXPECT_FALSE(has(listing, "task")) << "every leave reached the service:\n" << listing.output;
}

}  // namespace
