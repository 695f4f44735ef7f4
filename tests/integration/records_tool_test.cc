// Records as text in the ostrel tool: `ostrel record` on the embedded server's plant types as a
// person runs it, and the shared path=value parser, which writes nothing when one assignment
// is refused.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
// The tool's parser and printer, compiled into this test to look at the record itself.
#include "tools/ostrel/records.cc"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::ToolRun;

ToolRun ostrel(const std::string& args) { return testing_support::runTool(args); }

bool has(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

TEST(RecordsTool, ShowsAssignedValuesAsATable) {
  ToolRun run = ostrel("record PumpState mode=-2 speed.unit=rpm speed.value=1480.5 running=65 starts=-1 "
                       "'pressure.value=-0' runHours=1e300");
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(has(run.output, "PumpState  (80 bytes)")) << run.output;
  for (const char* row : {"ELEMENT           TYPE          VALUE", "running           byte          65 'A'",
                          "mode              signed_word   -2", "starts            unsigned_int  4294967295",
                          "speed.value       double        1480.5", "speed.unit        char*         \"rpm\"",
                          "pressure.value    double        -0", "runHours          double        1e+300",
                          "pressure.unit     char*         \"\""}) {
    EXPECT_TRUE(has(run.output, std::string(row) + "\n")) << row << "\n" << run.output;
  }
}

TEST(RecordsTool, ExpandsArraysAndNestedTypesByPath) {
  ToolRun run = ostrel("record Station 'name=North Ü' 'pumps[3].speed.unit=m³/h' 'levels[7]=2.5' --hex");
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_TRUE(has(run.output, "\"North Ü\"")) << run.output;
  EXPECT_TRUE(has(run.output, "pumps[3].speed.unit")) << run.output;
  EXPECT_TRUE(has(run.output, "\"m³/h\"")) << run.output;
  EXPECT_TRUE(has(run.output, "levels[7]")) << run.output;
  EXPECT_TRUE(has(run.output, "2.5\n")) << run.output;
  EXPECT_TRUE(has(run.output, "     0  4e 6f 72 74 68 20 c3 9c 00")) << "raw bytes: " << run.output;

  ToolRun texts = ostrel("record Alarm 'wtext=ünï €😀' text=abc");
  ASSERT_EQ(0, texts.status) << texts.output;
  EXPECT_TRUE(has(texts.output, "wchar*      \"ünï €😀\"")) << texts.output;
}

// A refused assignment is a usage error (2) naming the field, and no record is shown.
TEST(RecordsTool, RefusesWhatDoesNotParseNamingTheField) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"mode=5 'running=A'", "'A' is not a value for 'running' (byte"},
      {"mode=40000", "'40000' is not a value for 'mode' (signed_word"},
      {"speed=1", "'speed' is of type AnalogPoint; assign its fields"},
      {"nosuch=1", "no field 'nosuch' in PumpState"},
      {"speed.unit=waytoolongforthisfield", "the text for 'speed.unit' takes 22 bytes; the field holds 16"},
      {"speed.stamp=5", "'speed.stamp' (kx_time) cannot be set from text"},
      {"mode", "'mode' is not path=value"},
      {"speed.value=1,5", "'1,5' is not a value for 'speed.value' (double"},
  };
  for (const Case& c : cases) {
    ToolRun run = ostrel(std::string("record PumpState ") + c.args);
    EXPECT_EQ(2, run.status) << c.args << "\n" << run.output;
    EXPECT_TRUE(has(run.output, c.message)) << c.args << "\n" << run.output;
    EXPECT_TRUE(has(run.output, "nothing was assigned")) << run.output;
    EXPECT_FALSE(has(run.output, "ELEMENT")) << run.output;
  }
  ToolRun station = ostrel("record Station levels=1 'pumps[4].mode=1'");
  EXPECT_EQ(2, station.status);
  EXPECT_TRUE(has(station.output, "'levels' has 8 items; assign one (e.g. levels[0]=...)")) << station.output;
  EXPECT_TRUE(has(ostrel("record Station 'pumps[x].mode=1'").output, "an index must be a whole number"));

  ToolRun unknown = ostrel("record NoSuchType");
  EXPECT_EQ(1, unknown.status);
  EXPECT_TRUE(has(unknown.output, "no data type named 'NoSuchType'")) << unknown.output;
  EXPECT_EQ(2, ostrel("record").status) << "the type is required";
}

// The parser checks every assignment before it writes any.
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
