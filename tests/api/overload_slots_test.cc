// Every overloaded façade reaches the slot that carries its own name, and only that slot.
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/store.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::SlotGuard;

// Exported signatures that applications compile and link against, checked where they differ
// easily: a slot's parameter types, and members that must not grow a const or an explicit.
static_assert(std::is_same_v<decltype(OstrelFunc::PutPartialDataPointsWithNoPublishWithPtr),
                             boost::function<int(std::vector<BrennicPartialData*>&, const char*, const char*)>>);
static_assert(std::is_same_v<decltype(OstrelFunc::PutPartialDataPointsPtr),
                             boost::function<int(const std::vector<BrennicPartialData*>&, const char*, const char*)>>);
static_assert(std::is_same_v<decltype(&BrennicData::PutValueImpl), int (BrennicData::*)(const char*, void*, int)>);
static_assert(std::is_same_v<decltype(&BrennicPartialData::isUpdated), bool (BrennicPartialData::*)(const char*)>);
static_assert(std::is_same_v<decltype(&TarnDataType::getCache), bool (TarnDataType::*)(const char*, int&, int&)>);
static_assert(std::is_same_v<decltype(&BrennicData::Logging), void (BrennicData::*)()>);
static_assert(std::is_convertible_v<unsigned int, BrennicStore>, "BrennicStore(unsigned int) is not explicit");
[[maybe_unused]] constexpr DataVariable* (TarnDataType::*kGetElement)(const char*) = &TarnDataType::GetElement;

// Replaces `slot` with a recorder that returns `mark`, calls `facade`, and checks the result.
template <typename R, typename... A>
void expectSlot(const char* slotName, boost::function<R(A...)>& slot, const std::function<R()>& facade, R mark) {
  int calls = 0;
  SlotGuard<R(A...)> guard(slot, [&](A...) {
    ++calls;
    return mark;
  });
  EXPECT_EQ(mark, facade()) << slotName;
  EXPECT_EQ(1, calls) << slotName;
}

TEST(OverloadSlots, EachOverloadCallsItsNamedSlot) {
  BrennicData record;
  BrennicPartialData partial;
  BrennicDataList list;
  std::vector<BrennicData> values;
  std::vector<BrennicData*> pointers;
  std::vector<BrennicPartialData> partials;
  std::vector<BrennicPartialData*> partialPointers;
  std::vector<std::string> names;
  BrennicData* array[1] = {&record};
  char* nameArray[1] = {nullptr};

  int mark = 1000;
#define EXPECT_SLOT(Slot, call) expectSlot<int>(#Slot, OstrelFunc::Slot, [&] { return call; }, ++mark)
  EXPECT_SLOT(CreateNullDataPoint, Ostrel::CreateDataPoint("n", "T", nullptr, nullptr));
  EXPECT_SLOT(CreateDataPoint, Ostrel::CreateDataPoint("n", record, nullptr, nullptr));
  EXPECT_SLOT(CreateDataPoints, Ostrel::CreateDataPoints(values, nullptr, nullptr));
  EXPECT_SLOT(CreateDataPointsWithPointer, Ostrel::CreateDataPoints(array, 1, nullptr, nullptr));
  EXPECT_SLOT(CreateDataPointsPtr, Ostrel::CreateDataPoints(pointers, nullptr, nullptr));
  EXPECT_SLOT(GetDataPointN, Ostrel::GetDataPointN(names, list, nullptr, nullptr));
  EXPECT_SLOT(GetDataPointNWithPointer, Ostrel::GetDataPointN(nameArray, 1, list, nullptr, nullptr));
  EXPECT_SLOT(PutPartialDataPointsPtr, Ostrel::PutPartialDataPoints(partialPointers, nullptr, nullptr));
  EXPECT_SLOT(PutPartialDataPoints, Ostrel::PutPartialDataPoints(partials, nullptr, nullptr));
  EXPECT_SLOT(PutPartialDataPointsWithNoPublishWithPtr, Ostrel::PutPartialDataPointsWithNoPublish(partialPointers, nullptr, nullptr));
  EXPECT_SLOT(PutPartialDataPointsWithNoPublish, Ostrel::PutPartialDataPointsWithNoPublish(partials, nullptr, nullptr));
  EXPECT_SLOT(ContendHeartBitWithBrennic, Ostrel::ContendHeartBit("c", record, nullptr, nullptr));
  EXPECT_SLOT(OutContendHeartBit, Ostrel::OutContendHeartBit(&mark, nullptr, nullptr));
  EXPECT_SLOT(OutContendHeartBitModule, Ostrel::OutContendHeartBit("h", "c", "m", nullptr, nullptr));
#undef EXPECT_SLOT
  expectSlot<void*>("ContendHeartBit", OstrelFunc::ContendHeartBit,
                    [&] { return Ostrel::ContendHeartBit("c", "m", 1, nullptr, nullptr); }, &mark);
}

}  // namespace
