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
  EXPECT_EQ(2, ostrel("help frobnicate").status);

  ToolRun one = ostrel("help ping");
  EXPECT_EQ(0, one.status);
  EXPECT_NE(std::string::npos, one.output.find("Usage: ping")) << one.output;
  EXPECT_NE(std::string::npos, ostrel("--version").output.find("ostrel 0.")) << "a version";
  ToolRun negative = ostrel("error -1");
  EXPECT_EQ(0, negative.status) << "a negative code is a code, not an option: " << negative.output;

  const std::string tarnd = std::string(TARND_PATH);
  for (const char* port : {"0", "70000", "abc"}) {
    const testing_support::ToolRun run = testing_support::runTool("", "", tarnd + " --port " + port + " 2>&1 #");
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.output.find(std::string("not '") + port + "'")) << run.output;
  }
}

TEST(Tool, ErrorPrintsTexts) {
  ToolRun run = ostrel("error 2015 424242");
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.output.find("2015  the server is not connected"));
  EXPECT_NE(std::string::npos, run.output.find("unknown result code 424242"));
}

TEST(Tool, FailuresAreClearAndNamesInThemShort) {
  ToolRun run = ostrel("ping nowhere");
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.output.find("2001")) << run.output;
  ToolRun longName = ostrel("get " + std::string(300, 'x'));
  EXPECT_EQ(1, longName.status);
  EXPECT_NE(std::string::npos, longName.output.find(std::string(70, 'x') + "\u2026: 2003")) << longName.output;
  EXPECT_EQ(std::string::npos, longName.output.find(std::string(100, 'x'))) << longName.output;
}

TEST(Tool, ShellKeepsOneProcessAcrossCommandsAndAnswersWithTheFirstFailure) {
  ToolRun run = ostrel("shell", "ping\n\n# a comment\nerror 3000\nbogus\nping -n 3\nping nowhere\nexit\nerror 1\n");
  EXPECT_NE(std::string::npos, run.output.find("3000  no server name")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("unknown command 'bogus'")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("3 pings")) << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("1  ")) << "nothing runs after exit";
  EXPECT_EQ(2, run.status) << "the first failure (the usage error), not the last command's";
  EXPECT_EQ(7, ostrel("shell", "ping nowhere\nexit 7\n").status) << "exit N ends with N";
  EXPECT_EQ(1, ostrel("shell", "ping\nping nowhere\nping\n").status);
}

TEST(Tool, ShellOnATerminalCompletesCommandsAndPointNames) {
  // `script` gives the shell a terminal; a tab completes "cre" and "tan" as a person types them.
  ToolRun run = testing_support::runTool(
      "", "", "(printf 'cre\\t tank.level AnalogPoint\\nget tan\\t\\nexit\\n'; sleep 1) | script -qec '" +
                  std::string(OSTREL_TOOL_PATH) + " shell' /dev/null #");
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("created tank.level")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("tank.level  (AnalogPoint)")) << run.output;
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
  ToolRun folder = ostrel("script /tmp");
  EXPECT_EQ(1, folder.status);
  EXPECT_NE(std::string::npos, folder.output.find("not a readable file")) << folder.output;
  std::ofstream(path) << "echo one\n\nsleep abc\necho never\n";
  ToolRun line = ostrel("script " + path);
  EXPECT_EQ(1, line.status);
  EXPECT_NE(std::string::npos, line.output.find(path + ":3: sleep abc: 2041")) << "the line is named: " << line.output;
  EXPECT_EQ(std::string::npos, line.output.find("never"));
  std::remove(path.c_str());
}

}  // namespace
