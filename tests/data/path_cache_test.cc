// Resolved paths kept per type: a kept answer is the walk's answer, a refused path is walked
// again, a rebound name starts afresh, and readers on many threads fill and read the caches of
// new types while another thread keeps making them.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/result_codes.h"
#include "ostrel/data/field_path.h"
#include "ostrel/data/type_mgr.h"

namespace {

using ostrel::data::FieldLocation;
using ostrel::data::locateField;

void push(TarnDataType& parent, const char* name, TarnDataType* type, unsigned short offset, unsigned short count = 1) {
  parent.PushElement(name, new DataVariable{type, name, offset, count});
}

// "offset+size element", "code N" or "throws".
std::string answer(const TarnDataType* type, const char* path, decltype(&locateField) locate = locateField) {
  FieldLocation at;
  try {
    const int rc = locate(type, path, at);
    return rc != 0 ? "code " + std::to_string(rc) : std::to_string(at.offset) + "+" + std::to_string(at.size);
  } catch (const boost::bad_lexical_cast&) {
    return "throws";
  }
}

struct Types {
  TarnDataType dbl{"double", 8}, byte{"byte", 1}, inner{"Inner", 16}, outer{"Outer", 100}, big{"Big", 65535};
  Types() {
    push(inner, "y", &dbl, 8);
    push(outer, "inners", &inner, 8, 3);
    push(outer, "bytes", &byte, 56, 1100);
    push(outer, "untyped", nullptr, 96);
    push(big, "big", &big, 65535, 65535);  // malformed: offsets past 32 bits
  }
};

TEST(PathCache, KeepsOnlyResolvedPathsWithTheWalksAnswer) {
  Types t;
  for (const char* path : {"inners[2].y", "inners..y", ".inners[]", "bytes", "inners[1][2]", "inners[3]", "inners[x]",
                           "untyped.x", "Bytes", "bytes.x", "", "..", static_cast<const char*>(nullptr)}) {
    const std::string walked = answer(&t.outer, path, ostrel::data::walkField);
    for (int round = 0; round < 2; ++round) EXPECT_EQ(walked, answer(&t.outer, path)) << (path ? path : "null");
  }
  EXPECT_EQ(4u, t.outer.cachedPaths()->size()) << "the four resolved paths";
  EXPECT_EQ("code " + std::to_string(OstrelCode::kInvalidRecord), answer(&t.big, "big[65534].big[65534]"));

  EXPECT_EQ("code " + std::to_string(OstrelCode::kElementNotFound), answer(&t.outer, "inners[1].late"));
  push(t.inner, "late", &t.byte, 4);
  EXPECT_EQ("28+1", answer(&t.outer, "inners[1].late")) << "refused before the element existed";

  for (int i = 0; i < 1100; ++i) {
    EXPECT_EQ(std::to_string(56 + i) + "+1", answer(&t.outer, ("bytes[" + std::to_string(i) + "]").c_str()));
  }
  EXPECT_EQ(ostrel::data::PathCache::kMaxEntries, t.outer.cachedPaths()->size()) << "answered past the limit";
}

// Rebinds "Gauge" as a stream build would. Never builds, so it needs no resolver.
struct Rebinder : TarnTypeMgr {
  TarnDataType* bind(unsigned short offset) {
    TarnDataType* type = createDataTypeFromStream("Gauge", 16);
    createFromStream(type, {StreamDT_INFO{"double", "value", 1, offset}});
    return type;
  }
};

TEST(PathCache, AReboundNameStartsAfreshWhileTheOldTypeKeepsItsAnswers) {
  Rebinder types;
  TarnDataType* first = types.bind(0);
  EXPECT_EQ("0+8", answer(first, "value"));
  TarnDataType* second = types.bind(8);
  ASSERT_EQ(second, types.CheckDataType("Gauge"));
  EXPECT_EQ("8+8", answer(second, "value"));
  EXPECT_EQ("0+8", answer(first, "value"));
}

// Each new type places "bytes" 8 x (size - 200) bytes further on, so a reader can tell from the
// type alone where every path must land; a torn or foreign entry lands elsewhere.
TEST(PathCache, ReadersOnManyThreadsWhileNewTypesAreMade) {
  Types t;
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) paths.push_back("bytes[" + std::to_string(i) + "]");
  std::vector<std::unique_ptr<TarnDataType>> made;
  std::atomic<TarnDataType*> current{nullptr};
  std::atomic<long> rounds{0}, wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      for (const TarnDataType* type; (type = current.load()) != &t.outer; ++rounds) {
        for (std::size_t i = 0; type != nullptr && i < paths.size(); ++i) {
          FieldLocation at;
          const int rc = locateField(type, paths[i].c_str(), at);
          if (rc != 0 || at.offset != 8u * (type->GetTypeSize() - 200u) + 56 + i) ++wrong;
        }
      }
    });
  }
  for (int g = 0; g < 100; ++g) {
    made.push_back(std::make_unique<TarnDataType>("Gauge", 200 + g % 8));
    push(*made.back(), "bytes", &t.byte, 8 * (g % 8) + 56, 64);
    const long seen = rounds.load();
    current.store(made.back().get());
    while (rounds.load() < seen + 4) std::this_thread::yield();
  }
  current.store(&t.outer);  // the readers' signal to stop
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(0, wrong.load());
}

}  // namespace
