// Record and meta lists: the one release routine, a replaced or empty release slot, and fills
// and releases that LeakSanitizer checks.
#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "tests/data/type_fixture.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::SlotGuard;

class MetaListTest : public ::testing::Test {
 protected:
  void SetUp() override { data_test::registeredTypes(); }
};

// A meta list filled the way GetMetaDataList fills one.
void fillByHand(BrennicMetaList& list, int n) {
  list.items = new BrennicMetaData*[n]();
  list.count = n;
  for (int i = 0; i < n; ++i) list.items[i] = new BrennicMetaData();
}

// Null lists, a count without an array, null entries and a second release: nothing is read.
TEST_F(MetaListTest, InconsistentListsAreEmptiedWithoutBeingRead) {
  Ostrel::DestoryBrennicMetaList(nullptr);
  Ostrel::DestoryBrennicDataList(nullptr);
  BrennicDataList records;
  records.count = 3;
  Ostrel::DestoryBrennicDataList(&records);
  EXPECT_EQ(0, records.count);
  records.count = 3;
  records.items = new BrennicData*[3]{nullptr, new BrennicData("T_Rec", 0), nullptr};
  Ostrel::DestoryBrennicDataList(&records);
  EXPECT_EQ(nullptr, records.items);

  BrennicMetaList list;
  ASSERT_EQ(0, BrennicData("T_Rec", 0).GetMetaDataList(list));
  ASSERT_EQ(13, list.count);
  Ostrel::DestoryBrennicMetaList(&list);
  Ostrel::DestoryBrennicMetaList(&list);
  EXPECT_EQ(nullptr, list.items);
  list.count = 3;
  Ostrel::DestoryBrennicMetaList(&list);
  EXPECT_EQ(0, list.count);
  list.count = 3;  // and once more through the list's own destructor
}

TEST_F(MetaListTest, DestructorReleasesThroughTheFacade) {
  int calls = 0;
  {
    SlotGuard<void(BrennicMetaList*)> guard(OstrelFunc::DestoryBrennicMetaList, [&](BrennicMetaList* list) {
      ++calls;
      OstrelOrigin::DestoryBrennicMetaList(list);
    });
    BrennicMetaList list;
    fillByHand(list, 3);
  }
  EXPECT_EQ(1, calls);
  {
    SlotGuard<void(BrennicMetaList*)> guard(OstrelFunc::DestoryBrennicMetaList, {});
    BrennicMetaList list;
    fillByHand(list, 3);
  }
}

TEST_F(MetaListTest, ManyFillsAndReleasesLeaveNothingBehind) {
  BrennicData r("T_Rec", 0);
  r.PutValue("text", "leak?");
  r.PutValue("wtext", L"none");
  for (int round = 0; round < 2000; ++round) {
    {
      BrennicMetaList onStack;  // a refill releases what the list held first
      ASSERT_EQ(0, r.GetMetaDataList(onStack));
      if (round % 3 == 0) Ostrel::DestoryBrennicMetaList(&onStack);
      if (round % 3 == 1) BrennicData("T_Inner", 0).GetMetaDataList(onStack);
      if (round % 3 == 2) {
        EXPECT_NE(0, BrennicData().GetMetaDataList(onStack));
      }
      EXPECT_EQ(round % 3 == 1 ? 3 : 0, onStack.count);
    }
    auto* onHeap = new BrennicMetaList;
    r.GetMetaDataList(*onHeap);
    r.PutMetaDataList(*onHeap);
    delete onHeap;

    BrennicDataList records;
    records.count = 3;
    records.items = new BrennicData*[3]();
    records.items[0] = new BrennicData(r);
    records.items[2] = new BrennicPartialData("T_Outer", 0);
    static_cast<BrennicPartialData*>(records.items[2])->PutValue("recs[1].text", "x");
    Ostrel::DestoryBrennicDataList(&records);
    if (round % 2 == 0) Ostrel::DestoryBrennicDataList(&records);
  }
  EXPECT_STREQ("leak?", r.GetStringValue("text"));
}

}  // namespace
