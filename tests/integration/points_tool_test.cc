// The data point commands of the ostrel tool, run as a person would: in one shell session on
// the embedded server, and against a tarnd named in the settings.

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::expectRuns;

TEST(PointsTool, StatusAndMessages) {
  expectRuns({
      {"shell", 2,  // the first failure: the refused field is a usage error
       {"created tank.level (AnalogPoint)", "value    double        3.25",
        "quality",  // the refused field is named
        "1 point match", "create tank.level: 2005", "deleted tank.level", "get tank.level: 2003",
        "east.only  (DigitalPoint)",  // the diverted realm holds the new point, the default one not
        "get east.only: 2003"},
       "create tank.level AnalogPoint value=2.5 unit=m\nput tank.level value=3.25\nget tank.level\n"
       "put tank.level quality=banana\nget tank.level\nquery AnalogPoint value=3.25\n"
       "create tank.level AnalogPoint\ndelete tank.level\nget tank.level\ndivert east\n"
       "create east.only DigitalPoint state=1\nget east.only\ndivert ''\nget east.only\n"},
      {"put", 2, {}},
      {"create onlyname", 2, {}},
      {"create x NoSuchType", 1, {}},
      {"get missing.point", 1, {}},
      {"points --server nowhere", 1, {}},
  });
}

TEST(PointsTool, WorksAgainstATarndOfTheSettings) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  expectRuns({{"create --realm east pump.7 PumpState running=1 speed.value=1450", 0, {}},
              {"get pump.7 --server plant --realm east", 0, {"speed.value", "1450"}},
              {"get pump.7", 1, {}}});  // the default realm does not hold it
}

}  // namespace
