// Library end. ExitOstrel ends ACE and the ORB for the process, so it has a test binary of its own.
#include <chrono>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"

TEST(Exit, SecondExitReturnsAtOnce) {
  ASSERT_EQ(0, kx_tarn_connect(nullptr)) << "the embedded server runs before the exit";
  Ostrel::ExitOstrel();
  const auto start = std::chrono::steady_clock::now();
  Ostrel::ExitOstrel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_NE(0, kx_tarn_connect(nullptr)) << "nothing reaches the middleware after the exit";
}
