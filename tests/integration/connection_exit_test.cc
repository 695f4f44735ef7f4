// ExitOstrel ends the monitor thread for good. In an executable of its own: ExitOstrel ends ACE
// and the naming client, after which nothing else in the process can use the library.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST(ConnectionExitTest, NoScanRunsAfterExitOstrel) {
  unsetenv("TARN_SETTINGS");  // the embedded server "local" at own
  std::atomic<int> asked{0};
  // Every scan asks for the active server of each known server, through the slot.
  testing_support::SlotGuard<const char*(const char*)> counting(
      OstrelFunc::activeServer, [&asked](const char* server) {
        ++asked;
        return OstrelOrigin::activeServer(server);
      });

  ASSERT_EQ(Ostrel::ConnectTarn("local"), 0);
  const int afterConnect = asked;
  const auto deadline = std::chrono::steady_clock::now() + 8s;
  while (asked == afterConnect && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  ASSERT_GT(asked, afterConnect) << "the monitor thread never scanned";

  Ostrel::ExitOstrel();
  const int atExit = asked;
  std::this_thread::sleep_for(7s);  // more than one scan period
  EXPECT_EQ(asked, atExit) << "a scan ran after ExitOstrel";

  const auto start = std::chrono::steady_clock::now();
  Ostrel::ExitOstrel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "the second call returns at once";
  EXPECT_NE(kx_tarn_connect(nullptr), 0) << "nothing reaches the middleware after the exit";
}

}  // namespace
