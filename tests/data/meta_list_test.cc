// Record and meta lists: the one release routine, lists on the stack, a replaced or empty
// release slot, and many fills and releases (run under LeakSanitizer in the sanitizer build).
#include <cstring>
#include <string>

#include <boost/function.hpp>
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

TEST_F(MetaListTest, ReleaseEmptiesAndASecondReleaseFindsNothing) {
  Ostrel::DestoryBrennicMetaList(nullptr);
  Ostrel::DestoryBrennicDataList(nullptr);

  BrennicMetaList list;
  Ostrel::DestoryBrennicMetaList(&list);  // empty: nothing to do

  BrennicData r("T_Rec", 0);
  ASSERT_EQ(0, r.GetMetaDataList(list));
  ASSERT_EQ(13, list.count);
  Ostrel::DestoryBrennicMetaList(&list);
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items);
  Ostrel::DestoryBrennicMetaList(&list);
  EXPECT_EQ(0, list.count);
  // ... and the destructor at scope exit is the third release.
}

// A count without an array, or null entries in one, is released without reading past it.
TEST_F(MetaListTest, InconsistentListsAreEmptiedWithoutBeingRead) {
  BrennicDataList records;
  records.count = 3;
  Ostrel::DestoryBrennicDataList(&records);
  EXPECT_EQ(0, records.count);
  records.count = 3;
  records.items = new BrennicData*[3]{nullptr, new BrennicData("T_Rec", 0), nullptr};
  Ostrel::DestoryBrennicDataList(&records);
  EXPECT_EQ(nullptr, records.items);

  BrennicMetaList list;
  list.count = 3;
  Ostrel::DestoryBrennicMetaList(&list);
  EXPECT_EQ(0, list.count);
  list.count = 3;  // and once more through the list's own destructor
}

// The list's destructor goes through the façade: a replaced slot sees it; an empty slot
// neither ends the program nor leaks.
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

// Many fills and releases of both kinds of list; LeakSanitizer reports anything left over.
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
