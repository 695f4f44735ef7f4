// The data point commands of the ostrel tool, run as a person would: in one shell session on
// the embedded server, and against a tarnd named in the settings.

#include <chrono>
#include <future>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::expectRuns;
using testing_support::kEmbeddedServer;


TEST(PointsTool, StatusAndMessages) {
  expectRuns({
      {"shell", 2,  // the first failure: the refused field is a usage error
       {"created tank.level (AnalogPoint)", "value    double        3.25",
        "  value    2.5 -> 3.25\n  quality  0  (unchanged)\n",  // put shows the old and the new value
        "quality",  // the refused field is named
        "1 point matches\n-- tank.level\n",  // the query names the points that matched
        "create tank.level: 2005", "deleted tank.level", "get tank.level: 2003",
        "east.only  (DigitalPoint)",  // the diverted realm holds the new point, the default one not
        "get east.only: 2003"},
       "create tank.level AnalogPoint value=2.5 unit=m\nput tank.level value=3.25 quality=0\nget tank.level\n"
       "put tank.level quality=banana\nget tank.level\nquery AnalogPoint value=3.25\n"
       "create tank.level AnalogPoint\ndelete tank.level\nget tank.level\ndivert east\n"
       "create east.only DigitalPoint state=1\nget east.only\ndivert ''\nget east.only\n"},
      {"put", 2, {}},
      {"create onlyname", 2, {}},
      {"create x NoSuchType", 1, {}},
      {"get missing.point", 1, {}},
      {"points --server nowhere", 1, {}},
  }, kEmbeddedServer);
}

TEST(PointsTool, WorksAgainstATarndOfTheSettings) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  expectRuns({{"create --realm east pump.7 PumpState running=1 speed.value=1450", 0, {}},
              {"get pump.7 --server plant --realm east", 0, {"speed.value", "1450"}},
              {"--server plant --realm east get pump.7", 0, {"1450"}},  // options before the command
              {"get pump.7", 1, {}},  // the default realm does not hold it
              {"create tank.a AnalogPoint value=1.5 unit=m3", 0, {}},
              {"create tank.b AnalogPoint value=2", 0, {}},
              {"create pump.1 PumpState", 0, {}},
              {"get tank.a --field value", 0, {"1.5\n"}},
              {"get tank.a tank.b --field unit", 0, {"m3\n\n"}},  // texts unquoted, one line a point
              {"get tank.a --field speed", 1, {"no field 'speed' in AnalogPoint"}},
              {"get tank.a --json", 0, {"[{\"name\": \"tank.a\", \"type\": \"AnalogPoint\", \"fields\": {\"value\": 1.5, "
                                        "\"quality\": 0, \"stamp\": 0, \"unit\": \"m3\"}}]"}},
              {"points 'tank.*'", 0, {"tank.a\ntank.b\n"}},
              {"points 'pump.?' --json", 0, {"[\"pump.1\"]"}},
              {"points PumpState", 0, {"pump.1\n"}},  // a type name still lists its points
              {"query AnalogPoint value=2 --json", 0, {"[{\"name\": \"tank.b\""}},
              {"info tank.a", 0, {"type     AnalogPoint (32 bytes, 4 elements)", "written  yes", "\"m3\""}},
              {"shell", 1, {"the demo runs on the embedded server only"}, "demo\n"}});

  // watch prints the first value, then one line per change, and stops after -n changes; a point
  // that is missing is named and shown as missing, and the others go on being watched.
  auto watching = std::async(std::launch::async, [] {
    return testing_support::runTool("watch tank.a tank.late tank.b --period 50 -n 3 --json");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  expectRuns({{"put tank.a value=7", 0, {}}});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  expectRuns({{"put tank.b quality=3 unit=x", 0, {}}});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  expectRuns({{"create tank.late AnalogPoint value=4", 0, {}}});
  ASSERT_EQ(std::future_status::ready, watching.wait_for(std::chrono::seconds(30)));
  const testing_support::ToolRun watched = watching.get();
  EXPECT_EQ(0, watched.status) << watched.output;
  EXPECT_TRUE(testing_support::has(watched, "\"name\": \"tank.a\", \"fields\": {\"value\": 7}}")) << watched.output;
  EXPECT_TRUE(testing_support::has(watched, "\"name\": \"tank.b\", \"fields\": {\"quality\": 3, \"unit\": \"x\"}}"))
      << watched.output;
  EXPECT_TRUE(testing_support::has(watched, "\"name\": \"tank.late\", \"missing\": true}")) << watched.output;
  EXPECT_TRUE(testing_support::has(watched, "\"name\": \"tank.late\", \"fields\": {\"value\": 4,")) << watched.output;
  // Times in JSON are ISO 8601 with milliseconds and zone.
  EXPECT_TRUE(std::regex_search(watched.output, std::regex(R"("time": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")")))
      << watched.output;

  // --address reaches one tarnd without a settings file.
  expectRuns({{"--address " + server.address() + " points 'tank.?'", 0, {"tank.a\ntank.b\n"}},
              {"points 'tank.?'", 0, {"tank.a\ntank.b\n"}}},
             "TARN_SETTINGS= TARN_ADDRESS=" + server.address());
  // Two configurations at once are refused rather than one of them guessed.
  expectRuns({{"points", 2, {"TARN_ADDRESS and TARN_SETTINGS are both set"}},
              {"--address " + server.address() + " points 'tank.?'", 0, {"tank.a\n"}}},  // the option decides
             "TARN_ADDRESS=" + server.address());
}

// The demo runs on the embedded server whatever the settings name: it writes nothing to their
// server, and its listing of points shows none of that server's.
TEST(PointsTool, DemoNeverWritesToAServerOfTheSettings) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  expectRuns({{"create tank.a AnalogPoint", 0, {}}});
  const testing_support::ToolRun demo = testing_support::runTool("demo");
  EXPECT_EQ(0, demo.status) << demo.output;
  EXPECT_TRUE(testing_support::has(demo, "demo finished")) << demo.output;
  EXPECT_FALSE(testing_support::has(demo, "tank.a")) << demo.output;
  EXPECT_EQ("tank.a\n", testing_support::runTool("points").output) << "the demo wrote nothing to plant";
}

}  // namespace
