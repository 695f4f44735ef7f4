// Typed records: field bytes by path, the write rules, path errors, copying, and the stream
// form byte for byte. The types come from tests/data/type_fixture.h (T_Rec's layout is there).
#include "ostrel/data/record.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/result_codes.h"
#include "tests/data/type_fixture.h"

namespace {

using data_test::hex;

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override { data_test::registeredTypes(); }

  // The bytes of a field of `r`, by offset and length.
  static std::string at(BrennicData& r, std::size_t offset, std::size_t n) {
    return std::string(r.GetRawValue() + offset, n);
  }
};

TEST_F(RecordTest, WritesZeroFillAndCutWithoutSignExtension) {
  BrennicData r("T_Rec", 0);
  ASSERT_EQ(r.GetBufferSize(), 96u);
  ASSERT_TRUE(r.IsNull());
  std::memset(r.GetRawValue(), 0xAA, r.GetBufferSize());
  auto written = [&](int rc, std::size_t offset, std::size_t size) {
    EXPECT_EQ(rc, 0);
    return hex(at(r, offset, size));
  };
  EXPECT_EQ(written(r.PutValue("w", 258), 4, 2), "02 01");  // int into a 2-byte field: the low two bytes
  EXPECT_EQ(written(r.PutValue("i", static_cast<short>(-1)), 0, 4), "ff ff 00 00");  // short into 4: zero fill
  EXPECT_EQ(written(r.PutValue("ll", -1), 64, 8), "ff ff ff ff 00 00 00 00");
  EXPECT_EQ(written(r.PutValue("ll", -2LL), 64, 8), "fe ff ff ff ff ff ff ff");
  EXPECT_EQ(written(r.PutValue("b", static_cast<unsigned char>(200)), 6, 2), "aa c8") << "the neighbour is untouched";
  EXPECT_EQ(r.GetShortValue("w"), 258);
  EXPECT_EQ(r.GetCharValue("w"), 2);
  EXPECT_EQ(r.GetSignedIntValue("i"), 65535);
  EXPECT_EQ(r.GetUnSignedCharValue("b"), 200);
  EXPECT_EQ(r.PutValue("u", 4000000000u), 0);
  EXPECT_EQ(r.GetUnSignedIntValue("u"), 4000000000u);
  EXPECT_EQ(r.PutValue("d", 1.5) + r.PutValue("f", 2.25f), 0);
  EXPECT_EQ(std::make_pair(r.GetDoubleValue("d"), r.GetFloatValue("f")), std::make_pair(1.5, 2.25f));
}

TEST_F(RecordTest, TextWrites) {
  BrennicData r("T_Rec", 0);
  std::memset(r.GetRawValue(), 0xAA, r.GetBufferSize());

  EXPECT_EQ(r.PutValue("text", "0123456789"), 0);
  EXPECT_EQ(at(r, 24, 8), "01234567") << "a text as long as the field has no NUL";
  EXPECT_EQ(hex(at(r, 32, 1)), "aa");
  EXPECT_EQ(r.PutValue("text", "abc"), 0);
  EXPECT_EQ(at(r, 24, 8), std::string("abc\0\0\0\0\0", 8));
  EXPECT_STREQ(r.GetStringValue("text"), "abc");
  EXPECT_EQ(r.PutValue("text", static_cast<const char*>(nullptr)), 0);
  EXPECT_EQ(at(r, 24, 3), "abc") << "a null text writes nothing";

  // Wide texts are UTF-16 units with their NUL, whatever the platform's wchar_t.
  EXPECT_EQ(r.PutValue("wtext", L"h\u00e9\U0001F600"), 0);
  EXPECT_EQ(hex(at(r, 32, 16)), "68 00 e9 00 3d d8 00 de 00 00 00 00 00 00 00 00");
  EXPECT_EQ(r.GetWStringValue("wtext")[1], 0xE9);
  EXPECT_EQ(r.PutValue("wtext", L"abcdefghij"), 0);
  EXPECT_EQ(hex(at(r, 32, 16)), "61 00 62 00 63 00 64 00 65 00 66 00 67 00 68 00");
  EXPECT_EQ(hex(at(r, 48, 2)), "aa aa") << "the field's end cuts the text: arr[0] untouched";

  const unsigned short units[] = {0x41, 0x42, 0x43};
  EXPECT_EQ(r.PutValueUtf16("wtext", units, 2), 0);
  EXPECT_EQ(hex(at(r, 32, 6)), "41 00 42 00 00 00") << "len units, no NUL added, zero fill";
}

TEST_F(RecordTest, PathsReachNestedFieldsAndArrayItems) {
  BrennicData r("T_Outer", 0);
  BrennicVariable info;
  struct Case { const char* path; int offset, size; const wchar_t* type; } cases[] = {
      {"recs", 0, 192, L"T_Rec"}, {"recs[1]", 96, 96, L"T_Rec"},
      {"recs[1].inner.z", 96 + 72 + 4, 4, L"unsigned_int"}, {"recs[1].inners[1].y", 96 + 80 + 8 + 2, 2, L"word"},
      {"recs[0].inners", 80, 16, L"T_Inner"}, {"recs[0]..arr[4]", 48 + 8, 2, L"word"},
      {"recs[].text", 24, 8, L"char*"}, {"recs[0].text[3]", 27, 1, L"char*"},
      {"recs[1].wtext", 96 + 32, 16, L"wchar*"}, {"recs[1].c", 96 + 6, 1, L"char"},
      {"recs]1[.w", 96 + 4, 2, L"word"}, {"recs[+1].w", 96 + 4, 2, L"word"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(r.VariableInfo(c.path, info), 0) << c.path;
    EXPECT_EQ(info.offset, c.offset) << c.path;
    EXPECT_EQ(info.size, c.size) << c.path;
    EXPECT_STREQ(info.typeName, c.type) << c.path;
  }
  EXPECT_EQ(r.PutValue("recs[1].inner.z", 0x01020304), 0);
  EXPECT_EQ(hex(at(r, 96 + 76, 4)), "04 03 02 01");
  EXPECT_EQ(r.GetUnSignedIntValue("recs[1].inner.z"), 0x01020304u);
}

TEST_F(RecordTest, PathErrors) {
  BrennicData r("T_Rec", 0);
  BrennicVariable info;
  // "inner]" is looked up whole; in "nope[x]" the name fails before the index is read.
  const std::pair<int, std::vector<const char*>> cases[] = {
      {OstrelCode::kElementNotFound, {"nope", "I", "inner.nope", "inner]", "", "..", "nope[x]"}},
      {OstrelCode::kIndexOutOfRange, {"arr[5]", "arr[-1]", "arr[1][2]", "inners[2].x", "i[1]"}},
  };
  for (const auto& [code, paths] : cases) {
    for (const char* path : paths) {
      EXPECT_EQ(r.VariableInfo(path, info), code) << path;
      EXPECT_EQ(r.PutValue(path, 1), code) << path;
    }
  }
  EXPECT_EQ(r.PutValue(nullptr, 1), OstrelCode::kElementNotFound);
  EXPECT_TRUE(r.IsNull()) << "failed writes write nothing";
  EXPECT_EQ(r.VariableInfo("arr[4]", info), 0) << "the last item is in range";

  for (const char* bad : {"arr[x]", "arr[ 1]", "arr[+]", "arr[1x]", "arr[99999999999]"}) {
    EXPECT_THROW(r.PutValue(bad, 1), boost::bad_lexical_cast) << bad;
    EXPECT_THROW(r.GetSignedIntValue(bad), boost::bad_lexical_cast) << bad;
  }
  EXPECT_TRUE(r.IsNull());

  // Getters on a missing field give zero and never throw; compare gives false.
  EXPECT_EQ(r.GetDoubleValue("nope"), 0.0);
  EXPECT_EQ(r.GetValue("nope"), nullptr);
  EXPECT_EQ(r.GetStringValue("arr[9]"), nullptr);
  int one = 1;
  EXPECT_FALSE(r.compare("nope", &one, 4));

  BrennicData untyped;
  EXPECT_EQ(untyped.VariableInfo("i", info), OstrelCode::kRecordWithoutType);
  EXPECT_EQ(untyped.PutValue("i", 1), OstrelCode::kRecordWithoutType);
}

TEST_F(RecordTest, ElementWithoutATypeFailsWithACode) {
  BrennicData r("T_Broken", 0);
  BrennicVariable info;
  EXPECT_EQ(r.PutValue("ghost", 1), OstrelCode::kUntypedElement);
  EXPECT_EQ(r.PutValue("ghost.x", 1), OstrelCode::kUntypedElement);
  EXPECT_EQ(r.VariableInfo("ghost[0]", info), OstrelCode::kUntypedElement);
  EXPECT_EQ(r.GetBrennicData("ghost").IsGood(), false);
  EXPECT_EQ(r.PutValue("ok", 7), 0);
}

TEST_F(RecordTest, AccessStaysInsideASmallerBlock) {
  BrennicData r("T_Rec", 0);
  r.Destory();
  ASSERT_EQ(r.CastType("T_Rec"), 0);
  r.SetRawValue(const_cast<char*>("0123456789ab"), 12);  // 12 bytes under a 96-byte type
  EXPECT_EQ(r.GetBufferSize(), 96u);

  EXPECT_EQ(r.PutValue("w", 1), 0);
  EXPECT_EQ(r.PutValue("d", 1.0), OstrelCode::kInvalidRecord) << "bytes 8..15: half outside";
  EXPECT_EQ(at(r, 0, 12), std::string("0123\x01\x00" "6789ab", 12)) << "nothing written past 11";
  EXPECT_EQ(r.GetValue("d"), nullptr);
  EXPECT_EQ(r.GetUnSignedIntValue("d"), 0x62613938u) << "a getter reads its width where it fits";
  double expected = 0;
  std::memcpy(&expected, "89ab", 4);
  EXPECT_EQ(r.GetDoubleValue("d"), expected) << "bytes past the block read as zero";
  EXPECT_EQ(r.GetUnSignedIntValue("u"), 0u);
  EXPECT_FALSE(r.IsNull());
  EXPECT_FALSE(r.GetBrennicData("inner").IsGood());

  BrennicStore out;
  r.toStream(out);
  EXPECT_EQ(out.buffer_size(), 12u + 5 + 12) << "the stream carries the bytes that exist";

  BrennicData other("T_Rec", 0);
  EXPECT_EQ(r.DeepCopy(other), OstrelCode::kValueTooSmall);
  EXPECT_EQ(other.DeepCopy(r), 0) << "copies the 12 bytes r really holds";
  EXPECT_EQ(at(other, 0, 12), at(r, 0, 12));

  r.Destory();
  EXPECT_EQ(r.PutValue("w", 1), OstrelCode::kRecordWithoutType);
  EXPECT_EQ(other.PutValue("inner", r), OstrelCode::kInvalidRecord)
      << "a record without a block is no value to write";
}

TEST_F(RecordTest, CompareAndFieldRecords) {
  BrennicData r("T_Rec", 0);
  r.PutValue("inners[1].z", 77u);
  unsigned int v = 77;
  EXPECT_TRUE(r.compare("inners[1].z", &v, 4));
  EXPECT_FALSE(r.compare("inners[1].z", &v, 2)) << "a length other than the field's is false";
  v = 78;
  EXPECT_FALSE(r.compare("inners[1].z", &v, 4));

  BrennicData item = r.GetBrennicData("inners[1]");
  EXPECT_STREQ(item.GetTypeName(), "T_Inner");
  EXPECT_EQ(item.GetUnSignedIntValue("z"), 77u);
  EXPECT_STREQ(item.GetDataName(), "");

  BrennicData whole = r.GetBrennicData("inners");  // the whole array, reported as one item
  EXPECT_EQ(whole.GetBufferSize(), 8u);
  BrennicStore out;
  whole.toStream(out);
  EXPECT_EQ(out.buffer_size(), 12u + 7 + 16);

  BrennicData target("T_Rec", 0);
  EXPECT_EQ(target.PutValue("inner", item), 0);
  EXPECT_EQ(target.GetUnSignedIntValue("inner.z"), 77u);
  r.PutValue("i", 0x11223344);
  EXPECT_EQ(r.PutValue("inner", r), 0) << "a record written into itself";
  EXPECT_EQ(r.GetUnsignedShortValue("inner.x"), 0x3344) << "inner takes r's first 8 bytes";
  EXPECT_EQ(r.GetUnSignedIntValue("inners[1].z"), 77u);
}

TEST_F(RecordTest, CopyAssignAndTypeSetting) {
  BrennicData r("T_Inner", 0);
  r.SetFullName("plant.pump1");
  r.PutValue("z", 5u);
  BrennicData copy(r);
  EXPECT_NE(copy.GetRawValue(), r.GetRawValue());
  EXPECT_EQ(copy.GetUnSignedIntValue("z"), 5u);

  BrennicData raw;
  raw.SetRawValue(const_cast<char*>("rawby"), 5);
  raw.SetFullName("raw");
  EXPECT_EQ(raw.GetBufferSize(), 5u);
  BrennicData fromRaw(raw);
  EXPECT_FALSE(fromRaw.IsGood()) << "a copy of a raw record carries no value";
  EXPECT_STREQ(fromRaw.GetDataName(), "");
  copy = raw;
  EXPECT_EQ(copy.GetTypeName(), nullptr);
  EXPECT_STREQ(copy.GetDataName(), "plant.pump1") << "assignment from raw keeps block and name";
  EXPECT_EQ(copy.GetBufferSize(), 8u);

  r.SetFullName(std::string(258, 'n').c_str());
  EXPECT_STREQ(r.GetDataName(), "plant.pump1") << "a name past 257 bytes is refused";
  r.SetFullName(std::string(257, 'n').c_str());
  EXPECT_EQ(std::string(r.GetDataName()), std::string(257, 'n'));

  EXPECT_EQ(r.CastType("NoSuchType"), OstrelCode::kRecordWithoutType);
  EXPECT_TRUE(r.IsGood()) << "typed becomes raw: the block stays";

  BrennicData big;
  big.SetTarnType("T_Inner", nullptr, 20);
  EXPECT_EQ(big.GetBufferSize(), 8u);
  BrennicStore out;
  big.toStream(out);
  EXPECT_EQ(out.buffer_size(), 12u + 7 + 20) << "a block of len zeroed bytes";

  char* adopted = static_cast<char*>(::operator new(8));
  std::memset(adopted, 0, 8);
  BrennicData swollen;
  swollen.SwellSetTarnType("NoSuchType", adopted, 8);
  EXPECT_FALSE(swollen.IsGood()) << "not adopted: still the caller's";
  swollen.SwellSetTarnType("T_Inner", adopted, 8);
  EXPECT_EQ(swollen.GetRawValue(), adopted) << "adopted, not copied; released once (the sanitizer checks)";
}

}  // namespace
