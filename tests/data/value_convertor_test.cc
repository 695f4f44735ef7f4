// Elements as text and back: every base type at its boundaries, the parse rules, texts cut at
// character boundaries, and the meta data operations of records.
#include "ostrel/data/value_convertor.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/record_lists.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"
#include "tests/data/type_fixture.h"

namespace {

// T_Meta: one element of every base type; T_Long: long texts and names, one the other's prefix.
const std::string kLongName(60, 'n');
const std::string kPrefixName(51, 'n');

void registerMetaTypes() {
  static bool done = [] {
    TarnTypeMgr* types = data_test::registeredTypes();
    std::vector<data_test::TypeDef> defs = {
        {"T_Meta",
         112,
         {{"unsigned_int", "u", 0, 1},
          {"signed_int", "i", 4, 1},
          {"char", "c", 8, 1},
          {"byte", "b", 9, 1},
          {"signed_word", "sw", 10, 1},
          {"word", "w", 12, 1},
          {"wchar", "wc", 14, 1},
          {"kx_time", "t", 16, 1},
          {"kx_time2", "t2", 24, 1},
          {"float", "f", 32, 1},
          {"double", "d", 40, 1},
          {"char", "text", 48, 16},
          {"wchar", "wtext", 64, 8},
          {"T_Inner", "inner", 80, 1},
          {"float", "levels", 88, 3},
          {"char", "small", 100, 5},
          {"wchar", "wsmall", 106, 3}}},
        {"T_NestedWithALongTypeName", 4, {{"unsigned_int", "x", 0, 1}}},
        {"T_Long",
         1264,
         {{"char", "long", 0, 300},
          {"wchar", "wlong", 300, 300},
          {"unsigned_int", kLongName.c_str(), 900, 1},
          {"unsigned_int", kPrefixName.c_str(), 904, 1},
          {"T_NestedWithALongTypeName", "nested", 908, 1},
          {"byte", "digit", 912, 1},
          {"double", "d", 916, 1}}},
    };
    std::vector<char> s = data_test::packTypes(defs);
    return types->loadFromStream(s.data(), s.size());
  }();
  ASSERT_TRUE(done);
}

using data_test::hex;

template <typename T>
std::string bytesOf(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof(T));
}

std::string field(BrennicData& r, const char* path) {
  unsigned int offset = 0;
  unsigned int size = 0;
  if (r.LocateField(path, offset, size) != 0) return "<not located>";
  return std::string(r.GetRawValue() + offset, size);
}

// Puts `text` for `path` with the type name the record reports for that path.
void putText(BrennicData& r, const char* path, const std::wstring& text) {
  BrennicMetaData meta;
  ASSERT_EQ(0, r.GetMetaData(path, meta));
  ASSERT_NE(L'\0', meta.typeName[0]) << path << " has a text form";
  ostrel::data::copyWideCut(text, meta.value, BrennicMetaData::kValueCapacity);
  EXPECT_EQ(0, r.PutMetaData(meta));
}

// The item of `list` named `name` (the list follows the type's element order, which for a
// type read from a definition stream is the reverse of the stream's).
BrennicMetaData* item(BrennicMetaList& list, const std::wstring& name) {
  for (int i = 0; i < list.count; ++i) {
    if (list.items[i] != nullptr && name == list.items[i]->name) return list.items[i];
  }
  static BrennicMetaData missing;
  ADD_FAILURE() << "no item named " << std::string(name.begin(), name.end());
  return &missing;
}

class ValueConvetorTest : public ::testing::Test {
 protected:
  void SetUp() override { registerMetaTypes(); }
};

struct RoundTrip {
  const char* path;
  const char* typeName;  // as GetMetaData reports it
  std::string bytes;     // the field's bytes
  const wchar_t* text;   // the rendering
};

TEST_F(ValueConvetorTest, EveryBaseTypeRoundTripsAtItsBoundaries) {
  using F = std::numeric_limits<float>;
  using D = std::numeric_limits<double>;
  const std::vector<RoundTrip> rows = {
      {"u", "unsigned_int", bytesOf<std::uint32_t>(0), L"0"},
      {"u", "unsigned_int", bytesOf<std::uint32_t>(4294967295u), L"4294967295"},
      {"i", "signed_int", bytesOf<std::int32_t>(INT32_MIN), L"-2147483648"},
      {"i", "signed_int", bytesOf<std::int32_t>(INT32_MAX), L"2147483647"},
      {"sw", "signed_word", bytesOf<std::int16_t>(INT16_MIN), L"-32768"},
      {"sw", "signed_word", bytesOf<std::int16_t>(INT16_MAX), L"32767"},
      {"w", "word", bytesOf<std::uint16_t>(65535), L"65535"}, {"w", "word", bytesOf<std::uint16_t>(0), L"0"},
      {"wc", "wchar", bytesOf<std::uint16_t>(65535), L"65535"},
      {"f", "float", bytesOf(F::lowest()), L"-3.40282347e+38"}, {"f", "float", bytesOf(F::max()), L"3.40282347e+38"},
      {"f", "float", bytesOf(F::denorm_min()), L"1.40129846e-45"}, {"f", "float", bytesOf(-0.0f), L"-0"},
      {"f", "float", bytesOf(0.1f), L"0.100000001"}, {"f", "float", bytesOf(F::infinity()), L"infinity"},
      {"f", "float", bytesOf(-F::infinity()), L"-infinity"}, {"f", "float", bytesOf(F::quiet_NaN()), L"nan"},
      {"f", "float", bytesOf(-F::quiet_NaN()), L"-nan"},
      {"d", "double", bytesOf(D::lowest()), L"-1.7976931348623157e+308"},
      {"d", "double", bytesOf(D::max()), L"1.7976931348623157e+308"},
      {"d", "double", bytesOf(D::denorm_min()), L"5e-324"}, {"d", "double", bytesOf(-0.0), L"-0"},
      {"d", "double", bytesOf(0.1), L"0.1"}, {"d", "double", bytesOf(1.0 / 3), L"0.3333333333333333"},
      {"d", "double", bytesOf(16777217.0), L"16777217"},  // not a float: needs all 8 bytes
      {"d", "double", bytesOf(D::infinity()), L"infinity"}, {"d", "double", bytesOf(D::quiet_NaN()), L"nan"},
      {"d", "double", bytesOf(-D::quiet_NaN()), L"-nan"},
      {"text", "char*", std::string("pump 1\0\0\0\0\0\0\0\0\0\0", 16), L"pump 1"},
#if defined(_WIN32)
      // The ANSI code page of the Windows tests (1252 under wine with an English locale).
      {"text", "char*", std::string("Gr\xFC\xDF" "e \x80\0\0\0\0\0\0\0\0\0", 16), L"Grüße €"},
#else
      {"text", "char*", std::string("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\0\0\0\0\0\0", 16), L"Grüße €"},
#endif
      {"text", "char*", "exactly16bytes!!", L"exactly16bytes!!"},  // no NUL in the field
      {"text", "char*", std::string(16, '\0'), L""}, {"b", "byte", std::string(1, '\0'), L""},
      {"wtext", "wchar*", std::string("a\0\xE9\0\x3D\xD8\x00\xDE\0\0\0\0\0\0\0\0", 16), L"a\u00E9\U0001F600"},
      {"wtext", "wchar*", std::string("a\0b\0c\0d\0e\0f\0g\0h\0", 16), L"abcdefgh"},  // no NUL
  };
  for (const RoundTrip& row : rows) {
    SCOPED_TRACE(std::string(row.path) + " = " + hex(row.bytes.data(), row.bytes.size()));
    BrennicData from("T_Meta", 0);
    unsigned int offset = 0;
    unsigned int size = 0;
    ASSERT_EQ(0, from.LocateField(row.path, offset, size));
    ASSERT_EQ(size, row.bytes.size());
    std::memcpy(from.GetRawValue() + offset, row.bytes.data(), size);

    BrennicMetaData meta;
    ASSERT_EQ(0, from.GetMetaData(row.path, meta));
    EXPECT_EQ(std::wstring(meta.typeName), std::wstring(row.typeName, row.typeName + std::strlen(row.typeName)));
    EXPECT_EQ(std::wstring(meta.value), std::wstring(row.text));
    EXPECT_EQ(offset, meta.offset);
    EXPECT_EQ(size, meta.length);

    BrennicData to("T_Meta", 0);
    EXPECT_EQ(0, to.PutMetaData(meta));
    EXPECT_EQ(hex(row.bytes.data(), size), hex(to.GetRawValue() + offset, size));
  }
}

struct ParseCase {
  const char* path;
  const wchar_t* text;
  std::string expected;  // the field's bytes afterwards; empty: left as it was (0xAA bytes)
};

TEST_F(ValueConvetorTest, ParseRulesAtTheLimits) {
  const std::vector<ParseCase> cases = {
      {"u", L"4294967295", bytesOf<std::uint32_t>(4294967295u)}, {"u", L"4294967296", ""},
      {"u", L"-1", bytesOf<std::uint32_t>(4294967295u)}, {"u", L"-4294967295", bytesOf<std::uint32_t>(1)},
      {"u", L"-4294967296", ""}, {"u", L"007", bytesOf<std::uint32_t>(7)}, {"u", L"", ""}, {"u", L" 7", ""},
      {"u", L"0x10", ""}, {"u", L"99999999999999999999999", ""}, {"i", L"-5", bytesOf<std::int32_t>(-5)},
      {"i", L"2147483648", ""}, {"i", L"-2147483649", ""}, {"i", L"+-1", ""}, {"sw", L"32768", ""},
      {"sw", L"-32769", ""}, {"w", L"65536", ""}, {"w", L"-1", bytesOf<std::uint16_t>(65535)},
      {"wc", L"-65535", bytesOf<std::uint16_t>(1)},
      {"t2", L"5", ""},  // time stamps are not set from text
      {"c", L"256", std::string(1, '\0')}, {"c", L"-1", std::string(1, '\xFF')}, {"c", L"2147483648", ""},
      {"b", L"321", std::string(1, 'A')}, {"b", L"A", ""},  // shows its character, takes a number
      {"f", L"3.5e38", ""}, {"f", L"1e-50", ""},
      {"f", L"INFINITY", bytesOf(std::numeric_limits<float>::infinity())},
      {"f", L"-Infinity", bytesOf(-std::numeric_limits<float>::infinity())},
      {"f", L"NaN", bytesOf(std::numeric_limits<float>::quiet_NaN())}, {"f", L"+1.5", bytesOf(1.5f)},
      {"f", L"1e", ""}, {"f", L"1,5", ""},
      {"f", L"\u0661", ""},  // an Arabic-Indic digit is not a decimal digit here
      {"d", L"1e309", ""}, {"d", L"0.1", bytesOf(0.1)}, {"d", L"infinityx", ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " <- \"" + std::string(c.text, c.text + std::wcslen(c.text)) + "\"");
    BrennicData r("T_Meta", 0);
    std::memset(r.GetRawValue(), 0xAA, r.GetBufferSize());
    const std::string before = field(r, c.path);
    putText(r, c.path, c.text);
    const std::string after = field(r, c.path);
    if (c.expected.empty()) {
      EXPECT_EQ(hex(before.data(), before.size()), hex(after.data(), after.size())) << "refused";
    } else {
      EXPECT_EQ(hex(c.expected.data(), c.expected.size()), hex(after.data(), after.size()));
    }
  }
}

TEST_F(ValueConvetorTest, TimeStampsShowAndAreNotSettable) {
  BrennicData r("T_Meta", 0);
  BrennicMetaData meta;
  const struct { const char* path; long long value; const wchar_t *typeName, *text; } rows[] = {
      {"t2", INT64_MIN, L"kx_time2", L"-9223372036854775808"}, {"t2", INT64_MAX, L"kx_time2", L"9223372036854775807"},
      {"t", 1700000000, L"kx_time", L"1700000000"}, {"t", -1, L"kx_time", L""}};  // before 1970: nothing
  for (const auto& row : rows) {
    if (std::strcmp(row.path, "t2") == 0) r.PutValue(row.path, row.value);  // 8 bytes
    else r.PutValue(row.path, static_cast<int>(row.value));
    r.GetMetaData(row.path, meta);
    EXPECT_STREQ(row.typeName, meta.typeName);
    EXPECT_STREQ(row.text, meta.value);
    EXPECT_EQ(ValueConvetor::Outcome::kNotSettable, ValueConvetor::shared().check(meta));
  }
  r.PutValue("t", 5);
  putText(r, "t", L"1700000000");
  EXPECT_EQ(5, r.GetSignedIntValue("t"));
}

TEST_F(ValueConvetorTest, TextsAreCutAtCharacterBoundaries) {
  BrennicData r("T_Meta", 0);
  std::memset(r.GetRawValue(), 0xAA, r.GetBufferSize());
  putText(r, "small", L"ab\u00E9\u00E9");  // a b é é: 6 bytes of UTF-8 for 5
#if defined(_WIN32)
  EXPECT_EQ(hex("ab\xE9\xE9\0", 5), hex(r.GetRawValue() + 100, 5)) << "one byte each in code page 1252";
#else
  EXPECT_EQ(hex("ab\xC3\xA9\0", 5), hex(r.GetRawValue() + 100, 5));
#endif
  putText(r, "small", L"abcdefg");
  EXPECT_EQ("abcde", std::string(r.GetRawValue() + 100, 5)) << "ASCII fills the field, no NUL";
  putText(r, "small", L"\u20AC\u20AC");  // two 3-byte characters into 5 bytes
#if defined(_WIN32)
  EXPECT_EQ(hex("\x80\x80\0\0\0", 5), hex(r.GetRawValue() + 100, 5));
#else
  EXPECT_EQ(hex("\xE2\x82\xAC\0\0", 5), hex(r.GetRawValue() + 100, 5));
#endif

  putText(r, "wsmall", L"ab\U0001F600");  // 4 units into 3
  EXPECT_EQ(hex("a\0b\0\0\0", 6), hex(r.GetRawValue() + 106, 6)) << "a pair is never split";
  putText(r, "wsmall", L"abcd");
  EXPECT_EQ(hex("a\0b\0c\0", 6), hex(r.GetRawValue() + 106, 6));
}

TEST_F(ValueConvetorTest, GetMetaDataOfFieldsAndPaths) {
  BrennicData r("T_Meta", 0);
  r.PutValue("text", "pump");
  r.PutValue("levels[2]", 2.5f);
  r.PutValue("inner.y", static_cast<unsigned short>(300));
  const struct { const char* path; const wchar_t *typeName, *value; int offset; } found[] = {
      {"text", L"char*", L"pump", 48}, {"levels[2]", L"float", L"2.5", 96}, {"inner.y", L"word", L"300", 82},
      {"text[1]", L"char", L"u", 49}};  // one item of a text is one char
  BrennicMetaData meta;
  for (const auto& f : found) {
    ASSERT_EQ(0, r.GetMetaData(f.path, meta)) << f.path;
    EXPECT_STREQ(f.typeName, meta.typeName) << f.path;
    EXPECT_STREQ(f.value, meta.value) << f.path;
    EXPECT_EQ(f.offset, meta.offset) << f.path;
  }
  EXPECT_STREQ(L"text[1]", meta.name) << "the last row's";
  EXPECT_EQ(1, meta.length);

  // Not found, or no text form (a nested element): 0, and the item stays as it was.
  for (const char* path : {"nosuch", "inner.nosuch", "levels[3]", "inner"}) {
    BrennicMetaData untouched;
    untouched.value[0] = L'x';
    EXPECT_EQ(0, r.GetMetaData(path, untouched)) << path;
    EXPECT_STREQ(L"x", untouched.value) << path;
    EXPECT_STREQ(L"", untouched.name) << path;
  }
  EXPECT_EQ(OstrelCode::kIndexOutOfRange, r.GetMetaData(nullptr, meta));
  BrennicData untyped;
  EXPECT_EQ(OstrelCode::kRecordWithoutType, untyped.GetMetaData("u", meta));
}

// Shown texts may be shorter or coarser than the value; putting them back changes no byte.
TEST_F(ValueConvetorTest, PuttingBackWhatWasReadChangesNothing) {
  BrennicData r("T_Long", 0);
  const std::string longText(280, 'x');
  r.PutValue("long", longText.c_str());
  r.PutValue("wlong", std::wstring(290, L'y').c_str());
  r.PutValue("digit", static_cast<unsigned char>('5'));  // shows "5", which parses as 5
  const std::uint64_t payloadNaN = 0x7FF0000000000123ull;
  std::memcpy(r.GetRawValue() + 916, &payloadNaN, 8);
  r.PutValue(kLongName.c_str(), 11u);
  r.PutValue(kPrefixName.c_str(), 22u);
  const std::string before(r.GetRawValue(), r.GetBufferSize());

  BrennicMetaList list;
  ASSERT_EQ(0, r.GetMetaDataList(list));
  ASSERT_EQ(7, list.count);
  EXPECT_EQ(255u, std::wcslen(item(list, L"long")->value)) << "a long text is cut to the value field";
  EXPECT_EQ(255u, std::wcslen(item(list, L"wlong")->value));
  BrennicMetaData* cutName = item(list, std::wstring(51, L'n'));  // both names show alike
  EXPECT_STREQ(L"unsigned_int", cutName->typeName);
  EXPECT_STREQ(L"T_NestedWithALo", item(list, L"nested")->typeName) << "type names keep 15 characters";
  EXPECT_STREQ(L"5", item(list, L"digit")->value);
  EXPECT_STREQ(L"nan", item(list, L"d")->value);
  for (int i = 0; i < list.count; ++i) EXPECT_EQ(0, list.items[i]->offset) << "offsets are GetMetaData's only";

  EXPECT_EQ(0, r.PutMetaDataList(list));
  EXPECT_EQ(before, std::string(r.GetRawValue(), r.GetBufferSize()));

  ostrel::data::copyWideCut(L"short", item(list, L"long")->value, BrennicMetaData::kValueCapacity);
  for (int i = 0; i < list.count; ++i) {
    if (std::wcslen(list.items[i]->name) == 51) std::wcscpy(list.items[i]->value, L"99");
  }
  r.PutMetaDataList(list);
  EXPECT_STREQ("short", r.GetStringValue("long"));
  EXPECT_EQ(22u, r.GetUnSignedIntValue(kPrefixName.c_str())) << "a cut name must not hit another element";
  EXPECT_EQ(11u, r.GetUnSignedIntValue(kLongName.c_str()));
  EXPECT_EQ(before.substr(300), std::string(r.GetRawValue() + 300, r.GetBufferSize() - 300));

  BrennicData untyped;
  EXPECT_EQ(OstrelCode::kRecordWithoutType, untyped.GetMetaDataList(list));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items);
}

TEST_F(ValueConvetorTest, PutMetaDataIgnoresWhatItCannotWrite) {
  BrennicData r("T_Meta", 0);
  std::memset(r.GetRawValue(), 0x11, r.GetBufferSize());
  const std::string before(r.GetRawValue(), r.GetBufferSize());
  auto put = [&](const wchar_t* typeName, const wchar_t* name, const wchar_t* value) {
    BrennicMetaData meta;
    std::wcscpy(meta.typeName, typeName);
    std::wcscpy(meta.name, name);
    std::wcscpy(meta.value, value);
    BrennicData again(r);
    EXPECT_EQ(0, r.PutMetaData(meta)) << "PutMetaData reports nothing";
    return ValueConvetor::shared().put(again, meta);
  };
  using O = ValueConvetor::Outcome;
  EXPECT_EQ(O::kNoRoutine, put(L"T_Inner", L"inner", L"1"));
  EXPECT_EQ(O::kNotWritten, put(L"word", L"nosuch", L"1"));
  EXPECT_EQ(O::kNotWritten, put(L"word", L"levels[x]", L"1")) << "a bad index does not throw";
  EXPECT_EQ(O::kNotWritten, put(L"word", L"levels[9]", L"1"));
  EXPECT_EQ(O::kUnparsed, put(L"word", L"w", L"one"));
  EXPECT_EQ(before, std::string(r.GetRawValue(), r.GetBufferSize()));
  EXPECT_EQ(O::kUnchanged, put(L"word", L"w", L"4369")) << "0x1111 is there already";
  EXPECT_EQ(O::kStored, put(L"word", L"w", L"1"));
  EXPECT_EQ(1, r.GetUnsignedShortValue("w"));
}

}  // namespace
