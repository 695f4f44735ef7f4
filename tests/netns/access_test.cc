// Who a tarnd on a network address serves: clients of the ranges --allow names, each host a
// network namespace of its own (tests/support/network_lab.h). Needs root; skipped otherwise.
#include <string>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "tests/support/network_lab.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;

// tarnd on host 0 serves host 1 (this test) and refuses host 2, whose create never runs.
TEST(NetnsAccess, OnlyClientsOfAnAllowedRangeAreServed) {
  if (const std::string why = NetworkLab::unavailable(); !why.empty()) GTEST_SKIP() << why;
  NetworkLab lab(3);
  if (!lab.runHere(1)) return;
  setEnvironment("TARN_CALL_TIMEOUT_MS", "2000");
  setEnvironment("TARN_CONNECT_TIMEOUT_MS", "1000");
  TarndProcess tarnd("plant", freePort(), {"--allow", lab.address(1) + "/32", "--allow", "fd00:77::/32"});
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
  Ostrel::DisConnectTarn("plant");
}

}  // namespace
