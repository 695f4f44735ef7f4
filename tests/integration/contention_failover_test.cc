// Failover between two `ostrel contend` processes on two hosts, through tarnd. The second host
// is a UTS namespace of its own with its own host name (`unshare --uts`, which needs root);
// where that is not possible the test is skipped and says why.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/platform/host.h"
#include "tests/support/contenders.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr int kExpirySeconds = 3;
const char* const kOtherHost = "failover-b";

bool becomes(const std::string& host, const std::string& role, std::chrono::milliseconds limit) {
  return eventually([&] { return contenderRole("plant", host, "pump") == role; }, limit);
}

TEST(ContentionFailover, KilledActiveIsReplacedWithinTheExpiryAndReturnsAsStandby) {
  if (std::system("unshare --uts true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cannot make a second host here: `unshare --uts` needs root and namespaces";
  TarndProcess tarnd("plant", freePort(), {"--contender-expiry", std::to_string(kExpirySeconds)});
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});  // the children read it too
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  const std::string me = ostrel::platform::hostName();

  auto first = std::make_unique<Contender>("");
  ASSERT_TRUE(becomes(me, "active", 10s)) << "the first contender is active";
  Contender second(kOtherHost);
  ASSERT_TRUE(becomes(kOtherHost, "standby", 10s));

  first->signal(SIGKILL);  // no leave is sent
  EXPECT_TRUE(becomes(kOtherHost, "active", std::chrono::seconds(kExpirySeconds + 2)))
      << "the second takes over once the first's registration expires";

  first = std::make_unique<Contender>("");
  ASSERT_TRUE(becomes(me, "standby", 10s)) << "the first returns as a standby";
  std::this_thread::sleep_for(std::chrono::seconds(kExpirySeconds));
  EXPECT_EQ("active", contenderRole("plant", kOtherHost, "pump")) << "the active one keeps the role while it beats";

  second.signal(SIGINT);  // the tool leaves on Ctrl-C
  EXPECT_EQ("active", contenderRole("plant", me, "pump")) << "a leave hands the role over at once";
  EXPECT_EQ("absent", contenderRole("plant", kOtherHost, "pump"));
}

}  // namespace
