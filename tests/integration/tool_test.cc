// The ostrel tool as a person uses it: the demo, help, usage errors, the shell and scripts.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

using testing_support::expectRuns;
using testing_support::has;
using testing_support::runTool;

// Usage errors exit 2, failed operations 1; names in messages are cut short.
TEST(Tool, StatusAndMessages) {
  const std::string x300(300, 'x');
  expectRuns({
      {"demo", 0, {"server local answers", "demo finished"}},
      {"help", 0, {"error", "ping", "script", "shell", "demo"}},
      {"", 0, {"demo"}},  // no arguments shows the help
      {"help ping", 0, {"Usage: ping"}},
      {"--version", 0, {"ostrel 0."}},
      {"error -1", 0, {}},  // a negative code is a code, not an option
      {"error 2015 424242", 0, {"2015  the server is not connected", "unknown result code 424242"}},
      {"frobnicate", 2, {"unknown command 'frobnicate'"}},
      {"error", 2, {}}, {"error notanumber", 2, {}}, {"ping -n 0", 2, {}}, {"help frobnicate", 2, {}},
      {"ping nowhere", 1, {"2001"}},
      {"get " + x300, 1, {std::string(70, 'x') + "\u2026: 2003"}},
      {"script /nonexistent", 1, {}},
      {"script /tmp", 1, {"not a readable file"}},
      // the shell answers with its first failure (the usage error), not the last command's
      {"shell", 2, {"3000  no server name", "unknown command 'bogus'", "3 pings"},
       "ping\n\n# a comment\nerror 3000\nbogus\nping -n 3\nping nowhere\nexit\nerror 1\n"},
      {"shell", 7, {}, "ping nowhere\nexit 7\n"},
      {"shell", 1, {}, "ping\nping nowhere\nping\n"},
  });
  EXPECT_FALSE(has(runTool("get " + x300), std::string(100, 'x')));
  EXPECT_FALSE(has(runTool("shell", "error 3000\nexit\nerror 1\n"), "1  ")) << "nothing runs after exit";
  for (const char* port : {"0", "70000", "abc"})
    expectRuns({{"", 2, {std::string("not '") + port + "'"}}}, std::string(TARND_PATH) + " --port " + port + " 2>&1 #");
}

TEST(Tool, ShellOnATerminalCompletesCommandsAndPointNames) {
  // `script` gives the shell a terminal; a tab completes "cre" and "tan" as a person types them.
  expectRuns({{"", 0, {"created tank.level", "tank.level  (AnalogPoint)"}}},
             "(printf 'cre\\t tank.level AnalogPoint\\nget tan\\t\\nexit\\n'; sleep 1) | script -qec '" +
                 std::string(OSTREL_TOOL_PATH) + " shell' /dev/null #");
}

TEST(Tool, ScriptRunsThroughTheInterpreter) {
  const std::string path = "/tmp/ostrel-tool-script-" + std::to_string(::getpid());
  std::ofstream(path) << "connect\nconnect local\necho hello $1\n";
  expectRuns({{"script " + path + " world", 0, {"hello world", "done"}}});
  std::ofstream(path) << "echo one\n\nsleep abc\necho never\n";
  const auto run = runTool("script " + path);
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(has(run, path + ":3: sleep abc: 2041")) << "the line is named: " << run.output;
  EXPECT_FALSE(has(run, "never"));
  std::remove(path.c_str());
}

}  // namespace
