// Field-level writes and queries end to end, on the embedded server and on tarnd.
#include <string>
#include <vector>

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/partial_record.h"
#include "tests/support/each_server.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

class PartialWrites : public OnEachServer {
 protected:
  void SetUp() override {
    OnEachServer::SetUp();
    realm = "partial" + std::to_string(++round);
  }

  // Creates `count` AnalogPoint points named p.0, p.1, ... in this test's realm.
  void createPoints(int count) {
    std::vector<BrennicData> batch;
    for (int i = 0; i < count; ++i) {
      batch.emplace_back("AnalogPoint", 0);
      batch.back().SetFullName(("p." + std::to_string(i)).c_str());
      batch.back().PutValue("unit", "kW");
    }
    ASSERT_EQ(0, Ostrel::CreateDataPoints(batch, server, realm.c_str()));
  }

  std::vector<unsigned long> batchSizes() {
    kxTarn::DT_Point_Factory_var points =
        kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, realm.c_str());
    kxTarn::ULONG_LIST_var sizes;
    points->partial_batch_sizes(sizes.out());
    return std::vector<unsigned long>(sizes->get_buffer(), sizes->get_buffer() + sizes->length());
  }

  std::vector<BrennicPartialData> updates(int count, double base) {
    std::vector<BrennicPartialData> all;
    for (int i = 0; i < count; ++i) {
      all.emplace_back("AnalogPoint", 0);
      all.back().SetFullName(("p." + std::to_string(i)).c_str());
      all.back().PutValue("value", base + i);
      all.back().PutValue("quality", 7u);
    }
    return all;
  }

  BrennicData read(const std::string& name) {
    BrennicData record("AnalogPoint", 0);
    EXPECT_EQ(0, Ostrel::GetDataPoint(name.c_str(), record, server, realm.c_str()));
    return record;
  }

  // The number of points matching `filter`, or minus the query's result code.
  int matching(BrennicPartialData& filter) {
    char type[] = "AnalogPoint";
    BrennicDataList list;
    const int rc = Ostrel::QueryDataPoint(filter, type, list, server, realm.c_str());
    for (int i = 0; i < list.count; ++i) EXPECT_STREQ("AnalogPoint", list.items[i]->GetTypeName());
    const int n = list.count;
    Ostrel::DestoryBrennicDataList(&list);
    return rc ? -rc : n;
  }

  std::string realm;
  static inline int round = 0;
};

TEST_P(PartialWrites, OnlyTheWrittenFieldsChange) {
  createPoints(1);
  BrennicPartialData update("AnalogPoint", 0);
  update.SetFullName("some.other.name");
  update.PutValue("value", 42.25);
  ASSERT_EQ(0, Ostrel::PutPartialDataPoint("p.0", update, server, realm.c_str())) << "the caller's name is used";
  BrennicData back = read("p.0");
  EXPECT_EQ(42.25, back.GetDoubleValue("value"));
  EXPECT_STREQ("kW", back.GetStringValue("unit")) << "fields not written keep their value";

  BrennicPartialData nothing("AnalogPoint", 0);
  EXPECT_EQ(0, Ostrel::PutPartialDataPoint("p.0", nothing, server, realm.c_str())) << "no fields, nothing changes";

  BrennicPartialData typo("AnalogPoint", 0);
  typo.PutValue("value", 1.0);
  EXPECT_EQ(4002, typo.PutValue("valeu", 2.0));
  EXPECT_EQ(2021, Ostrel::PutPartialDataPoint("p.0", typo, server, realm.c_str()))
      << "a path the server cannot place refuses the whole write";
  EXPECT_EQ(42.25, read("p.0").GetDoubleValue("value")) << "and nothing was written";
}

TEST_P(PartialWrites, ManyPointsGoInChunksOfOneThenAThousand) {
  createPoints(2002);
  std::vector<BrennicPartialData> all = updates(2002, 100.0);
  ASSERT_EQ(0, Ostrel::PutPartialDataPoints(all, server, realm.c_str()));
  EXPECT_EQ((std::vector<unsigned long>{1, 1000, 1000, 1}), batchSizes());
  for (int i : {0, 1, 1000, 1001, 2001}) {
    BrennicData back = read("p." + std::to_string(i));
    EXPECT_EQ(100.0 + i, back.GetDoubleValue("value")) << i;
    EXPECT_EQ(7u, back.GetUnSignedIntValue("quality")) << i;
  }
  std::vector<BrennicPartialData> some = updates(1001, 0.0);
  std::vector<BrennicPartialData*> pointers;
  for (BrennicPartialData& record : some) pointers.push_back(&record);
  ASSERT_EQ(0, Ostrel::PutPartialDataPointsWithNoPublish(pointers, server, realm.c_str()));
  EXPECT_EQ((std::vector<unsigned long>{1, 1000, 1000, 1, 1, 1000}), batchSizes());

  kxTarn::DT_Point_Factory_var points =
      kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, realm.c_str());
  CORBA::ULong published = 0, unpublished = 0;
  points->publish_counts(published, unpublished);
  EXPECT_EQ(2002u, published);
  EXPECT_EQ(1001u, unpublished);

  EXPECT_EQ(0, Ostrel::PutPartialDataPoints(std::vector<BrennicPartialData>(), "never.connected", nullptr))
      << "an empty write sends nothing and takes no guard";

  // The server keeps the newest 1024 sizes, however long it runs.
  for (int i = 0; i < 1030; ++i) ASSERT_EQ(0, Ostrel::PutPartialDataPoints(updates(1, 1.0), server, realm.c_str()));
  EXPECT_EQ(1024u, batchSizes().size());
}

TEST_P(PartialWrites, AFailingChunkStopsTheWriteWithTheEarlierChunksWritten) {
  createPoints(2002);
  planFault(server, "put_partial_points", 1, 1, "", 2777, 0, /*skip=*/1);
  EXPECT_EQ(2777, Ostrel::PutPartialDataPoints(updates(2002, 500.0), server, realm.c_str()));
  EXPECT_EQ((std::vector<unsigned long>{1}), batchSizes()) << "no chunk after the failing one";
  EXPECT_EQ(500.0, read("p.0").GetDoubleValue("value")) << "the first chunk is written";
  EXPECT_EQ(0.0, read("p.1").GetDoubleValue("value")) << "the failing chunk changed nothing";

  planFault(server, "put_partial_points", 0, 1, "COMM_FAILURE");
  EXPECT_EQ(103, Ostrel::PutPartialDataPoints(updates(3, 1.0), server, realm.c_str()));
  planFault(server, "put_partial_point", 0, 1, "TRANSIENT");
  BrennicPartialData one("AnalogPoint", 0);
  one.PutValue("value", 3.0);
  EXPECT_EQ(123, Ostrel::PutPartialDataPoint("p.0", one, server, realm.c_str()));
  EXPECT_EQ(0, Ostrel::PutPartialDataPoint("p.0", one, server, realm.c_str())) << "a fresh reference after the failure";

  const std::vector<unsigned long> sent = batchSizes();
  std::vector<BrennicPartialData*> withNull = {&one, nullptr};
  EXPECT_EQ(3014, Ostrel::PutPartialDataPoints(withNull, server, realm.c_str()));
  EXPECT_EQ(sent, batchSizes()) << "a null record anywhere refuses the batch before its first chunk";

  // A path whose write threw is listed all the same: the operations answer with their codes.
  BrennicPartialData badIndex("AnalogPoint", 0);
  badIndex.SetFullName("p.0");
  EXPECT_THROW(badIndex.PutValue("unit[x]", 'k'), boost::bad_lexical_cast);
  std::vector<BrennicPartialData> batch = {badIndex};
  char type[] = "AnalogPoint";
  BrennicDataList list;
  EXPECT_EQ(123, Ostrel::PutPartialDataPoint("p.0", badIndex, server, realm.c_str()));
  EXPECT_EQ(103, Ostrel::PutPartialDataPoints(batch, server, realm.c_str()));
  EXPECT_EQ(104, Ostrel::QueryDataPoint(badIndex, type, list, server, realm.c_str()));
  EXPECT_EQ(0, list.count);
}

// A field put through meta data is listed even when its text equals what the record shows.
TEST_P(PartialWrites, QueryMatchesTheWrittenFieldValues) {
  createPoints(6);
  std::vector<BrennicPartialData> all = updates(6, 0.0);
  for (int i = 0; i < 6; ++i) all[i].PutValue("quality", static_cast<unsigned>(i % 2));
  ASSERT_EQ(0, Ostrel::PutPartialDataPoints(all, server, realm.c_str()));
  BrennicPartialData filter("AnalogPoint", 0);
  filter.PutValue("quality", 1u);
  EXPECT_EQ(3, matching(filter));
  filter.PutValue("value", 3.0);
  EXPECT_EQ(1, matching(filter)) << "every written field must match";
  planFault(server, "query_points", 0, 1, "TRANSIENT");
  EXPECT_EQ(-104, matching(filter));

  BrennicPartialData zero("AnalogPoint", 0);
  BrennicMetaData meta;
  ASSERT_EQ(0, zero.GetMetaData("quality", meta));
  ASSERT_STREQ(L"0", meta.value) << "what a fresh record shows";
  zero.PutMetaData(meta);
  ASSERT_EQ(0, Ostrel::PutPartialDataPoint("p.1", zero, server, realm.c_str()));
  EXPECT_EQ(0u, read("p.1").GetUnSignedIntValue("quality"));
  EXPECT_EQ(1.0, read("p.1").GetDoubleValue("value")) << "only the listed field was sent";
  EXPECT_EQ(4, matching(zero)) << "the points of quality 0";
}

OSTREL_ON_EACH_SERVER(PartialWrites);

}  // namespace
