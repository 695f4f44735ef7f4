// Configuration mistakes as a person makes them, and what the tool says about them.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

using testing_support::expectRuns;
using testing_support::has;
using testing_support::runTool;
using testing_support::ToolRun;

std::string scratch(const std::string& name) { return "/tmp/ostrel-config-" + std::to_string(::getpid()) + "-" + name; }

std::string read(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Configuration, AnUnusableSettingsFileIsRefusedNamingTheFileTheLineAndTheCause) {
  struct Case { const char *name, *content, *cause; } cases[] = {  // content null: no file
      {"missing", nullptr, "cannot be read"},
      {"empty", "", "No document element"},
      {"notxml", "<tarn>\n<server name=\"a\" first=\n</tarn>\n", ": line "},
      {"root", "<servers/>\n", "the root element is <servers>, not <tarn>"},
      {"position", "<tarn>\n<server name=\"a\" position=\"boss\" first=\"127.0.0.1:7001\"/>\n</tarn>\n", "line 2: server \"a\": unknown position \"boss\""},
      {"twice", "<tarn>\n<server name=\"a\" first=\"h:1\"/>\n<server name=\"a\" first=\"h:2\"/>\n</tarn>\n", "line 3: server \"a\" is named twice"},
      {"twoown", "<tarn>\n<server name=\"a\" position=\"own\" first=\"h:1\"/>\n<server name=\"b\" position=\"own\" first=\"h:2\"/>\n</tarn>\n", "a second server at \"own\""},
      {"port", "<tarn>\n<server name=\"a\" position=\"own\" first=\"h:70000\"/>\n</tarn>\n", "address \"h:70000\" is not host:port"},
      {"host", "<tarn>\n<server name=\"a\" position=\"own\" first=\"h/x:7001\"/>\n</tarn>\n", "address \"h/x:7001\" is not host:port"},
      {"noaddress", "<tarn>\n<server name=\"a\" position=\"own\"/>\n</tarn>\n", "server \"a\" has no address"},
  };
  for (const Case& c : cases) {
    const std::string path = scratch(c.name);
    if (c.content) std::ofstream(path) << c.content;
    ToolRun run = runTool("create tank.important AnalogPoint value=42", "", "TARN_SETTINGS=" + path);
    EXPECT_EQ(run.status, 1) << c.name << ": " << run.output;
    EXPECT_TRUE(has(run, "2036")) << c.name << ": " << run.output;
    EXPECT_TRUE(has(run, path + ": ")) << c.name << ": the file is named: " << run.output;
    EXPECT_TRUE(has(run, c.cause)) << c.name << ": " << run.output;
    EXPECT_FALSE(has(run, "created")) << c.name << ": written to a server that lives no longer than the command";
    std::remove(path.c_str());
  }
  expectRuns({{"points", 1, {"/tmp: is not a file"}}}, "TARN_SETTINGS=/tmp");
}

TEST(Configuration, SettingsOwnRefusesWhatItCannotStore) {
  const std::string broken = scratch("broken"), fresh = scratch("fresh");
  std::ofstream(broken) << "<tarn><server name=\"plant\"";
  expectRuns({{"settings own 127.0.0.1:7001", 1, {"no settings file"}}}, "TARN_SETTINGS=");
  expectRuns({{"settings own 127.0.0.1:7001", 1, {"was not changed"}}}, "TARN_SETTINGS=" + broken);
  EXPECT_EQ(read(broken), "<tarn><server name=\"plant\"") << "an unusable file is never overwritten";
  for (const char* address : {"127.0.0.1:0", "127.0.0.1:65536", "nohost", ":7001", "127.0.0.1:port", "plant/x:7001"})
    expectRuns({{std::string("settings own ") + address, 2, {"is not host:port"}}}, "TARN_SETTINGS=" + fresh);
  EXPECT_TRUE(read(fresh).empty()) << "nothing stored for a refused address";
  expectRuns({{"settings own 127.0.0.1:7001 127.0.0.1:7002 --name plant", 0, {"now at 127.0.0.1:7001 and 127.0.0.1:7002"}}},
             "TARN_SETTINGS=" + fresh);
  EXPECT_NE(read(fresh).find("second=\"127.0.0.1:7002\""), std::string::npos) << "a missing file is made";
  std::remove(broken.c_str());
  std::remove(fresh.c_str());
}

}  // namespace
