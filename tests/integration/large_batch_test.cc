// Batches far above the ORB's default message limit travel whole over loopback: 10,000 points
// of 1 KiB created in one request and read back in one reply, byte for byte.
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

constexpr int kPoints = 10000;

TEST(LargeBatch, TenThousandKibibytePointsOverLoopback) {
  const std::string types = "/tmp/ostrel-large-types-" + std::to_string(::getpid()) + ".xml";
  std::ofstream(types) << "<types><type name=\"Block1K\" size=\"1024\">"
                          "<element name=\"id\" type=\"unsigned_int\" offset=\"0\"/>"
                          "<element name=\"data\" type=\"byte\" offset=\"4\" count=\"1020\"/>"
                          "</type></types>";
  TarndProcess server("bulk", freePort(), {"--types", types});
  ASSERT_TRUE(server.start());
  ScopedSettings settings({{"bulk", "own", {server.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("bulk"));

  std::vector<BrennicData> batch;
  batch.reserve(kPoints);
  for (int i = 0; i < kPoints; ++i) {
    batch.emplace_back("Block1K", 0);
    ASSERT_EQ(1024u, batch.back().GetBufferSize()) << "the type comes from the server's type service";
    batch.back().SetFullName(("block." + std::to_string(i)).c_str());
    batch.back().PutValue("id", static_cast<unsigned>(i));
    char* raw = batch.back().GetRawValue();
    for (int b = 4; b < 1024; ++b) raw[b] = static_cast<char>((i * 31 + b) & 0xFF);
  }
  ASSERT_EQ(0, Ostrel::CreateDataPoints(batch, "bulk", nullptr));

  std::vector<std::string> names;
  for (int i = 0; i < kPoints; ++i) names.push_back("block." + std::to_string(i));
  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::GetDataPointN(names, list, "bulk", nullptr));
  ASSERT_EQ(kPoints, list.count);
  for (int i = 0; i < kPoints; ++i) {
    ASSERT_STREQ(names[i].c_str(), list.items[i]->GetDataName());
    ASSERT_EQ(0, std::memcmp(batch[i].GetRawValue(), list.items[i]->GetRawValue(), 1024)) << i;
  }
  Ostrel::DestoryBrennicDataList(&list);
  Ostrel::DisConnectTarn("bulk");
  std::remove(types.c_str());
}

}  // namespace
