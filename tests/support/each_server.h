// A test fixture that runs every test once on the embedded server ("local") and once on a
// tarnd process ("plant", started with `tarndArgs`) named as the own server in a settings file.
// SetUp connects the server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

namespace testing_support {

class OnEachServer : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A name no other test in this process has used, on either server.
  static std::string unique(const char* base) { return std::string(base) + "." + std::to_string(++counter_); }

  const char* server = "local";
  std::vector<std::string> tarndArgs;
  std::unique_ptr<TarndProcess> tarnd;
  std::unique_ptr<ScopedSettings> settings;

 private:
  static inline int counter_ = 0;
};

// An AnalogPoint record of these values.
inline BrennicData analog(double value, const char* unit = "", unsigned quality = 0) {
  BrennicData record("AnalogPoint", 0);
  record.PutValue("value", value);
  record.PutValue("quality", quality);
  record.PutValue("unit", unit);
  return record;
}

// Names the two runs "embedded" and "tarnd".
std::string serverName(const ::testing::TestParamInfo<bool>& info);

}  // namespace testing_support

#if defined(_WIN32)
// The Windows build has no embedded server: the tarnd run only.
#define OSTREL_ON_EACH_SERVER(Fixture) \
  INSTANTIATE_TEST_SUITE_P(Servers, Fixture, ::testing::Values(true), ::testing_support::serverName)
#else
#define OSTREL_ON_EACH_SERVER(Fixture) \
  INSTANTIATE_TEST_SUITE_P(Servers, Fixture, ::testing::Values(false, true), ::testing_support::serverName)
#endif
