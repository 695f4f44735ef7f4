// The messaging commands of the ostrel tool, run as a person would: boxes, declares and listings
// in one shell session on the embedded server; request and reply, and a live monitor, between
// separate tool processes through a tarnd named in the settings.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using testing_support::runTool;
using Output = testing_support::ToolRun;

TEST(MessagingTool, BoxesDeclaresAndListingsInOneShell) {
  Output out = runTool("shell",
                       "box create alarms 7 --size 1\n"
                       "declare 7 Alarm text=overheat\n"
                       "declare 7 Alarm text=again\n"
                       "box count alarms\n"
                       "monitor alarms -n 1\n"
                       "box send alarms DigitalPoint state=1\n"
                       "box recv alarms -t DigitalPoint --timeout 0\n"
                       "port create cmds\n"
                       "persist cmds\n"
                       "persist nothing\n"
                       "channels\n"
                       "box delete alarms\n"
                       "box count alarms\n");
  EXPECT_TRUE(has(out, "created box alarms for code 7, 1 events")) << out.output;
  EXPECT_TRUE(has(out, "declare 7: 2019")) << "the full box refuses: " << out.output;
  EXPECT_TRUE(has(out, "== alarms  Alarm")) << out.output;
  EXPECT_TRUE(has(out, "\"overheat\"")) << out.output;
  EXPECT_TRUE(has(out, "state    byte          1")) << out.output;
  EXPECT_TRUE(has(out, "cmds is persistent")) << out.output;
  EXPECT_TRUE(has(out, "persist nothing: 2003")) << out.output;
  EXPECT_TRUE(has(out, "alarms\ncmds\n")) << out.output;
  EXPECT_TRUE(has(out, "box count alarms: 2003")) << out.output;
}

TEST(MessagingTool, UsageErrorsAndFailuresHaveTheirStatus) {
  EXPECT_EQ(2, runTool("box").status);
  EXPECT_EQ(2, runTool("port send onlyname").status);
  EXPECT_EQ(2, runTool("declare 7 AnalogPoint value=banana").status);
  EXPECT_EQ(1, runTool("declare 7 NoSuchType").status);
  EXPECT_EQ(1, runTool("port recv missing --timeout 0").status);
  EXPECT_EQ(1, runTool("channels --server nowhere").status);
}

TEST(MessagingTool, RequestReplyAndMonitorAcrossProcesses) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  const std::string settings = "/tmp/ostrel-messaging-settings-" + std::to_string(::getpid()) + ".xml";
  std::ofstream(settings) << "<tarn><server name=\"plant\" position=\"own\" first=\"" << server.address()
                          << "\"/></tarn>";
  const std::string env = "TARN_SETTINGS=" + settings;
  ASSERT_EQ(0, runTool("port create cmds", "", env).status);
  ASSERT_EQ(0, runTool("box create feed 9", "", env).status);

  auto sender = std::async(std::launch::async, [&] { return runTool("port send cmds AnalogPoint value=3 --wait 20000", "", env); });
  Output received = runTool("port recv cmds -t AnalogPoint --timeout 20000", "", env);
  ASSERT_EQ(0, received.status) << received.output;
  std::smatch handle;
  ASSERT_TRUE(std::regex_search(received.output, handle, std::regex("reply handle ([0-9]+)"))) << received.output;
  EXPECT_TRUE(has(received, "value    double        3")) << received.output;
  Output replied = runTool("port reply " + handle[1].str() + " AnalogPoint value=6 unit=ok", "", env);
  EXPECT_EQ(0, replied.status) << replied.output;
  Output sent = sender.get();
  EXPECT_EQ(0, sent.status) << sent.output;
  EXPECT_TRUE(has(sent, "reply:\nELEMENT")) << sent.output;
  EXPECT_TRUE(has(sent, "\"ok\"")) << sent.output;

  auto monitor = std::async(std::launch::async, [&] { return runTool("monitor feed -n 2", "", env); });
  // The monitor shows events that arrive after it started as well as those already queued.
  EXPECT_EQ(0, runTool("declare 9 AnalogPoint value=1.5", "", env).status);
  EXPECT_EQ(0, runTool("declare 9 DigitalPoint state=1", "", env).status);
  ASSERT_EQ(std::future_status::ready, monitor.wait_for(std::chrono::seconds(30)));
  Output watched = monitor.get();
  EXPECT_EQ(0, watched.status) << watched.output;
  EXPECT_TRUE(has(watched, "== feed  AnalogPoint")) << watched.output;
  EXPECT_TRUE(has(watched, "== feed  DigitalPoint")) << watched.output;
  Output listed = runTool("connections", "", env);
  EXPECT_TRUE(has(listed, "HANDLE")) << listed.output;
  std::remove(settings.c_str());
}

}  // namespace
