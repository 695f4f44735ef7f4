// ostrel contend and contenders: usage errors exit 2, failed operations 1. Their normal runs are
// exercised by the failover test, which drives two `ostrel contend` processes.
#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

TEST(ContentionTool, StatusAndMessages) {
  testing_support::expectRuns({{"contend", 2, {"NAME is required"}},
                               {"contend pump --period -1", 2, {"--period"}},
                               {"contend pump --record NoSuchType", 2, {"unknown data type 'NoSuchType'"}},
                               {"contend pump --record AnalogPoint nosuchfield=1", 2, {"nosuchfield"}},
                               // the record form takes neither: refused, not silently dropped
                               {"contend pump --period 1 --record AnalogPoint", 2, {"--period and --module cannot"}},
                               {"contend pump --module m --record AnalogPoint", 2, {"--period and --module cannot"}},
                               {"contenders --json", 0, {"[]\n"}},
                               {"contenders --server nowhere", 1, {"2001"}},
                               {"contenders", 0, {"(no contenders)"}},
                               {"contenders --help", 0, {"--watch"}}},
                              "env -u TARN_SETTINGS");
}

}  // namespace
