// The examples as an application developer runs them, against tarnd: each builds, runs and
// prints what its header promises.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// Runs examples/NAME with ARGS against the settings file at `settings`.
ToolRun example(const std::string& name, const std::string& args, const std::string& settings) {
  return runTool("", "", "TARN_SETTINGS=" + settings + " " + OSTREL_EXAMPLES_DIR + "/example_" + name + " " + args + " 2>&1 #");
}

TEST(Examples, PointsAndPartialBatchWriteWhatTheyReadBack) {
  TarndProcess plant("plant", freePort());
  ASSERT_TRUE(plant.start());
  ScopedSettings settings({{"plant", "own", {plant.address()}}});
  for (int round = 0; round < 2; ++round) {  // the second run finds its points made already
    ToolRun points = example("points", "", settings.path());
    EXPECT_EQ(0, points.status) << points.output;
    EXPECT_TRUE(has(points, "example.flow (AnalogPoint): value=12.5 quality=192 unit=m3/h")) << points.output;
    ToolRun batch = example("partial_batch", "250", settings.path());
    EXPECT_EQ(0, batch.status) << batch.output;
    EXPECT_TRUE(has(batch, "250 points written; the last has quality 349")) << batch.output;
  }
  plant.kill();
  ToolRun down = example("partial_batch", "10", settings.path());
  EXPECT_EQ(1, down.status) << down.output;
  EXPECT_TRUE(has(down, "connect: 2002")) << "a server that is down is named, not a silent failure: " << down.output;
}

TEST(Examples, ListenerLogsAFailover) {
  TarndProcess first("pair", freePort()), second("pair", freePort());
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start());
  ScopedSettings settings({{"pair", "own", {first.address(), second.address()}}});
  std::thread killer = first.killAfter(2s);
  ToolRun run = example("listener", "12", settings.path());
  killer.join();
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(has(run, "pair: up at " + first.address())) << run.output;
  EXPECT_TRUE(has(run, "pair: switched " + first.address() + " -> " + second.address())) << run.output;
}

}  // namespace
