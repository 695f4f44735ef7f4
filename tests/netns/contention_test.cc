// Heartbeat contention between two hosts with names of their own, each a network namespace (and
// a UTS namespace for the name) with a cable that can be pulled; tarnd and this test on a third.
// Needs root; skipped with the reason otherwise.
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "tests/support/contenders.h"
#include "tests/support/network_lab.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kExpirySeconds = 3;
// The expiry, one beat and a listing poll, with room for a loaded machine.
constexpr auto kHandover = std::chrono::seconds(kExpirySeconds + 3);
const char* const kHostA = "cell-a";
const char* const kHostB = "cell-b";

bool becomes(const std::string& host, const std::string& role, std::chrono::milliseconds limit) {
  return eventually([&] { return contenderRole("plant", host, "pump") == role; }, limit);
}


TEST(NetnsContention, KilledOrCutOffActiveIsReplacedWithinTheExpiryAndAReturningOneStaysStandby) {
  if (const std::string why = NetworkLab::unavailable(); !why.empty()) GTEST_SKIP() << why;
  NetworkLab lab(3);
  if (!lab.runHere(0)) return;
  // Short bounds for this test and the contenders, so a beat into a pulled cable ends soon.
  setEnvironment("TARN_CALL_TIMEOUT_MS", "1000");
  setEnvironment("TARN_CONNECT_TIMEOUT_MS", "500");
  TarndProcess tarnd("plant", freePort(), {"--contender-expiry", std::to_string(kExpirySeconds), "--allow", NetworkLab::network()});
  tarnd.host = lab.address(0);
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});  // the contenders read it too
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));

  auto a = std::make_unique<Contender>(kHostA, lab.inside(1));
  ASSERT_TRUE(becomes(kHostA, "active", 10s)) << "the first contender is active";
  Contender b(kHostB, lab.inside(2));
  ASSERT_TRUE(becomes(kHostB, "standby", 10s));

  // Killed: no leave is sent; the other takes over once the registration expires.
  auto start = Clock::now();
  a->signal(SIGKILL);
  EXPECT_TRUE(becomes(kHostB, "active", kHandover)) << "no handover after a kill";
  printMeasured("role handed over after SIGKILL of the active contender", Clock::now() - start);

  a = std::make_unique<Contender>(kHostA, lab.inside(1));
  ASSERT_TRUE(becomes(kHostA, "standby", 10s)) << "the first returns as a standby";

  // Cut off: the active one beats on into a pulled cable; the other takes over.
  start = Clock::now();
  ASSERT_TRUE(lab.unplug(2));
  EXPECT_TRUE(becomes(kHostA, "active", kHandover)) << "no handover after the active one's cable was pulled";
  printMeasured("role handed over after the active contender's cable was pulled", Clock::now() - start);
  EXPECT_EQ("absent", contenderRole("plant", kHostB, "pump")) << "the silent one was dropped";

  // Back on the network it beats again, as a standby, and stays one while the other beats.
  ASSERT_TRUE(lab.plug(2));
  EXPECT_TRUE(becomes(kHostB, "standby", 10s)) << "the returning contender is not listed as a standby";
  std::this_thread::sleep_for(std::chrono::seconds(kExpirySeconds));
  EXPECT_EQ("active", contenderRole("plant", kHostA, "pump")) << "the role went back to the returning contender";
  EXPECT_EQ("standby", contenderRole("plant", kHostB, "pump"));
  Ostrel::DisConnectTarn("plant");
}

}  // namespace
