// The messaging commands of the ostrel tool, in one shell and across tool processes.
#include <chrono>
#include <future>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::has;
using testing_support::kEmbeddedServer;
using testing_support::runTool;
using Output = testing_support::ToolRun;


TEST(MessagingTool, StatusAndMessages) {
  testing_support::expectRuns({
      {"shell", 1,  // the first failure: the full box
       {"created box alarms for code 7, 1 events", "declare 7: 2019",  // the full box refuses
        "== alarms  Alarm", "\"overheat\"", "state    byte          1", "cmds is persistent",
        "persist nothing: 2003", "alarms\ncmds\n", "box count alarms: 2003",
        // one rendering for monitor and box recv: a bare event as its bytes, a self-describing
        // one decoded whoever receives it
        "32 bytes:\n  00 00 00 00 00 00 f8 3f", "== feed  DigitalPoint  (received ",
        "32 bytes:\n  00 00 00 00 00 00 04 40", "== feed  Alarm  (received "},
       "box create alarms 7 --size 1\ndeclare 7 Alarm text=overheat\ndeclare 7 Alarm text=again\n"
       "box count alarms\nmonitor alarms -n 1\nbox send alarms DigitalPoint state=1\n"
       "box recv alarms -t DigitalPoint --timeout 0\nport create cmds\npersist cmds\npersist nothing\n"
       "channels\nbox delete alarms\nbox count alarms\n"
       "box create feed 9\ndeclare 9 AnalogPoint value=1.5 --typed\ndeclare 9 DigitalPoint state=1\nmonitor feed -n 2\n"
       "declare 9 AnalogPoint value=2.5 --typed\ndeclare 9 Alarm text=hot\nbox recv feed -n 5 --timeout 0\n"},
      {"box", 2, {}},
      {"port send onlyname", 2, {}},
      {"declare 7 AnalogPoint value=banana", 2, {}},
      {"declare 7 NoSuchType", 1, {}},
      {"port recv missing --timeout 0", 1, {}},
      {"channels --server nowhere", 1, {}},
      // the server's own delete: an empty realm goes, one with a channel stays, the default stays
      {"shell", 1, {"deleted realm spare", "realm delete busy: 2023", "realm delete : 2010"},
       "channels -r spare\nrealm delete spare\nport create p -r busy\nrealm delete busy\nrealm delete ''\n"},
      {"realm", 2, {}},
      {"realm delete", 2, {"NAME"}},
      // peek looks and takes nothing: twice the same events, the count unchanged, then a receive
      // takes the first; positions count from the front, and a value of another size is raw
      {"shell", 0,
       {"feed holds 2 events; positions 0 to 1:\n== feed #0  AnalogPoint\nELEMENT",
        "== feed #1  raw\n16 bytes:\n  01 00", "feed holds 2 events; positions 0 to 1:\n== feed #0  AnalogPoint", "\n2\n",
        "== feed  AnalogPoint  (received ", "feed holds 1 event; positions 0 to 0:\n== feed #0  raw",
        "(16 bytes, not a AnalogPoint (32 bytes))",
        "{\"channel\": \"feed\", \"kind\": \"box\", \"held\": 2, \"from\": 1, \"values\": [{\"position\": 1, \"name\": \"\","
        " \"type\": null, \"fields\": {}, \"hex\": \"01000000",
        "cmds holds 1 packet; positions 0 to 0:\n== cmds #0  DigitalPoint", "cmds holds 1 packet; none from position 3"},
       "box create feed 9\ndeclare 9 AnalogPoint value=1.5\nbox send feed DigitalPoint state=1\nbox peek feed\n"
       "box peek feed --from 1 --json\nbox peek feed\nbox count feed\nbox recv feed --timeout 0\n"
       "box peek feed -t AnalogPoint\nport create cmds\nport send cmds DigitalPoint state=1\n"
       "port peek cmds -t DigitalPoint\nport peek cmds --from 3\n"},
      {"shell", 1, {"box peek nothing: 2003", "port peek feed: 2003"},
       "box create feed 9\nport peek feed\nbox peek nothing\n"},
      // monitor --type shows an event of another size raw, says so, and goes on; what is
      // received carries the time it came
      {"shell", 0,
       {"== feed  raw  (received ", "(16 bytes, not a AnalogPoint (32 bytes))", "== feed  AnalogPoint  (received ",
        "value    double        2.5"},
       "box create feed 9\ndeclare 9 DigitalPoint state=1 --typed\ndeclare 9 AnalogPoint value=2.5 --typed\n"
       "monitor feed -t AnalogPoint -n 2\n"},
      {"box peek feed --count 0", 2, {"--count"}},
      {"box peek feed --count 1001", 2, {"--count"}},
      {"box peek", 2, {"NAME"}},
  }, kEmbeddedServer);
}

TEST(MessagingTool, RequestReplyAndMonitorAcrossProcesses) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  testing_support::expectRuns({{"port create cmds", 0, {}}, {"box create feed 9", 0, {}}});

  auto sender = std::async(std::launch::async, [&] { return runTool("port send cmds AnalogPoint value=3 --wait 20000"); });
  Output received = runTool("port recv cmds -t AnalogPoint --timeout 20000");
  ASSERT_EQ(0, received.status) << received.output;
  std::smatch handle;
  ASSERT_TRUE(std::regex_search(received.output, handle, std::regex("reply handle ([0-9]+)"))) << received.output;
  EXPECT_TRUE(has(received, "value    double        3")) << received.output;
  testing_support::expectRuns({{"port reply " + handle[1].str() + " AnalogPoint value=6 unit=ok", 0, {}}});
  Output sent = sender.get();
  EXPECT_EQ(0, sent.status) << sent.output;
  EXPECT_TRUE(has(sent, "== reply  AnalogPoint\nELEMENT")) << sent.output;
  EXPECT_TRUE(has(sent, "\"ok\"")) << sent.output;

  auto monitor = std::async(std::launch::async, [&] { return runTool("monitor feed -n 2"); });
  // The monitor shows events that arrive after it started as well as those already queued.
  testing_support::expectRuns({{"declare 9 AnalogPoint value=1.5", 0, {}}, {"declare 9 DigitalPoint state=1", 0, {}}});
  ASSERT_EQ(std::future_status::ready, monitor.wait_for(std::chrono::seconds(30)));
  Output watched = monitor.get();
  EXPECT_EQ(0, watched.status) << watched.output;
  EXPECT_TRUE(has(watched, "== feed  AnalogPoint") && has(watched, "== feed  DigitalPoint")) << watched.output;
  EXPECT_TRUE(has(runTool("connections"), "HANDLE"));

  // One-shot commands close what they opened: a send, a receive that timed out, a box receive.
  testing_support::expectRuns({{"port send cmds AnalogPoint value=1", 0, {}},
                               {"port recv cmds --timeout 0", 0, {}},
                               {"port recv cmds --timeout 0", 1, {"2008"}},
                               {"box recv feed --timeout 0", 1, {"2008"}},
                               // A packet too short for the type stays for every typed receiver; the
                               // message says how to take it.
                               {"port send cmds DigitalPoint state=1", 0, {}},
                               {"port recv cmds -t AnalogPoint --timeout 0", 1, {"2012", "without --type takes it"}},
                               {"port recv cmds --timeout 0", 0, {"== cmds  raw"}}});
  testing_support::expectRuns({{"connections --json", 0, {"[]\n"}}});
  auto json = std::async(std::launch::async, [&] { return runTool("monitor feed -n 1 --json"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  testing_support::expectRuns({{"declare 9 AnalogPoint value=4.5", 0, {}}});
  Output line = json.get();
  EXPECT_TRUE(has(line, "{\"box\": \"feed\", \"name\": \"\", \"type\": \"AnalogPoint\", \"fields\": {\"value\": 4.5,"))
      << line.output;
}

}  // namespace
