// The ostrel tool as a person uses it: the demo, help, usage errors, the shell and scripts.
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

using testing_support::ToolRun;

ToolRun ostrel(const std::string& args, const std::string& input = "") { return testing_support::runTool(args, input); }

TEST(Tool, DemoRunsOnTheEmbeddedServer) {
  ToolRun run = ostrel("demo");
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("server local answers")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("demo finished")) << run.output;
}

TEST(Tool, HelpAndUsageErrors) {
  ToolRun help = ostrel("help");
  EXPECT_EQ(0, help.status);
  for (const char* command : {"error", "ping", "script", "shell", "demo"})
    EXPECT_NE(std::string::npos, help.output.find(command)) << command;
  EXPECT_EQ(0, ostrel("").status) << "no arguments shows the help";

  ToolRun unknown = ostrel("frobnicate");
  EXPECT_EQ(2, unknown.status);
  EXPECT_NE(std::string::npos, unknown.output.find("unknown command 'frobnicate'"));
  EXPECT_EQ(2, ostrel("error").status) << "a missing argument is a usage error";
  EXPECT_EQ(2, ostrel("error notanumber").status);
  EXPECT_EQ(2, ostrel("ping -n 0").status);
}

TEST(Tool, ErrorPrintsTexts) {
  ToolRun run = ostrel("error 2015 424242");
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.output.find("2015  the server is not connected"));
  EXPECT_NE(std::string::npos, run.output.find("unknown result code 424242"));
}

TEST(Tool, PingFailsClearlyForAnUnknownServer) {
  ToolRun run = ostrel("ping nowhere");
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.output.find("2001")) << run.output;
}

TEST(Tool, ShellKeepsOneProcessAcrossCommands) {
  ToolRun run = ostrel("shell", "ping\n\n# a comment\nerror 3000\nbogus\nping -n 3\nexit\nerror 1\n");
  EXPECT_NE(std::string::npos, run.output.find("3000  no server name")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("unknown command 'bogus'")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("3 pings")) << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("1  ")) << "nothing runs after exit";
}

TEST(Tool, ScriptRunsThroughTheInterpreter) {
  const std::string path = "/tmp/ostrel-tool-script-" + std::to_string(::getpid());
  std::ofstream(path) << "connect\necho hello $1\n";
  ToolRun good = ostrel("script " + path + " world");
  EXPECT_EQ(0, good.status) << good.output;
  EXPECT_NE(std::string::npos, good.output.find("hello world"));
  std::ofstream(path) << "connect nowhere\n";
  ToolRun bad = ostrel("script " + path);
  EXPECT_EQ(1, bad.status);
  EXPECT_NE(std::string::npos, bad.output.find("2001")) << bad.output;
  EXPECT_EQ(1, ostrel("script /nonexistent").status);
  std::remove(path.c_str());
}

}  // namespace
