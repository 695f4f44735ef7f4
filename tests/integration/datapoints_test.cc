// Data point operations end to end, on the embedded server and on tarnd.
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "tests/support/each_server.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

class DataPoints : public OnEachServer {
 protected:
  void TearDown() override {
    for (const std::string& name : allPoints()) Ostrel::DeleteDataPoint(name.c_str(), server, nullptr);
    OnEachServer::TearDown();
  }
  std::vector<std::string> allPoints() {
    ObjectNames n;
    return takeNames(Ostrel::GetAllPointName(&n, server, nullptr), n);
  }
  std::vector<std::string> pointsOf(const char* type) {
    ObjectNames n;
    return takeNames(Ostrel::GetAllPointNameByType(&n, type, server, nullptr), n);
  }
};

TEST_P(DataPoints, CreateWriteReadBackByteForByte) {
  const std::string name = unique("flow");
  BrennicData value = analog(12.5, "m3/h", 192);
  ASSERT_EQ(0, Ostrel::CreateDataPoint(name.c_str(), value, server, nullptr));
  EXPECT_EQ(2005, Ostrel::CreateDataPoint(name.c_str(), value, server, nullptr)) << "an existing name is refused";
  BrennicData written = analog(-3.25, "bar");
  ASSERT_EQ(0, Ostrel::PutDataPoint(name.c_str(), written, server, nullptr));
  BrennicData untyped;
  ASSERT_EQ(0, Ostrel::GetDataPoint(name.c_str(), untyped, server, nullptr));
  ASSERT_STREQ("AnalogPoint", untyped.GetTypeName()) << "an untyped record takes the point's type";
  EXPECT_STREQ(name.c_str(), untyped.GetDataName());
  ASSERT_EQ(written.GetBufferSize(), untyped.GetBufferSize());
  EXPECT_EQ(0, std::memcmp(written.GetRawValue(), untyped.GetRawValue(), written.GetBufferSize()));
}

// A record without a block, or with one shorter than its type, is never read or written past it.
TEST_P(DataPoints, RefusedWritesChangeNothing) {
  const std::string name = unique("level");
  ASSERT_EQ(0, Ostrel::CreateDataPoint(name.c_str(), "AnalogPoint", server, nullptr));
  BrennicData wrongType("DigitalPoint", 0);
  EXPECT_EQ(2006, Ostrel::PutDataPoint(name.c_str(), wrongType, server, nullptr)) << "size mismatch refused";
  EXPECT_EQ(2003, Ostrel::PutDataPoint("no.such.point", analog(1, "", 1), server, nullptr));
  EXPECT_EQ(2010, Ostrel::PutDataPoint(nullptr, analog(1, "", 1), server, nullptr)) << "a null name is refused";
  BrennicData typed("AnalogPoint", 0);
  EXPECT_EQ(2010, Ostrel::GetDataPoint(nullptr, typed, server, nullptr));

  char four[4] = {1, 2, 3, 4};
  BrennicData empty, shortBlock, noBlock;
  shortBlock.SetRawValue(four, 4);
  ASSERT_EQ(0, shortBlock.CastType("AnalogPoint"));
  ASSERT_EQ(0, noBlock.CastType("AnalogPoint"));
  for (BrennicData* bad : {&empty, &shortBlock, &noBlock}) {
    SCOPED_TRACE(bad == &empty ? "empty" : bad == &noBlock ? "typed, no block" : "typed, 4-byte block");
    if (bad != &empty) {  // an untyped record takes the point's type instead
      EXPECT_EQ(3014, Ostrel::GetDataPoint(name.c_str(), *bad, server, nullptr));
    }
    EXPECT_EQ(3014, Ostrel::PutDataPoint(name.c_str(), *bad, server, nullptr));
    EXPECT_EQ(3014, Ostrel::CreateDataPoint(unique("never").c_str(), *bad, server, nullptr));
    bad->SetFullName(unique("never").c_str());
    EXPECT_EQ(3014, Ostrel::CreateDataPoints(std::vector<BrennicData*>{bad}, server, nullptr));
    EXPECT_EQ(3014, Ostrel::CreateDataPoints(std::vector<BrennicData>{*bad}, server, nullptr));
  }
  EXPECT_EQ(0, std::memcmp("\1\2\3\4", shortBlock.GetRawValue(), 4)) << "the block is untouched";

  BrennicData back("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::GetDataPoint(name.c_str(), back, server, nullptr));
  EXPECT_TRUE(back.IsNull()) << "the point keeps its zero value";
  EXPECT_EQ(1u, allPoints().size()) << "nothing was created";
}

TEST_P(DataPoints, ADivertedRealmIsTheRealmOfEveryOperation) {
  struct Undivert {
    const char* server;
    ~Undivert() { Ostrel::DivertReleam(server, ""); }
  } undivert{server};
  const std::string name = unique("level");
  BrennicData value = analog(1, "kW", 1);
  ASSERT_EQ(0, Ostrel::CreateDataPoint(name.c_str(), value, server, ""));
  ASSERT_EQ(0, Ostrel::DivertReleam(server, "diverted"));

  ASSERT_EQ(0, Ostrel::CreateDataPoint(name.c_str(), "AnalogPoint", server, nullptr));
  std::vector<BrennicData> more = {analog(2, "kW", 2)};
  more[0].SetFullName(unique("more").c_str());
  ASSERT_EQ(0, Ostrel::CreateDataPoints(more, server, nullptr));
  const std::string spare = unique("spare");
  ASSERT_EQ(0, Ostrel::CreateDataPoint(spare.c_str(), "DigitalPoint", server, nullptr));

  BrennicPartialData update("AnalogPoint", 0);
  update.SetFullName(name.c_str());
  update.PutValue("value", 7.5);
  EXPECT_EQ(0, Ostrel::PutPartialDataPoint(name.c_str(), update, server, nullptr));
  EXPECT_EQ(0, Ostrel::PutPartialDataPoints(std::vector<BrennicPartialData>{update}, server, nullptr));
  BrennicData original("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::GetDataPoint(name.c_str(), original, server, ""));
  EXPECT_EQ(1.0, original.GetDoubleValue("value")) << "the default realm's point of that name is untouched";

  BrennicDataList list;
  EXPECT_EQ(0, Ostrel::GetDataPointN(std::vector<std::string>{name}, list, server, nullptr));
  ASSERT_EQ(1, list.count);
  EXPECT_EQ(7.5, list.items[0]->GetDoubleValue("value"));
  Ostrel::DestoryBrennicDataList(&list);  // the caller releases a list before it is filled again
  EXPECT_EQ(0, Ostrel::GetDataPointByTypeName("AnalogPoint", list, server, nullptr));
  EXPECT_EQ(2, list.count);
  Ostrel::DestoryBrennicDataList(&list);
  BrennicPartialData filter("AnalogPoint", 0);
  filter.PutValue("value", 7.5);
  char type[] = "AnalogPoint";
  EXPECT_EQ(0, Ostrel::QueryDataPoint(filter, type, list, server, nullptr));
  EXPECT_EQ(1, list.count);
  Ostrel::DestoryBrennicDataList(&list);

  ObjectNames names;
  EXPECT_EQ(3u, allPoints().size());
  EXPECT_EQ(2u, pointsOf("AnalogPoint").size());
  EXPECT_EQ(std::vector<std::string>{spare}, takeNames(Ostrel::CheckNullData(&names, server, nullptr), names));
  for (const std::string& point : {name, std::string(more[0].GetDataName()), spare})
    EXPECT_EQ(0, Ostrel::DeleteDataPoint(point.c_str(), server, nullptr));
  EXPECT_EQ(2003, Ostrel::DeleteDataPoint(spare.c_str(), server, nullptr)) << "deleted already";
  EXPECT_EQ(0, Ostrel::GetDataPoint(name.c_str(), original, server, "")) << "and still there";
}

TEST_P(DataPoints, ReadsManyByNameAndByType) {
  std::vector<BrennicData> batch;
  for (int i = 0; i < 5; ++i) {
    batch.push_back(analog(i * 1.5, "kW", static_cast<unsigned>(i)));
    batch.back().SetFullName(unique("feeder").c_str());
  }
  ASSERT_EQ(0, Ostrel::CreateDataPoints(batch, server, nullptr));
  EXPECT_EQ(2005, Ostrel::CreateDataPoints(batch, server, nullptr)) << "a batch with a known name creates nothing";

  std::vector<std::string> wanted = {batch[3].GetDataName(), "missing", batch[1].GetDataName()};
  BrennicDataList list;
  EXPECT_EQ(2003, Ostrel::GetDataPointN(wanted, list, server, nullptr)) << "the server's code is passed on";
  ASSERT_EQ(2, list.count) << "only the points the server found";
  EXPECT_STREQ(batch[3].GetDataName(), list.items[0]->GetDataName());
  EXPECT_EQ(4.5, list.items[0]->GetDoubleValue("value"));
  EXPECT_STREQ(batch[1].GetDataName(), list.items[1]->GetDataName());
  Ostrel::DestoryBrennicDataList(&list);

  ASSERT_EQ(0, Ostrel::GetDataPointByTypeName("AnalogPoint", list, server, nullptr));
  EXPECT_EQ(5, list.count);
  for (int i = 0; i < list.count; ++i) {
    EXPECT_STREQ("AnalogPoint", list.items[i]->GetTypeName());
    EXPECT_STREQ("", list.items[i]->GetDataName()) << "records of a type read carry no point names";
  }
  Ostrel::DestoryBrennicDataList(&list);
  ASSERT_EQ(0, Ostrel::GetDataPointByTypeName("Alarm", list, server, nullptr));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items) << "an empty answer allocates no array";
  ObjectNames types;
  EXPECT_GE(takeNames(Ostrel::GetTarnTypes(&types, server, nullptr), types).size(), 4u);
}

TEST_P(DataPoints, BatchCreationEdgesAndNullData) {
  EXPECT_EQ(0, Ostrel::CreateDataPoints(static_cast<BrennicData**>(nullptr), 0, "never.connected", nullptr))
      << "an empty array returns before the guard";
  EXPECT_EQ(2015, Ostrel::CreateDataPoints(std::vector<BrennicData>(), "never.connected", nullptr))
      << "an empty vector goes through the guard";
  EXPECT_EQ(0, Ostrel::CreateDataPoints(std::vector<BrennicData>(), server, nullptr));
  EXPECT_EQ(3015, Ostrel::CreateDataPoints(static_cast<BrennicData**>(nullptr), -1, server, nullptr));
  EXPECT_EQ(3016, Ostrel::CreateDataPoints(static_cast<BrennicData**>(nullptr), 2, server, nullptr));
  BrennicDataList none;
  EXPECT_EQ(3016, Ostrel::GetDataPointN(static_cast<char**>(nullptr), 3, none, server, nullptr));
  EXPECT_EQ(3015, Ostrel::GetDataPointN(static_cast<char**>(nullptr), -1, none, server, nullptr));
  std::vector<BrennicData*> withNull = {nullptr};
  EXPECT_EQ(3014, Ostrel::CreateDataPoints(withNull, server, nullptr)) << "a null record is refused, not read";
}

TEST_P(DataPoints, GuardAndRemoteFailuresDropTheCachedReference) {
  BrennicData record("AnalogPoint", 0);
  EXPECT_EQ(2015, Ostrel::GetDataPoint("x", record, "never.connected", nullptr));
  EXPECT_EQ(2015, Ostrel::PutDataPoint("x", record, "never.connected", nullptr));
  BrennicDataList list;
  EXPECT_EQ(2015, Ostrel::GetDataPointN(std::vector<std::string>{"x"}, list, "never.connected", nullptr));

  planFault(server, "get_points", 0, 1, "COMM_FAILURE");
  EXPECT_EQ(123, Ostrel::GetDataPointN(std::vector<std::string>{"x"}, list, server, nullptr));
  EXPECT_EQ(2003, Ostrel::GetDataPointN(std::vector<std::string>{"x"}, list, server, nullptr))
      << "the next call works on a fresh reference";
  planFault(server, "get_points_by_type", 0, 1, "TRANSIENT");
  EXPECT_EQ(104, Ostrel::GetDataPointByTypeName("AnalogPoint", list, server, nullptr));
  planFault(server, "create_points", 0, 1, "NO_RESOURCES");
  std::vector<BrennicData> one = {analog(1, "", 1)};
  one[0].SetFullName(unique("late").c_str());
  EXPECT_EQ(142, Ostrel::CreateDataPoints(one, server, nullptr));
  EXPECT_EQ(0, Ostrel::CreateDataPoints(one, server, nullptr)) << "the failed batch created nothing";
  clearFaults(server);
}

TEST(DataPointsTimeOut, AStalledManyPointReadEndsAfterTheLongerTimeOut) {
  TarndProcess server("slow", freePort());
  ASSERT_TRUE(server.start());
  ScopedSettings settings({{"slow", "own", {server.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("slow"));
  planFault("slow", "get_points", 2, 1, "", 0, 30000);
  BrennicDataList list;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(123, Ostrel::GetDataPointN(std::vector<std::string>{"x"}, list, "slow", nullptr));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::seconds(19)) << "the read waits for the longer time-out";
  EXPECT_LT(took, std::chrono::seconds(28)) << "and not for the stalled server";
  EXPECT_EQ(0, list.count);
  server.kill();
}

OSTREL_ON_EACH_SERVER(DataPoints);

}  // namespace

namespace {

TEST(Teleport, WritesThroughThePutSlotUnderTheRecordsName) {
  BrennicData unnamed("AnalogPoint", 0);
  int calls = 0;
  testing_support::SlotGuard<int(const char*, const BrennicData&, const char*, const char*)> guard(
      OstrelFunc::PutDataPoint, [&](const char* name, const BrennicData& data, const char* server, const char* position) {
        ++calls;
        EXPECT_STREQ("plant.flow", name);
        EXPECT_EQ(&unnamed, &data);
        EXPECT_EQ(nullptr, server);
        EXPECT_EQ(nullptr, position);
        return 2777;
      });
  EXPECT_EQ(-2, unnamed.Teleport());
  EXPECT_EQ(0, calls) << "a record without a name makes no call";
  unnamed.SetFullName("plant.flow");
  EXPECT_EQ(2777, unnamed.Teleport()) << "the write's result comes back unchanged";
  EXPECT_EQ(1, calls);
}

}  // namespace
