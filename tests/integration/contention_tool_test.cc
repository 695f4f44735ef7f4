// ostrel contend and contenders: usage errors exit 2, failed operations 1. Their normal runs are
// exercised by the failover test, which drives two `ostrel contend` processes.
#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using testing_support::runTool;

TEST(ContentionTool, StatusAndMessages) {
  struct Case {
    const char* args;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {"contend", 2, "NAME is required"},
      {"contend pump --period -1", 2, "--period"},
      {"contend pump --record NoSuchType", 2, "unknown data type 'NoSuchType'"},
      {"contend pump --record AnalogPoint nosuchfield=1", 2, "nosuchfield"},
      {"contenders --server nowhere", 1, "2001"},
      {"contenders", 0, "(no contenders)"},
      {"contenders --help", 0, "--watch"},
  };
  for (const Case& c : cases) {
    const auto run = runTool(c.args, "", "env -u TARN_SETTINGS");
    EXPECT_EQ(c.status, run.status) << c.args << "\n" << run.output;
    EXPECT_TRUE(has(run, c.text)) << c.args << "\n" << run.output;
  }
}

}  // namespace
