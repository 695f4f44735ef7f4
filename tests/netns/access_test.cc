// Who a tarnd on a network address serves: clients of the ranges --allow names, each host a
// network namespace of its own (tests/support/network_lab.h). Needs root; skipped otherwise.
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "tests/support/network_lab.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;

// tarnd on host 0 serves host 1 (this test) and refuses host 2, whose create never runs; host 3
// is served too, and may only read (its rights by its address).
TEST(NetnsAccess, OnlyClientsOfAnAllowedRangeAreServed) {
  if (const std::string why = NetworkLab::unavailable(); !why.empty()) GTEST_SKIP() << why;
  NetworkLab lab(4);
  if (!lab.runHere(1)) return;
  setEnvironment("TARN_CALL_TIMEOUT_MS", "2000");
  setEnvironment("TARN_CONNECT_TIMEOUT_MS", "1000");
  const std::string rights = scratchPath("netns-rights-" + std::to_string(processId()) + ".txt");
  std::ofstream(rights) << lab.address(3) << " * read\n" << NetworkLab::network() << " * admin\n";
  TarndProcess tarnd("plant", freePort(),
                     {"--allow", lab.address(1) + "/32", "--allow", "fd00:77::/32", "--allow", lab.address(3),
                      "--rights", rights});
  tarnd.host = lab.address(0);
  tarnd.launcher = lab.inside(0);
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  BrennicData value("AnalogPoint", 0);
  EXPECT_EQ(0, Ostrel::CreateDataPoint("from.allowed", value, "plant", nullptr)) << "host 1 is in the range";

  const std::string fromHost2 = "ip netns exec " + lab.ns(2);
  const ToolRun refused = runTool("create from.refused AnalogPoint -s plant", "", fromHost2);
  EXPECT_NE(0, refused.status) << refused.output;
  const ToolRun served = runTool("points -s plant", "", "ip netns exec " + lab.ns(1));
  EXPECT_EQ(0, served.status) << served.output;
  EXPECT_TRUE(has(served, "from.allowed")) << served.output;
  EXPECT_FALSE(has(served, "from.refused")) << "the refused client's call ran:\n" << served.output;

  const std::string fromHost3 = "ip netns exec " + lab.ns(3);
  const ToolRun readOnly = runTool("create from.reader AnalogPoint -s plant", "", fromHost3);
  EXPECT_EQ(1, readOnly.status) << readOnly.output;
  EXPECT_TRUE(has(readOnly, "2026")) << readOnly.output;
  const ToolRun reads = runTool("points -s plant", "", fromHost3);
  EXPECT_EQ(0, reads.status) << reads.output;
  EXPECT_TRUE(has(reads, "from.allowed")) << reads.output;
  std::remove(rights.c_str());
  Ostrel::DisConnectTarn("plant");
}

}  // namespace
