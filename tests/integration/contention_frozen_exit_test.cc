// ExitOstrel with heartbeat tasks on a server that stopped answering (SIGSTOP) returns within
// its bound: a beat in flight and each task's leave give up instead of waiting for the call
// bound. In an executable of its own: ExitOstrel ends the library for the whole process.
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/redundancy/dispatcher_contender.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(ContentionFrozenExit, ExitOnAFrozenServerReturnsWithinItsBound) {
  TarndProcess tarnd("plant", freePort());
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  for (int i = 0; i < 8; ++i)
    ASSERT_TRUE(Ostrel::ContendHeartBit(("task" + std::to_string(i)).c_str(), "m", 1, "plant", nullptr));
  std::this_thread::sleep_for(1200ms);  // every task registered and beating
  ASSERT_EQ(0, ::kill(tarnd.pid(), SIGSTOP));
  std::this_thread::sleep_for(1200ms);  // beats in flight on the frozen server

  const auto start = std::chrono::steady_clock::now();
  Ostrel::ExitOstrel();
  const auto took = std::chrono::steady_clock::now() - start;
  ::kill(tarnd.pid(), SIGCONT);
  EXPECT_LT(took, 3s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  EXPECT_EQ(0u, DispatcherContender::instance()->count(nullptr));
}

}  // namespace
