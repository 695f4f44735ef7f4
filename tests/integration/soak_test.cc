// A soak against tarnd --data: writers and readers run while the server is killed five times and
// frozen once. At the end every point holds at least the last value acknowledged for it (nothing
// acknowledged is lost), no call waited longer than its bounds allow, listeners heard every long
// outage as down and then up, and ExitOstrel returns promptly even with the server frozen.
//
// OSTREL_SOAK_SECONDS stretches the run (default 60 s, the length of the built-in outage plan).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "tests/connection/recording_listener.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::freePort;
using testing_support::ScopedSettings;
using testing_support::TarndProcess;

constexpr int kCallTimeOutMs = 2000;
// A data point call makes at most a service lookup (a ping of 1 s and one call) and the call
// itself, each bounded by the call time-out.
constexpr auto kCallBound = std::chrono::milliseconds(1000 + 2 * kCallTimeOutMs) + 1500ms;
constexpr auto kOneScan = 9s;  // a monitor scan at most 6.5 s after the last, plus the naming client's ping

struct Outage {
  Clock::time_point from, to;
};

TEST(Soak, NothingAcknowledgedIsLostAndNoCallOutlastsItsBound) {
  const int seconds = std::getenv("OSTREL_SOAK_SECONDS") ? std::atoi(std::getenv("OSTREL_SOAK_SECONDS")) : 60;
  char folder[] = "/tmp/ostrel_soak.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("TARN_CALL_TIMEOUT_MS", std::to_string(kCallTimeOutMs).c_str(), 1);
  TarndProcess plant("plant", freePort(), {"--data", folder});
  ASSERT_TRUE(plant.start());
  ScopedSettings settings({{"plant", "own", {plant.address()}}});
  ASSERT_EQ(Ostrel::ConnectTarn("plant"), 0);
  testing_support::RecordingListener listener;
  Ostrel::InstallListener(listener);

  constexpr int kWriters = 4, kPointsEach = 4;
  auto pointName = [](int writer, int i) { return "soak." + std::to_string(writer) + "." + std::to_string(i); };
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kPointsEach; ++i)
      ASSERT_EQ(Ostrel::CreateDataPoint(pointName(w, i).c_str(), "AnalogPoint", "plant", nullptr), 0);

  std::atomic<bool> stop{false};
  std::mutex slowestMutex;
  Clock::duration slowest{};
  auto timed = [&](auto&& call) {
    const auto start = Clock::now();
    const int rc = call();
    const auto took = Clock::now() - start;
    std::lock_guard<std::mutex> hold(slowestMutex);
    slowest = std::max(slowest, took);
    return rc;
  };
  // acknowledged[w][i]: the last value the server answered 0 for; attempted: the last sent.
  std::vector<std::vector<unsigned>> acknowledged(kWriters, std::vector<unsigned>(kPointsEach, 0));
  std::vector<std::vector<unsigned>> attempted = acknowledged;
  std::atomic<long> writes{0}, reads{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w)
    threads.emplace_back([&, w] {
      BrennicData record("AnalogPoint", 0);
      for (unsigned n = 1; !stop; ++n) {
        const int i = static_cast<int>(n % kPointsEach);
        record.PutValue("quality", n);
        attempted[w][i] = n;
        if (timed([&] { return Ostrel::PutDataPoint(pointName(w, i).c_str(), record, "plant", nullptr); }) == 0) {
          acknowledged[w][i] = n;
          ++writes;
        } else {
          std::this_thread::sleep_for(50ms);
        }
      }
    });
  for (int r = 0; r < 2; ++r)
    threads.emplace_back([&, r] {
      BrennicData record("AnalogPoint", 0);
      for (int n = r; !stop; ++n) {
        if (timed([&] { return Ostrel::GetDataPoint(pointName(n % kWriters, n % kPointsEach).c_str(), record, "plant", nullptr); }) == 0)
          ++reads;
        else
          std::this_thread::sleep_for(50ms);
      }
    });

  // Five kills (one of them long enough for a scan to see it) and one freeze of 15 s.
  std::vector<Outage> longOutages;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  const std::chrono::milliseconds downs[] = {1500ms, 9000ms, 500ms, 2000ms, 1000ms};
  for (int round = 0; round < 6; ++round) {
    std::this_thread::sleep_for(3s);
    if (round == 1 || round == 3) {
      // A scan that fell into the short outage before may have announced it; a long outage is
      // news only once its return was heard.
      for (const auto settle = Clock::now() + kOneScan; Clock::now() < settle; std::this_thread::sleep_for(100ms)) {
        const auto events = listener.events();
        if (events.empty() || events.back().connected) break;
      }
    }
    const auto from = Clock::now();
    if (round == 3) {
      ::kill(plant.pid(), SIGSTOP);
      std::this_thread::sleep_for(15s);
      ::kill(plant.pid(), SIGCONT);
    } else {
      plant.kill();
      std::this_thread::sleep_for(downs[round < 3 ? round : round - 1]);
      ASSERT_TRUE(plant.start()) << "tarnd did not come back with its journal";
    }
    // The long kill and the freeze; a short kill stays short even when a loaded machine makes
    // tarnd's restart slow.
    if (round == 1 || round == 3) {
      longOutages.push_back({from, Clock::now()});
      std::this_thread::sleep_for(kOneScan);  // the return is heard before the next outage
    }
  }
  std::this_thread::sleep_until(std::max(end, Clock::now() + kOneScan));
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_GT(writes.load(), 100) << "the writers made progress";
  EXPECT_GT(reads.load(), 100) << "the readers made progress";
  EXPECT_LE(slowest, kCallBound) << "a call outlasted its bounds: "
                                 << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms";
  ASSERT_EQ(longOutages.size(), 2u);
  for (const Outage& outage : longOutages) {
    const char* what = &outage == &longOutages[0] ? "the long kill" : "the freeze";
    // A scan that pinged the frozen server may finish, and announce, just after it woke.
    EXPECT_TRUE(listener.heard(false, outage.from, outage.to + kOneScan)) << what << " went unheard";
    EXPECT_TRUE(listener.heard(true, outage.to, outage.to + kOneScan)) << "the return after " << what << " went unheard";
  }

  // Nothing acknowledged is lost; a value newer than the last acknowledged one may be there when
  // its answer was lost in a kill.
  ASSERT_EQ(Ostrel::IsConnect("plant"), 0);
  BrennicData record("AnalogPoint", 0);
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kPointsEach; ++i) {
      ASSERT_EQ(Ostrel::GetDataPoint(pointName(w, i).c_str(), record, "plant", nullptr), 0);
      const unsigned held = record.GetUnSignedIntValue("quality");
      EXPECT_GE(held, acknowledged[w][i]) << pointName(w, i) << " lost an acknowledged write";
      EXPECT_LE(held, attempted[w][i]) << pointName(w, i);
    }
  Ostrel::RemoveListener(listener);

  // The end of the library does not wait for a frozen server.
  ::kill(plant.pid(), SIGSTOP);
  const auto exitStart = Clock::now();
  Ostrel::ExitOstrel();
  EXPECT_LE(Clock::now() - exitStart, 4s) << "ExitOstrel waited on the frozen server";
  ::kill(plant.pid(), SIGCONT);
  std::system((std::string("rm -rf ") + folder).c_str());
}

}  // namespace
