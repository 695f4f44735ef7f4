// Partial records: the list of written paths, and field bytes that stay inside the block.
#include "ostrel/data/partial_record.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/data/meta_data.h"
#include "tests/data/type_fixture.h"

namespace {

class PartialRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { data_test::registeredTypes(); }

  static std::vector<std::string> listed(const BrennicPartialData& r) {
    ObjectNames names;
    r.enabledFields(&names);
    std::vector<std::string> out(names.names, names.names + names.count);
    EXPECT_FALSE(names.release) << "the texts stay the record's";
    Ostrel::DeatoryNameSeq(&names);
    return out;
  }
};

TEST_F(PartialRecordTest, EveryWriteIsListedFailedAndRepeatedOnesToo) {
  BrennicPartialData r("T_Rec", 0);
  BrennicData& base = r;
  BrennicData inner("T_Inner", 0);
  const unsigned short units[] = {'h', 'i'};
  // A braced list runs its calls in order.
  for (int rc : {base.PutValue("ll", 1LL), base.PutValue("ll", 2ULL), base.PutValue("inner", inner),
                 base.PutValue("d", 1.5), base.PutValue("f", 1.5f), base.PutValue("wtext", L"w"),
                 base.PutValue("text", "t"), base.PutValue("c", 'c'), base.PutValue("b", static_cast<unsigned char>(1)),
                 base.PutValue("w", static_cast<short>(1)), base.PutValue("w", static_cast<unsigned short>(1)),
                 base.PutValue("i", 1), base.PutValue("u", 1u), base.PutValueUtf16("wtext", units, 2),
                 r.putValue("i", "\1\2\3\4", 4)})
    EXPECT_EQ(0, rc);
  EXPECT_EQ(OstrelCode::kElementNotFound, r.PutValue("nosuch", 1));
  EXPECT_EQ(OstrelCode::kIndexOutOfRange, r.PutValue("arr[5]", 1));
  EXPECT_THROW(r.PutValue("arr[x]", 1), boost::bad_lexical_cast);
  EXPECT_EQ(OstrelCode::kElementNotFound, r.PutValue(nullptr, 1)) << "a null path is not listed";
  // PutMetaData lists as PutValue does, unchanged and unplaced paths too; not unparsed texts.
  BrennicMetaData meta;
  r.GetMetaData("u", meta);
  for (const auto& [path, value] : {std::pair<const wchar_t*, const wchar_t*>{L"u", L"9"}, {L"u", L"9"},
                                    {L"nosuch", L"1"}, {L"arr[x]", L"1"}, {L"u", L"nine"}}) {
    std::wcscpy(meta.name, path);
    std::wcscpy(meta.value, value);
    r.PutMetaData(meta);
  }
  std::wcscpy(meta.typeName, L"kx_time");
  r.PutMetaData(meta);

  const std::vector<std::string> expected = {
      "ll",     "ll",     "inner", "d", "f", "wtext", "text",   "c",     "b", "w", "w", "i", "u", "wtext",
      "i",      "nosuch", "arr[5]", "arr[x]", "u", "u", "nosuch", "arr[x]"};
  EXPECT_EQ(expected, listed(r));
  EXPECT_EQ(9u, r.GetUnSignedIntValue("u"));

  BrennicPartialData untyped;
  EXPECT_EQ(OstrelCode::kRecordWithoutType, untyped.PutValue("i", 1));
  EXPECT_EQ(std::vector<std::string>{"i"}, listed(untyped));
}

TEST_F(PartialRecordTest, IsUpdatedMatchesTheExactText) {
  BrennicPartialData r("T_Rec", 0);
  ObjectNames names;
  names.release = true;
  r.enabledFields(&names);
  EXPECT_EQ(0, names.count);
  EXPECT_NE(nullptr, names.names) << "an array even for no entries";
  EXPECT_FALSE(names.release);
  Ostrel::DeatoryNameSeq(&names);
  r.enabledFields(nullptr);
  EXPECT_FALSE(r.isUpdated("i"));

  r.PutValue("arr[1]", static_cast<unsigned short>(1));
  r.PutValue("inner.x", static_cast<unsigned short>(1));
  // The same field without its index or with extra dots is another text.
  for (const auto& [path, want] : {std::pair<const char*, bool>{"arr[1]", true}, {"inner.x", true}, {"arr", false},
                                     {"arr[1", false}, {"arr[01]", false}, {"inner..x", false}, {"inner", false},
                                     {"", false}, {nullptr, false}})
    EXPECT_EQ(want, r.isUpdated(path)) << (path ? path : "null");
}

TEST_F(PartialRecordTest, CopiesKeepTheirOwnList) {
  BrennicPartialData r("T_Rec", 0);
  r.PutValue("i", 1);
  BrennicPartialData copy(r);
  copy.PutValue("u", 2u);
  EXPECT_EQ(std::vector<std::string>{"i"}, listed(r));
  EXPECT_EQ((std::vector<std::string>{"i", "u"}), listed(copy));
  EXPECT_EQ(1, copy.GetSignedIntValue("i"));

  BrennicPartialData assigned("T_Inner", 0);
  assigned.PutValue("x", static_cast<unsigned short>(3));
  assigned = copy;
  EXPECT_EQ((std::vector<std::string>{"i", "u"}), listed(assigned));
  EXPECT_STREQ("T_Rec", assigned.GetTypeName());
  assigned.PutValue("w", static_cast<unsigned short>(1));
  EXPECT_EQ(2u, listed(copy).size());

  assigned = BrennicPartialData();
  EXPECT_EQ(3u, listed(assigned).size()) << "a record without a type carries no list";
  assigned = assigned;
  EXPECT_EQ(3u, listed(assigned).size());
}

TEST_F(PartialRecordTest, StoreValueIsACopyOfTheField) {
  BrennicPartialData r("T_Rec", 0);
  r.PutValue("u", 0x04030201u);
  r.PutValue("arr[2]", static_cast<unsigned short>(0x0605));
  BrennicStore u = r.getStoreValue("u");
  ASSERT_EQ(4u, u.buffer_size());
  EXPECT_EQ(0, std::memcmp(u.get(), "\x01\x02\x03\x04", 4));
  BrennicStore item = r.getStoreValue("arr[2]");
  ASSERT_EQ(2u, item.buffer_size());
  EXPECT_EQ(0, std::memcmp(item.get(), "\x05\x06", 2));
  // putValue writes raw bytes, zero-filled or cut to the field.
  EXPECT_EQ(0, r.putValue("u", "\x01\x02\x03", 3));
  EXPECT_EQ(0, std::memcmp(r.GetRawValue() + 20, "\x01\x02\x03\x00", 4));
  EXPECT_EQ(0, r.putValue("w", "\x05\x06\x07\x08", 4));
  EXPECT_EQ(0, std::memcmp(r.GetRawValue() + 4, "\x05\x06\x00", 3)) << "the next field is untouched";
  EXPECT_EQ(10u, r.getStoreValue("arr").buffer_size()) << "the whole array";
  EXPECT_EQ(8u, r.getStoreValue("inners[1]").buffer_size());

  char* bytes = nullptr;
  int length = -1;
  r.getStoreValue("inners[1].z", &bytes, length);
  EXPECT_EQ(r.GetRawValue() + 80 + 8 + 4, bytes) << "no copy: a pointer into the block";
  EXPECT_EQ(4, length);
}

TEST_F(PartialRecordTest, StoreValueOfAPathNotLocatedStaysInsideTheBlock) {
  BrennicPartialData r("T_Rec", 0);
  for (const char* path : {"nosuch", "inner.nosuch", "inners[2].x", "inners[1].x[0][1]", "arr[-1]",
                           "inners[1].x.deeper", ""}) {
    SCOPED_TRACE(path);
    char* bytes = reinterpret_cast<char*>(1);
    int length = -1;
    EXPECT_NO_THROW(r.getStoreValue(path, &bytes, length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(r.GetRawValue(), bytes);
    BrennicStore copy;
    EXPECT_NO_THROW(copy = r.getStoreValue(path));
    EXPECT_EQ(0u, copy.buffer_size());
  }
  BrennicStore none = r.getStoreValue("nosuch");
  EXPECT_NE(nullptr, none.get()) << "a zero-size block";
  char* start = nullptr;
  int size = -1;
  EXPECT_THROW(r.getStoreValue("arr[x]", &start, size), boost::bad_lexical_cast)
      << "a non-numeric index throws, as every path operation does";
  EXPECT_EQ(0, size);
  EXPECT_THROW(r.getStoreValue("arr[x]"), boost::bad_lexical_cast);

  BrennicPartialData untyped;
  char* bytes = reinterpret_cast<char*>(1);
  int length = -1;
  untyped.getStoreValue("i", &bytes, length);
  EXPECT_EQ(nullptr, bytes);
  EXPECT_EQ(0, length);

  // A typed record whose block is shorter than its type: only fields inside the block are given.
  BrennicPartialData shortBlock;
  char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  shortBlock.SetRawValue(eight, 8);
  ASSERT_EQ(0, shortBlock.CastType("T_Rec"));
  shortBlock.getStoreValue("w", &bytes, length);
  EXPECT_EQ(2, length);
  EXPECT_EQ(shortBlock.GetRawValue() + 4, bytes);
  shortBlock.getStoreValue("d", &bytes, length);
  EXPECT_EQ(0, length) << "offset 8: past the block";
  EXPECT_EQ(0u, shortBlock.getStoreValue("inners").buffer_size());
}

}  // namespace
