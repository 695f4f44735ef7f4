// Records as text in the ostrel tool, and its path=value parser.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
// The tool's parser and printer, compiled into this test to look at the record itself.
#include "tools/ostrel/records.cc"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using testing_support::ToolRun;

TEST(RecordsTool, ShowsAssignedValuesAsATable) {
  testing_support::expectRuns(
      {{"record PumpState mode=-2 speed.unit=rpm speed.value=1480.5 running=65 starts=4294967295 'pressure.value=-0' "
        "runHours=1e300",
        0,
        {"PumpState  (80 bytes)", "ELEMENT           TYPE          VALUE\n", "running           byte          65 'A'\n",
         "mode              signed_word   -2\n", "starts            unsigned_int  4294967295\n",
         "speed.value       double        1480.5\n", "speed.unit        char*         \"rpm\"\n",
         "pressure.value    double        -0\n", "runHours          double        1e+300\n",
         "pressure.unit     char*         \"\"\n"}}});
}

TEST(RecordsTool, ExpandsArraysAndNestedTypesByPath) {
  testing_support::expectRuns(
      {{"record Station 'name=North \u00DC' 'pumps[3].speed.unit=m\u00B3/h' 'levels[7]=2.5' --hex", 0,
        {"\"North \u00DC\"", "pumps[3].speed.unit", "\"m\u00B3/h\"", "levels[7]", "2.5\n",
         "     0  4e 6f 72 74 68 20 c3 9c 00"}},  // the raw bytes
       {"record Alarm 'wtext=\u00FCn\u00EF \u20AC\U0001F600' text=abc", 0, {"wchar*      \"\u00FCn\u00EF \u20AC\U0001F600\""}},
       {"record Station levels=1 'pumps[4].mode=1'", 2, {"'levels' has 8 items; assign one (e.g. levels[0]=...)"}},
       {"record Station 'pumps[x].mode=1'", 2, {"an index must be a whole number"}},
       {"record NoSuchType", 1, {"no data type named 'NoSuchType'"}},
       {"record", 2, {}}});  // the type is required
}

TEST(RecordsTool, RefusesWhatDoesNotParseNamingTheField) {
  const std::pair<const char*, const char*> cases[] = {
      {"mode=5 'running=A'", "'A' is not a value for 'running' (byte"},
      {"mode=40000", "'40000' is not a value for 'mode' (signed_word"},
      {"speed=1", "'speed' is of type AnalogPoint; assign its fields"},
      {"nosuch=1", "no field 'nosuch' in PumpState"},
      {"speed.unit=waytoolongforthisfield", "the text for 'speed.unit' takes 22 bytes; the field holds 16"},
      {"speed.stamp=5", "'speed.stamp' (kx_time) cannot be set from text"},
      {"mode", "'mode' is not path=value"},
      {"speed.value=1,5", "'1,5' is not a value for 'speed.value' (double"},
      {"starts=-1", "'-1' is not a value for 'starts' (unsigned_int: a whole number from 0 to 4294967295)"},
  };
  for (const auto& [args, message] : cases) {
    ToolRun run = testing_support::runTool(std::string("record PumpState ") + args);
    EXPECT_EQ(2, run.status) << args << "\n" << run.output;
    EXPECT_TRUE(has(run, message) && has(run, "nothing was assigned")) << args << "\n" << run.output;
    EXPECT_FALSE(has(run, "ELEMENT")) << run.output;
  }
}

TEST(RecordsTool, ParserWritesNothingWhenOneAssignmentIsRefused) {
  Ostrel::BuildOstrel();
  BrennicData pump("PumpState", 0);
  ASSERT_TRUE(pump.IsGood());
  std::string error;
  EXPECT_FALSE(tool::parseAssignments(pump, {"mode=5", "speed.unit=rpm", "starts=x"}, error));
  EXPECT_NE(std::string::npos, error.find("'starts'")) << error;
  EXPECT_TRUE(pump.IsNull()) << "nothing written";

  // A byte holding '5' shows "5"; assigning 5 stores the number 5.
  pump.PutValue("running", static_cast<unsigned char>('5'));
  EXPECT_TRUE(tool::parseAssignments(pump, {"running=5", "mode=5", "mode=6"}, error)) << error;
  EXPECT_EQ(5, pump.GetUnSignedCharValue("running"));
  EXPECT_EQ(6, pump.GetShortValue("mode")) << "assignments apply in order";
}

}  // namespace
