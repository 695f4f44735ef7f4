// Records made from a middleware answer: which values a record takes over from the sequence and
// which it copies, and that a record holding a taken-over buffer lives and dies like any other
// (the sanitizer build checks every release for a leak or a mismatched free).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/datapoints/point_lists.h"
#include "tests/data/type_fixture.h"

namespace {

// A value of `n` bytes 1, 2, 3, ...; the sequence owns the buffer unless `lent` is given.
kxTarn::DATA_BUFFER value(CORBA::ULong n, CORBA::Octet* lent = nullptr) {
  if (lent != nullptr) return kxTarn::DATA_BUFFER(n, n, lent, false);
  kxTarn::DATA_BUFFER v;
  v.length(n);
  for (CORBA::ULong i = 0; i < n; ++i) v[i] = static_cast<CORBA::Octet>(i + 1);
  return v;
}

std::string held(BrennicData& r) {
  return r.GetRawValue() ? std::string(r.GetRawValue(), r.GetBufferSize()) : std::string("<none>");
}

TEST(TakenValuesTest, ARecordTakesOverOnlyAnOwnedValueOfItsTypeSize) {
  TarnTypeMgr* types = data_test::registeredTypes();
  TarnDataType* inner = types->GetDataType("T_Inner");  // 8 bytes
  CORBA::Octet lent[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* what;
    TarnDataType* type;
    CORBA::ULong length;
    bool lend;
    bool taken;
    std::string bytes;
  } cases[] = {
      {"typed, its size", inner, 8, false, true, "\1\2\3\4\5\6\7\10"},
      {"typed, shorter: zero-filled", inner, 6, false, false, std::string("\1\2\3\4\5\6\0\0", 8)},
      {"typed, longer: cut", inner, 12, false, false, "\1\2\3\4\5\6\7\10"},
      {"typed, lent buffer: copied", inner, 8, true, false, "\1\2\3\4\5\6\7\10"},
      {"raw, any size", nullptr, 5, false, true, "\1\2\3\4\5"},
      {"raw, empty: no block", nullptr, 0, false, false, "<none>"},
  };
  for (const Case& c : cases) {
    kxTarn::DATA_BUFFER v = value(c.length, c.lend ? lent : nullptr);
    const CORBA::Octet* buffer = v.get_buffer();
    BrennicData record;
    ostrel::fillRecord(record, c.type, v);
    EXPECT_EQ(held(record), c.bytes) << c.what;
    EXPECT_EQ(record.GetTypeName() != nullptr, c.type != nullptr) << c.what;
    EXPECT_EQ(c.length > 0 && reinterpret_cast<const CORBA::Octet*>(record.GetRawValue()) == buffer, c.taken)
        << c.what;
    EXPECT_EQ(v.length(), c.taken ? 0u : c.length) << c.what << ": a taken value leaves the sequence";
  }
}

// Every record of one answer goes its own way: kept past the list, copied, written, re-typed,
// given another block, emptied; the rest are deleted by the list, last first.
TEST(TakenValuesTest, RecordsOfOneAnswerOutliveTheListAndEachOther) {
  data_test::registeredTypes();
  kxTarn::DATA_BUFFER_SEQ values;
  kxTarn::STRING_LIST names, typeNames;
  const char* typeOf[] = {"T_Inner", "T_Inner", "T_Rec", "T_Inner", "NoSuchType", "T_Inner"};
  const CORBA::ULong n = sizeof typeOf / sizeof typeOf[0];
  values.length(n);
  names.length(n);
  typeNames.length(n);
  for (CORBA::ULong i = 0; i < n; ++i) {
    values[i] = value(std::string(typeOf[i]) == "T_Rec" ? 96 : 8);
    names[i] = ("p" + std::to_string(i)).c_str();
    typeNames[i] = typeOf[i];
  }
  BrennicDataList list;
  ostrel::fillList(list, values, nullptr, &names, &typeNames);
  ASSERT_EQ(list.count, static_cast<int>(n));
  for (CORBA::ULong i = 0; i < n; ++i) {
    const char* type = list.items[i]->GetTypeName();
    EXPECT_STREQ(type ? type : "(none)", i == 4 ? "(none)" : typeOf[i]) << "record " << i << " keeps its own type";
    EXPECT_STREQ(list.items[i]->GetDataName(), ("p" + std::to_string(i)).c_str());
  }

  std::unique_ptr<BrennicData> kept(list.items[0]);
  list.items[0] = nullptr;
  BrennicData copy(*list.items[1]);
  BrennicData assigned;
  assigned = *list.items[1];
  EXPECT_EQ(list.items[2]->PutValue("w", static_cast<unsigned short>(0xBEEF)), 0);
  list.items[3]->SwellSetRawValue(static_cast<char*>(::operator new(3)), 3);
  list.items[4]->SetTarnType("T_Inner", nullptr, 0);
  list.items[5]->Destory();
  // The list's own release goes first to last; these go last first.
  for (int i = list.count - 1; i > 0; --i) {
    delete list.items[i];
    list.items[i] = nullptr;
  }
  Ostrel::DestoryBrennicDataList(&list);

  EXPECT_EQ(kept->PutValue("z", 7u), 0);
  EXPECT_EQ(kept->GetUnSignedIntValue("z"), 7u);
  EXPECT_EQ(held(copy), "\1\2\3\4\5\6\7\10");
  EXPECT_EQ(held(assigned), held(copy));
  EXPECT_EQ(kept->DeepCopy(copy), 0);
  EXPECT_EQ(held(*kept), held(copy));
  kept->SetRawValue(const_cast<char*>("ABCDEFGH"));
  EXPECT_EQ(held(*kept), "ABCDEFGH");
}

}  // namespace
