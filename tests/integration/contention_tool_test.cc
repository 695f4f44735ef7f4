// ostrel contend and contenders: usage errors exit 2, failed operations 1. Their normal runs are
// exercised by the failover test, which drives two `ostrel contend` processes.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

TEST(ContentionTool, StatusAndMessages) {
  testing_support::expectRuns({{"contend", 2, {"NAME is required"}},
                               {"contend pump --period -1", 2, {"--period"}},
                               {"contend pump --record NoSuchType", 2, {"unknown data type 'NoSuchType'"}},
                               {"contend pump --record AnalogPoint nosuchfield=1", 2, {"nosuchfield"}},
                               // the record form takes neither: refused, not silently dropped
                               {"contend pump --period 1 --record AnalogPoint", 2, {"--period and --module cannot"}},
                               {"contend pump --module m --record AnalogPoint", 2, {"--period and --module cannot"}},
                               {"contenders --json", 0, {"[]\n"}},
                               {"contenders --server nowhere", 1, {"2001"}},
                               {"contenders", 0, {"(no contenders)"}},
                               {"contenders --help", 0, {"--watch"}}},
                              "env -u TARN_SETTINGS");
}

// A second `ostrel contend` under the same name on the same host is refused by the service while
// the first lives: it says it waits for the other process, and takes the role once the first's
// registration expires (killed, no leave).
TEST(ContentionTool, ASecondProcessOfTheHostWaitsForTheFirst) {
  testing_support::TarndProcess tarnd("plant", testing_support::freePort(), {"--contender-expiry", "2"});
  ASSERT_TRUE(tarnd.start());
  testing_support::ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  const std::string tool = OSTREL_TOOL_PATH;
  const std::string script = tool + " contend pump --period 1 > /dev/null & first=$!; sleep 1.5; " + "timeout -s INT 9 " +
                             tool + " contend pump --period 1 & second=$!; sleep 2.5; kill -9 $first; wait $second";
  FILE* pipe = popen(("sh -c '" + script + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  pclose(pipe);
  const std::size_t waiting = output.find("waiting: the name is held by another process of this host");
  const std::size_t active = output.find(": active");
  EXPECT_NE(waiting, std::string::npos) << output;
  EXPECT_NE(active, std::string::npos) << output;
  EXPECT_LT(waiting, active) << "active only after the first is gone:\n" << output;
}

}  // namespace
