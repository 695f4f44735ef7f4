// Only a write command run on the embedded server says that what it writes ends with it.
#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using testing_support::runTool;

TEST(ToolEmbedded, OneShotWritesSayTheyAreThrownAway) {
  const char* note = "the embedded server lives only as long as this command";
  struct Case {
    const char* args;
    const char* input;
    bool noted;
  } cases[] = {{"create tank.a AnalogPoint", "", true},
               {"box create alarms 7", "", true},
               {"points", "", false},
               {"shell", "create tank.a AnalogPoint\nput tank.a value=2\n", false}};
  for (const Case& c : cases) {
    const testing_support::ToolRun run = runTool(c.args, c.input, "TARN_SETTINGS=");
    EXPECT_EQ(0, run.status) << c.args << ": " << run.output;
    EXPECT_EQ(c.noted, has(run, note)) << c.args << ": " << run.output;
  }
  const testing_support::ToolRun put = runTool("put nothere value=1", "", "TARN_SETTINGS=");
  EXPECT_EQ(1, put.status);
  EXPECT_TRUE(has(put, "ostrel: put nothere: 2003")) << put.output;
}

}  // namespace
