// The data point commands of the ostrel tool, run as a person would: in one shell session on
// the embedded server, and against a tarnd named in the settings.
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using Output = testing_support::ToolRun;

Output ostrel(const std::string& args, const std::string& input = "", const std::string& env = "") {
  return testing_support::runTool(args, input, env);
}

TEST(PointsTool, CreateWriteReadQueryDeleteInOneShell) {
  Output out = ostrel("shell",
                      "create tank.level AnalogPoint value=2.5 unit=m\n"
                      "put tank.level value=3.25\n"
                      "get tank.level\n"
                      "put tank.level quality=banana\n"
                      "get tank.level\n"
                      "query AnalogPoint value=3.25\n"
                      "create tank.level AnalogPoint\n"
                      "delete tank.level\n"
                      "get tank.level\n"
                      "divert east\n"
                      "create east.only DigitalPoint state=1\n"
                      "get east.only\n"
                      "divert ''\n"
                      "get east.only\n");
  EXPECT_TRUE(has(out, "created tank.level (AnalogPoint)")) << out.output;
  EXPECT_TRUE(has(out, "value    double        3.25")) << out.output;
  EXPECT_TRUE(has(out, "quality")) << "the refused field is named: " << out.output;
  EXPECT_TRUE(has(out, "1 point match")) << out.output;
  EXPECT_TRUE(has(out, "create tank.level: 2005")) << out.output;
  EXPECT_TRUE(has(out, "deleted tank.level")) << out.output;
  EXPECT_TRUE(has(out, "get tank.level: 2003")) << out.output;
  EXPECT_TRUE(has(out, "east.only  (DigitalPoint)")) << "the diverted realm holds the new point: " << out.output;
  EXPECT_TRUE(has(out, "get east.only: 2003")) << "the default realm does not: " << out.output;
}

TEST(PointsTool, UsageErrorsAndFailuresHaveTheirStatus) {
  EXPECT_EQ(2, ostrel("put").status);
  EXPECT_EQ(2, ostrel("create onlyname").status);
  EXPECT_EQ(1, ostrel("create x NoSuchType").status);
  EXPECT_EQ(1, ostrel("get missing.point").status);
  EXPECT_EQ(1, ostrel("points --server nowhere").status);
}

TEST(PointsTool, WorksAgainstATarndOfTheSettings) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  const std::string settings = "/tmp/ostrel-points-settings-" + std::to_string(::getpid()) + ".xml";
  std::ofstream(settings) << "<tarn><server name=\"plant\" position=\"own\" first=\"" << server.address()
                          << "\"/></tarn>";
  const std::string env = "TARN_SETTINGS=" + settings;
  EXPECT_EQ(0, ostrel("create --realm east pump.7 PumpState running=1 speed.value=1450", "", env).status);
  Output got = ostrel("get pump.7 --server plant --realm east", "", env);
  EXPECT_EQ(0, got.status) << got.output;
  EXPECT_TRUE(has(got, "speed.value")) << got.output;
  EXPECT_TRUE(has(got, "1450")) << got.output;
  EXPECT_EQ(1, ostrel("get pump.7", "", env).status) << "the default realm does not hold it";
  std::remove(settings.c_str());
}

}  // namespace
