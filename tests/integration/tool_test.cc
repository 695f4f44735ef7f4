// The ostrel tool as a person uses it: the demo, help, usage errors, the shell and scripts.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/environment.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::expectProgramRuns;
using testing_support::expectRuns;
using testing_support::kEmbeddedServer;
using testing_support::has;
using testing_support::processId;
using testing_support::runTool;
using testing_support::scratchPath;
using testing_support::shellWord;


// A fresh folder for the shell's state (its history), removed with this object.
class StateFolder {
 public:
  StateFolder() : path(scratchPath("ostrel-tool-state-" + std::to_string(processId()) + "-" + std::to_string(++count_))) {
    std::filesystem::create_directories(path);
  }
  ~StateFolder() { std::filesystem::remove_all(path); }
  StateFolder(const StateFolder&) = delete;
  StateFolder& operator=(const StateFolder&) = delete;
  const std::string path;

 private:
  static inline int count_ = 0;
};

// Usage errors exit 2, failed operations 1; names in messages are cut short. None of these
// reaches a server. The arguments arrive as a shell splits them (on Windows through the runner's
// own quoting for the command line), as the codes that `error` refuses show.
TEST(Tool, UsageErrorsHelpAndCodes) {
  expectRuns({
      {"help", 0, {"error", "ping", "script", "shell", "demo"}},
      {"", 2, {"demo"}},  // no command: the help, as a usage error
      {"--timeout 800", 2, {"demo"}},
      {"help ping", 0, {"Usage: ostrel ping"}},
      {"help port send", 0, {"Usage: ostrel port send", "--wait"}},  // help reaches subcommands, named whole
      {"help box peek", 0, {"Usage: ostrel box peek", "--from"}},
      {"contend ''", 2, {"NAME is empty"}},
      {"help port nosuch", 2, {"unknown command 'port nosuch'"}},
      {"get", 2, {"NAME is required", "Run 'ostrel help get' for its usage."}},
      {"port send onlyname", 2, {"Run 'ostrel help port send' for its usage."}},
      {"error 2015 3000 abc", 2, {"'abc' is not a result code"}},
      {"ping x y z", 2, {"arguments were not expected: y z"}},  // quoted as given
      {"error 12x", 2, {"'12x' is not a result code"}},
      {"servers bogus", 2, {"bogus not in"}},
      {"--timeout 0 ping", 2, {"--timeout takes whole milliseconds"}},
      {"--address nowhere ping", 2, {"'nowhere' is not host:port"}},
      {"get nothere --timeout", 2, {"--timeout needs a value"}},
      {"__complete", 0, {"watch\n", "info\n"}},    // bash completion: commands
      {"__complete port", 0, {"send\n", "recv\n"}},  // ... subcommands
      {"--version", 0, {"ostrel 0."}},
      {"error -1", 0, {}},  // a negative code is a code, not an option
      {"error 2015 424242", 0, {"2015  the server is not connected", "unknown result code 424242"}},
      {"frobnicate", 2, {"unknown command 'frobnicate'"}},
      {"error", 2, {}}, {"error notanumber", 2, {}}, {"ping -n 0", 2, {}}, {"help frobnicate", 2, {}},
      {"error 'two  words'", 2, {"'two  words' is not a result code"}},
      {"error ''", 2, {"'' is not a result code"}},
      {"error ab\\ cd", 2, {"'ab cd' is not a result code"}},
      {"error \"say \\\"hi\\\" twice\"", 2, {"'say \"hi\" twice' is not a result code"}},
      {"error \"x\\\\y z\"", 2, {"'x\\y z' is not a result code"}},
      {"error 'a\\\"b c'", 2, {"'a\\\"b c' is not a result code"}},  // a backslash before a quote
      {"error 'trailing \\\\'", 2, {"'trailing \\\\' is not a result code"}},  // backslashes before the closing quote
  });
}

// The commands on the embedded server: its messages, JSON and shell sessions.
TEST(Tool, StatusAndMessages) {
  const std::string x300(300, 'x');
  expectRuns({
      {"demo", 0, {"server local answers", "demo finished"}},
      {"ping --json", 0, {"{\"server\": \"local\", \"address\": ", "\"pings\": 1, \"us_each\": "}},
      // --json where the help promises it; the JSON of a put says the old and the new value
      {"shell", 0,
       {"}}}\n[]\n", "{\"name\": \"tank.w\", \"fields\": {\"value\": {\"old\": \"0\", \"new\": \"2.5\"}}}\n",
        "{\"name\": \"tank.w\", \"type\": \"AnalogPoint\", \"size\": 32, \"elements\": 4, \"server\": \"\", \"address\": ",
        "\"written\": true, \"fields\": {\"value\": 2.5,", "{\"box\": \"b\", \"count\": 1}\n",
        "{\"box\": \"b\", \"name\": \"\", \"type\": \"AnalogPoint\", \"fields\": {\"value\": 1.5,",
        "\"received\": \"20", "{\"port\": \"q\", \"name\": \"\", \"type\": \"DigitalPoint\", \"fields\": {\"state\": 1,",
        "\"reply_handle\": "},
       "create tank.w AnalogPoint\nput tank.w value=2.5 --json\nnulls --json\n"
       "info tank.w --json\nbox create b 5\ndeclare 5 AnalogPoint value=1.5\nbox count b --json\n"
       "box recv b --json --timeout 0\nport create q\nport send q DigitalPoint state=1\n"
       "port recv q -t DigitalPoint --json --timeout 0\n"},
      // patterns in get as in points; one that matches nothing says so
      {"shell", 1, {"tank.a  (AnalogPoint)", "tank.b  (AnalogPoint)", "get: no point matches 'pump.*'"},
       "create tank.a AnalogPoint\ncreate tank.b AnalogPoint\nget 'tank.?'\nget 'pump.*'\n"},
      // a negative number for an unsigned field is refused, not wrapped
      {"shell", 2, {"'-5' is not a value for 'quality' (unsigned_int", "quality  unsigned_int  0"},
       "create tank.q AnalogPoint\nput tank.q quality=-5\nget tank.q\n"},
      // a named snapshot made again replaces the earlier one, and says so
      {"shell", 0, {"snapshot morning: created", "snapshot morning: replaced"},
       "create tank.s AnalogPoint\nsnapshot create morning\nsnapshot create morning\n"},
      {"snapshot make points no/such/folder/p.tsnp", 1, {"2014", "is there a folder 'no/such/folder'"}},
      {"--timeout 800 ping", 0, {"answers"}},  // program options go before the command
      {"get nothere --timeout 800", 1, {"get nothere: 2003"}},  // ... or, for --timeout, after it
      {"divert east", 0, {"in this process only"}},  // a one-shot diversion says it ends at once
      {"__complete create p", 0, {"AnalogPoint\n"}},  // ... types
      {"__complete record PumpState", 0, {"speed.value=\n", "--json\n"}},  // ... fields, options
      {"ping nowhere", 1, {"2001"}},
      {"get " + x300, 1, {std::string(70, 'x') + "\u2026: 2003"}},
      {"script /nonexistent", 1, {"/nonexistent: not a readable file: No such file or directory"}},
      {"script /tmp", 1, {"not a readable file: not a regular file"}},
      // the shell answers with its first failure (the usage error), not the last command's
      {"shell", 2, {"3000  no server name", "unknown command 'bogus'", "3 pings"},
       "ping\n\n# a comment\nerror 3000\nbogus\nping -n 3\nping nowhere\nexit\nerror 1\n"},
      {"shell", 7, {}, "ping nowhere\nexit 7\n"},
      {"shell", 1, {}, "ping\nping nowhere\nping\n"},
  }, kEmbeddedServer);
  EXPECT_FALSE(has(runTool("get " + x300, "", kEmbeddedServer), std::string(100, 'x')));
  EXPECT_FALSE(has(runTool("shell", "error 3000\nexit\nerror 1\n", kEmbeddedServer), "1  ")) << "nothing runs after exit";
}

// tarnd refuses options it cannot use, with the reason: 2 for a usage error, 1 for an address it
// cannot take.
TEST(TarndOptions, RefusedWithTheirReason) {
  const std::string port = " --port " + std::to_string(testing_support::freePort());
  expectProgramRuns(TARND_PATH, {
      {"--port 0", 2, {"not '0'"}},
      {"--port 70000", 2, {"not '70000'"}},
      {"--port abc", 2, {"not 'abc'"}},
      {port + " --contender-expiry 5x", 2, {"not '5x'"}},
      {port + " --journal-sync os", 2, {"--journal-sync needs --data"}},
      // --listen: a host and maybe a port; an address without a port needs --port; one that is
      // not this host's stops tarnd before the ORB would.
      {"--listen 'a/b:7001'", 2, {"--listen takes a host name or IPv4 address"}},
      {"--listen -x:7001", 2, {"--listen takes a host name or IPv4 address"}},
      {"--listen 127.0.0.1:0", 2, {"not '0'"}},
      {"--listen 127.0.0.1", 2, {"--port PORT (1-65535) is required for --listen 127.0.0.1"}},
      {"--listen 192.0.2.1:7001 --allow 192.0.2.0/24", 1, {"192.0.2.1 is not an address of this host"}},
      // A network address needs a policy: without one tarnd does not start, and says what to add.
      {"--listen 192.0.2.1:7001", 2, {"not listening on 192.0.2.1:7001", "--allow CIDR", "--allow-any"}},
      {port + " --allow 10.0.0.0/33", 2, {"--allow: '10.0.0.0/33' has no prefix length from 0 to 32"}},
      {port + " --allow plant", 2, {"--allow: 'plant' is not an IPv4 or IPv6 address"}},
      {port + " --allow-any --allow ::1", 2, {"exclude each other"}},
      {"--listen 192.0.2.1:7001 --allow-any", 1, {"WARNING: --allow-any", "192.0.2.1 is not an address of this host"}},
      {"--listen 127.0.0.1 --port 7001 --listen 127.0.0.1:7001", 2, {"--listen names 127.0.0.1:7001 twice"}},
  });
}

// A port that is taken is named, not left to the ORB's own lines; each --listen address is
// probed, so a taken one after a free one is named as well.
TEST(TarndOptions, ATakenPortIsNamed) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  const std::string port = std::to_string(server.port());
  const testing_support::ToolRun taken = testing_support::runProgram(TARND_PATH, "--port " + port);
  EXPECT_EQ(1, taken.status) << taken.output;
  EXPECT_TRUE(has(taken, "port " + port + " is in use")) << taken.output;
  EXPECT_FALSE(has(taken, "INITIALIZE")) << taken.output;
  expectProgramRuns(TARND_PATH, {{"--port " + port + " --listen 127.0.0.2:" + std::to_string(testing_support::freePort()) +
                                      " --listen 127.0.0.1",
                                  1,
                                  {"port " + port + " is in use on 127.0.0.1"}}});
}

// Every failure exits non-zero and names its cause: settings that cannot be used, a server name
// that is not in the settings (2001), an own server that does not answer (2002, with the
// address tried), and type listings that lack a silent server's types.
TEST(Tool, FailuresNameTheirCause) {
  const std::string missing = "TARN_SETTINGS=" + shellWord(scratchPath("ostrel-no-such-dir") + "/missing.xml");
  expectRuns({{"status", 1, {"2036", "missing.xml"}},
              {"servers", 1, {"2036", "missing.xml"}},
              {"types", 1, {"2036"}}},
             missing);
  const std::string once = runTool("status", "", missing).output;
  EXPECT_EQ(once.find("missing.xml"), once.rfind("missing.xml")) << "the cause is said once:\n" << once;
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  const std::string dead = testing_support::deadAddress();
  testing_support::ScopedSettings settings(
      {{"plant", "own", {server.address()}}, {"gone", "parent", {dead}}});
  expectRuns({{"nulls --server nosuch", 1, {"2001 no such server"}},
              {"channels --server nosuch", 1, {"2001"}},
              {"nulls --server gone", 1, {"2002", "(tried " + dead + ")"}},
              {"types", 1, {"types of gone (parent): 2002", "the list lacks"}},
              {"type NoSuchType", 1, {"among the types of the servers that answer"}},
              {"status", 1, {"plant  connected", "gone  failed: 2002"}},
              {"status --json", 1, {"{\"server\": \"plant\", \"state\": 0"}}});
  // A call bound that is refused is said, not dropped.
  const std::string plant = scratchPath("ostrel-tool-bounds-" + std::to_string(processId()) + ".xml");
  std::ofstream(plant) << "<tarn><server name=\"plant\" position=\"own\" first=\"" << server.address() << "\"/></tarn>\n";
  expectRuns({{"ping", 0, {"TARN_CALL_TIMEOUT_MS: '0' is not a whole number"}}},
             "TARN_SETTINGS=" + shellWord(plant) + " TARN_CALL_TIMEOUT_MS=0");
  std::ofstream(plant) << "<tarn call-timeout-ms=\"abc\"><server name=\"plant\" position=\"own\" first=\""
                       << server.address() << "\"/></tarn>\n";
  expectRuns({{"ping", 0, {"call-timeout-ms in the settings file: 'abc' is not"}}}, "TARN_SETTINGS=" + shellWord(plant));
  std::remove(plant.c_str());
  testing_support::ScopedSettings ownDown({{"plant", "own", {dead}}});
  expectRuns({{"nulls", 1, {"2002 the server does not answer (tried " + dead + ")"}},
              {"realms", 1, {"2002"}}});
}

TEST(Tool, ShellOnATerminalCompletesCommandsAndPointNames) {
  // `script` gives the shell a terminal; a tab completes "cre", "Ana", "tan" and "val" as a
  // person types them. The history is kept in the state folder.
  const StateFolder state;
  expectRuns({{"", 0, {"created tank.level", "value    double        4.5"}}},
             "(printf 'cre\\t tank.level Ana\\t\\nput tan\\t val\\t4.5\\nget tank.level\\nexit\\n'; sleep 1) | "
             "XDG_STATE_HOME=" + state.path + " TARN_SETTINGS= script -qec '" + std::string(OSTREL_TOOL_PATH) +
                 " shell' /dev/null #");
  std::ifstream history(state.path + "/ostrel/history");
  std::string kept((std::istreambuf_iterator<char>(history)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, kept.find("tank.level")) << kept;
}

TEST(Tool, BashCompletionAsksTheTool) {
  const std::string script = std::string(OSTREL_SOURCE_DIR) + "/tools/ostrel/ostrel.bash";
  auto complete = [&](const std::string& words, int current) {
    return testing_support::runTool("", "",
                                    "TARN_SETTINGS= bash -c 'source " + script + "; COMP_WORDS=(" + OSTREL_TOOL_PATH +
                                        " " + words + "); COMP_CWORD=" + std::to_string(current) +
                                        "; _ostrel; echo \"${COMPREPLY[*]}\"' #");
  };
  EXPECT_EQ("create\n", complete("cre", 1).output);
  EXPECT_EQ("create send recv peek reply\n", complete("port ''", 2).output);
  EXPECT_EQ("speed.value=\n", complete("record PumpState speed.v", 3).output);
}

TEST(Tool, CtrlCCancelsTheCommandNotTheShell) {
  // A receive without limit, cancelled by Ctrl-C (ETX on the terminal); the diverted realm of
  // the same shell is still there afterwards.
  const StateFolder state;
  const testing_support::ToolRun run = testing_support::runTool(
      "", "",
      "(printf 'divert east\\nbox create b 1\\nbox recv b\\n'; sleep 2; printf '\\003'; sleep 1; "
      "printf 'realm'; sleep 1; printf '\\003'; sleep 1; printf 'realms\\nexit\\n'; sleep 1) | XDG_STATE_HOME=" +
          state.path + " TARN_SETTINGS= script -qec '" + std::string(OSTREL_TOOL_PATH) + " shell' /dev/null #");
  EXPECT_TRUE(has(run, "box recv b: interrupted")) << run.output;
  EXPECT_TRUE(has(run, "east\r\n")) << "the shell and its realm survived: " << run.output;
}

TEST(Tool, ScriptRunsThroughTheInterpreter) {
  const std::string path = scratchPath("ostrel-tool-script-" + std::to_string(processId()));
  std::ofstream(path) << "connect\nconnect local\necho hello $1\n";
  expectRuns({{"script " + shellWord(path) + " world", 0, {"hello world", "done"}}}, kEmbeddedServer);
  std::ofstream(path) << "echo one\n\nsleep abc\necho never\n";
  const auto run = runTool("script " + shellWord(path), "", kEmbeddedServer);
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(has(run, path + ":3: sleep abc: 2041")) << "the line is named: " << run.output;
  EXPECT_FALSE(has(run, "never"));
  std::remove(path.c_str());
}

}  // namespace
