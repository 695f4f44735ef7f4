#include "tests/support/each_server.h"

#include "ostrel/api/ostrel.h"

namespace testing_support {

void OnEachServer::SetUp() {
  if (GetParam()) {
    tarnd.reset(new TarndProcess("plant", freePort(), tarndArgs));
    ASSERT_TRUE(tarnd->start()) << "tarnd did not come up";
    settings.reset(new ScopedSettings({{"plant", "own", {tarnd->address()}}}));
    server = "plant";
  }
  ASSERT_EQ(0, Ostrel::ConnectTarn(server));
}

void OnEachServer::TearDown() {
  clearFaults(server);
  Ostrel::DisConnectTarn(server);
}

std::string serverName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "tarnd" : "embedded"; }

}  // namespace testing_support
