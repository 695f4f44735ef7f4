#include "ostrel/platform/clock.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using ostrel::platform::localTime;
using ostrel::platform::nowSeconds;
using ostrel::platform::nowSeconds32;
using ostrel::platform::sleepMilliseconds;
using ostrel::platform::systemSeconds;

TEST(ClockTest, TheClocksAgreeInSecondsSince1970) {
  const std::int64_t before = nowSeconds();
  const std::int64_t system = systemSeconds();
  const std::int64_t after = nowSeconds();
  EXPECT_GT(before, 1600000000) << "a time after September 2020";
  EXPECT_LE(before - 1, system) << "the heartbeat clock and the C run-time clock are the same clock";
  EXPECT_LE(system, after + 1);
  EXPECT_NEAR(static_cast<double>(std::time(nullptr)), static_cast<double>(system), 1.0);

  // The 32-bit form is the low half of the 64-bit clock (read twice in case a second ticks).
  std::int32_t narrow = 0;
  std::int64_t wide = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    wide = nowSeconds();
    narrow = nowSeconds32();
    if (nowSeconds() == wide) break;
  }
  EXPECT_EQ(static_cast<std::uint32_t>(wide & 0xffffffff), static_cast<std::uint32_t>(narrow));
}

TEST(ClockTest, LocalTimeSplitsTheSecondsBothSidesOf2038) {
  // 2001-09-09 01:46:40 and 2100-01-01 12:00:00 UTC: the same year in every time zone.
  struct Case { std::int64_t seconds; int year; };
  for (const Case& c : {Case{1000000000, 101}, Case{4102488000, 200}}) {
    const std::int64_t seconds = c.seconds;
    std::tm split{};
    ASSERT_TRUE(localTime(seconds, &split)) << seconds;
    EXPECT_EQ(c.year, split.tm_year) << seconds;
    std::tm copy = split;
    EXPECT_EQ(seconds, static_cast<std::int64_t>(std::mktime(&copy))) << "mktime turns it back";
  }
  EXPECT_FALSE(localTime(0, nullptr));
#if defined(_WIN32)
  // The C run-time refuses times before 1970: the result says so and leaves the output alone.
  std::tm untouched;
  std::memset(&untouched, 0x5a, sizeof untouched);
  EXPECT_FALSE(localTime(-86400 * 2, &untouched));
  EXPECT_EQ(0x5a5a5a5a, untouched.tm_year);
#endif
}

TEST(ClockTest, SleepWaitsAtLeastItsTimeAndNothingForNone) {
  auto start = std::chrono::steady_clock::now();
  sleepMilliseconds(60);
  // Windows timers tick in steps of up to about 16 ms, and a wait may end a tick early.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms - 16ms);
  start = std::chrono::steady_clock::now();
  sleepMilliseconds(0);
  sleepMilliseconds(-5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20ms);
}

}  // namespace
