// ostrel contend and contenders: usage errors exit 2, failed operations 1. Their normal runs are
// exercised by the failover test, which drives two `ostrel contend` processes.
#include <chrono>
#include <string>
#include <thread>

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
                              testing_support::kEmbeddedServer);
}

// A second `ostrel contend` under the same name on the same host is refused by the service while
// the first lives: it says it waits for the other process, and takes the role once the first's
// registration expires (killed, no leave).
TEST(ContentionTool, ASecondProcessOfTheHostWaitsForTheFirst) {
  testing_support::TarndProcess tarnd("plant", testing_support::freePort(), {"--contender-expiry", "2"});
  ASSERT_TRUE(tarnd.start());
  testing_support::ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  const std::chrono::seconds limit(20);
  testing_support::ToolProcess first("contend pump --period 1");
  ASSERT_TRUE(first.waitFor(": active", limit)) << first.output();
  // The tool tells the other's registration from its own by the second it started in.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  testing_support::ToolProcess second("contend pump --period 1");
  EXPECT_TRUE(second.waitFor("waiting: the name is held by another process of this host", limit)) << second.output();
  first.kill();
  EXPECT_TRUE(second.waitFor(": active", limit)) << "the role once the first is gone:\n" << second.output();
  const std::string output = second.output();
  EXPECT_LT(output.find("waiting: "), output.find(": active")) << "active only after the first is gone:\n" << output;
}

}  // namespace
