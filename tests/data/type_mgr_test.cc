// The type manager without any server: base types, the type definition stream (byte-exact, in
// both directions with the stand-in's writer), and what a lookup miss does.
#include "ostrel/data/type_mgr.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tarn/server/type_service.h"
#include "tests/data/type_fixture.h"

namespace {

using data_test::elementNames;
using data_test::packTypes;

const char* const kManagerKey = "kxTarn_service_manager_naming_service_ref";
const char* const kTypeKey = "ref_key_data_template_naming_service";

// A manager of its own, cut off from servers; records each remote lookup it asks for.
class FreshTypes : public TarnTypeMgr {
 public:
  FreshTypes() {
    setReferenceResolver([this](const char* position, const char* key) -> CORBA::Object* {
      asked.emplace_back(position ? position : "(null)", key);
      return CORBA::Object::_nil();
    });
  }
  using TarnTypeMgr::createDataTypeFromStream;
  std::vector<std::pair<std::string, std::string>> asked;
};

// One type "Pt" of 12 bytes with elements "v" (double at 0) and "q" (word at 8, 2 items), laid
// out by hand from the stream's byte tables: {offset, bytes as pairs of hex digits}.
std::vector<char> handMadePtStream() {
  std::vector<char> s(8 + 140 + 2 * 264, 0);
  const std::size_t e0 = 8 + 140, e1 = e0 + 264;
  const std::pair<std::size_t, const char*> bytes[] = {
      {0, "01000000"},        // not read by the manager; the stand-in writes a version
      {4, "01000000"},        // one type record
      {8, "5074"},            // "Pt"
      {8 + 128, "02000000"},  // two element records
      {8 + 136, "0c000000"},  // size 12
      {e0, "646f75626c65"}, {e0 + 128, "76"}, {e0 + 256, "0000"}, {e0 + 260, "0100"},  // double v, at 0, 1 item
      {e1, "776f7264"}, {e1 + 128, "71"}, {e1 + 256, "0800"}, {e1 + 260, "0200"},      // word q, at 8, 2 items
  };
  for (auto [at, hex] : bytes)
    for (; *hex; hex += 2) s.at(at++) = static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return s;
}

TEST(TypeMgrTest, EveryMissRunsOneFullBuildOverTheFourPositions) {
  FreshTypes types;
  for (const char* known : {"unsigned_int", "kx_time2", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(types.GetDataType(known) == nullptr, !known || !*known) << "base types are there";
  EXPECT_TRUE(types.asked.empty()) << "known names and empty names never build";
  EXPECT_EQ(types.GetDataType("Nowhere"), nullptr);
  const std::vector<std::pair<std::string, std::string>> oneBuild = {
      {"own", kManagerKey},    {"own", kTypeKey},
      {"parent", kManagerKey}, {"parent", kTypeKey},
      {"child", kManagerKey},  {"child", kTypeKey},
      {"others", kManagerKey}, {"others", kTypeKey}};
  EXPECT_EQ(types.asked, oneBuild);
  EXPECT_TRUE(types.isBuilt());
  EXPECT_EQ(types.GetDataType("Nowhere"), nullptr);
  EXPECT_EQ(types.asked.size(), 2 * oneBuild.size()) << "a repeated miss builds again";
  EXPECT_EQ(types.CheckDataType("Nowhere"), nullptr);
  EXPECT_EQ(types.asked.size(), 2 * oneBuild.size()) << "CheckDataType never builds";

  types.BuildType();
  EXPECT_EQ(types.asked.size(), 2 * oneBuild.size()) << "BuildType after a completed build";

  for (const char* position : {"parent", static_cast<const char*>(nullptr)}) {
    const std::string shown = position ? position : "(null)";
    FreshTypes fromOne;
    fromOne.BuildTarnDataType(position);
    EXPECT_TRUE(fromOne.isBuilt()) << "a build from one position marks the build done";
    EXPECT_EQ(fromOne.asked, (std::vector<std::pair<std::string, std::string>>{{shown, kManagerKey}, {shown, kTypeKey}}));
  }
}

TEST(TypeMgrTest, HandMadeStreamIsReadAndMatchesTheStandInsWriter) {
  std::vector<char> hand = handMadePtStream();
  auto book = tarn::TypeBook::fromXml(
      R"(<types><type name="Pt" size="12"><element name="q" type="word" offset="8" count="2"/>)"
      R"(<element name="v" type="double" offset="0"/></type></types>)");
  EXPECT_EQ(book->stream(), hand) << "the writer lays elements out by offset, byte for byte";

  FreshTypes types;
  ASSERT_TRUE(types.loadFromStream(hand.data(), hand.size()));
  TarnDataType* pt = types.CheckDataType("Pt");
  ASSERT_NE(pt, nullptr);
  EXPECT_EQ(pt->GetTypeSize(), 12);
  DataVariable* q = pt->GetElement("q");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->offset, 8);
  EXPECT_EQ(q->count, 2);
  EXPECT_EQ(q->type, types.CheckDataType("word"));
  EXPECT_EQ(elementNames(pt), (std::vector<std::string>{"q", "v"}))
      << "a stream-loaded type lists its elements in reverse stream order";
  EXPECT_TRUE(types.asked.empty());
}

TEST(TypeMgrTest, StreamRules) {
  FreshTypes types;
  std::vector<char> none(8, 0);
  EXPECT_TRUE(types.loadFromStream(none.data(), none.size()));
  EXPECT_EQ(types.typeList().size(), 11u) << "a count of 0 adds nothing";

  // "Late" refers to "Early", defined after it; "Dup" lists element "x" twice.
  std::vector<char> s = packTypes({{"Late", 8, {{"Early", "e", 0, 1}}},
                                   {"Early", 8, {{"double", "d", 0, 1}}},
                                   {"Dup", 4, {{"word", "x", 0, 1}, {"signed_word", "x", 2, 1}}}});
  ASSERT_TRUE(types.loadFromStream(s.data(), s.size()));
  EXPECT_EQ(types.CheckDataType("Late")->GetElement("e")->type, types.CheckDataType("Early"));
  EXPECT_EQ(types.CheckDataType("Dup")->GetElement("x")->offset, 2) << "the later record wins";

  // A type already registered keeps its elements.
  std::vector<char> again = packTypes({{"Early", 99, {{"word", "other", 0, 1}}}});
  ASSERT_TRUE(types.loadFromStream(again.data(), again.size()));
  EXPECT_EQ(types.CheckDataType("Early")->GetTypeSize(), 8);
  EXPECT_EQ(elementNames(types.CheckDataType("Early")), std::vector<std::string>{"d"});
}

TEST(TypeMgrTest, ShortOrCorruptStreamsChangeNothing) {
  std::vector<char> good = packTypes({{"A", 4, {{"word", "x", 0, 1}}}, {"B", 4, {}}});
  FreshTypes types;
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::vector<char> cut(good.begin(), good.begin() + n);  // exact length: overruns show in ASan
    EXPECT_FALSE(types.loadFromStream(cut.data(), cut.size())) << "length " << n;
  }
  EXPECT_EQ(types.typeList().size(), 11u);

  std::vector<char> bigCount = good;
  data_test::putU32(bigCount, 4, 0xFFFFFFFFu);
  EXPECT_FALSE(types.loadFromStream(bigCount.data(), bigCount.size()));
  std::vector<char> bigElements = good;
  data_test::putU32(bigElements, 8 + 128, 0x01000000u);
  EXPECT_FALSE(types.loadFromStream(bigElements.data(), bigElements.size()));
  EXPECT_EQ(types.typeList().size(), 11u);

  // A name that fills its whole 128-byte field without a NUL is read up to the field's end.
  std::vector<char> longName = packTypes({{"x", 4, {}}});
  std::memset(&longName[8], 'N', 128);
  ASSERT_TRUE(types.loadFromStream(longName.data(), longName.size()));
  EXPECT_NE(types.CheckDataType(std::string(128, 'N').c_str()), nullptr);
}

TEST(TypeMgrTest, RebindingANameKeepsTheOldTypeAlive) {
  FreshTypes types;
  TarnDataType* first = types.createDataTypeFromStream("R", 4);
  TarnDataType* second = types.createDataTypeFromStream("R", 8);
  EXPECT_EQ(types.CheckDataType("R"), second);
  EXPECT_EQ(first->GetTypeSize(), 4) << "a pointer handed out earlier stays valid";
}

}  // namespace
