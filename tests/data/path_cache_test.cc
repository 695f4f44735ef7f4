// Resolved paths kept per type: a kept answer is the walk's answer for every kind of path, a
// refused path is walked again (an element added later resolves it), a rebound name starts
// afresh, and readers on many threads fill and read the caches of new types while another
// thread keeps making them.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/field_path.h"
#include "ostrel/data/type_mgr.h"

namespace {

using ostrel::data::FieldLocation;
using ostrel::data::PathCache;
using Locate = int (*)(const TarnDataType*, const char*, FieldLocation&);

void push(TarnDataType& parent, const char* name, TarnDataType* type, unsigned short offset,
          unsigned short count = 1) {
  DataVariable* v = new DataVariable;
  v->type = type;
  v->name = name;
  v->offset = offset;
  v->count = count;
  parent.PushElement(name, v);
}

// "offset+size element", "code N" or "throws".
std::string answer(Locate locate, const TarnDataType* type, const char* path) {
  FieldLocation where;
  try {
    const int code = locate(type, path, where);
    if (code != OstrelCode::kOk) return "code " + std::to_string(code);
    return std::to_string(where.offset) + "+" + std::to_string(where.size) + " " + where.element->name;
  } catch (const boost::bad_lexical_cast&) {
    return "throws";
  }
}

struct Types {
  TarnDataType dbl{"double", 8}, byte{"byte", 1}, inner{"Inner", 16}, outer{"Outer", 100}, big{"Big", 65535};
  Types() {
    push(inner, "x", &dbl, 0);
    push(inner, "y", &dbl, 8);
    push(outer, "value", &dbl, 0);
    push(outer, "inners", &inner, 8, 3);
    push(outer, "bytes", &byte, 56, 1100);
    push(outer, "untyped", nullptr, 96);
    push(big, "big", &big, 65535, 65535);  // malformed: offsets past 32 bits
  }
};

TEST(PathCache, KeptAnswersEqualTheWalkForEveryKindOfPath) {
  Types t;
  const std::pair<const TarnDataType*, const char*> rows[] = {
      {&t.outer, "value"}, {&t.outer, "inners[2].y"}, {&t.outer, "inners..x"}, {&t.outer, ".inners[]"},
      {&t.outer, "inners[1][2]"}, {&t.outer, "inners[3]"}, {&t.outer, "inners[-1]"}, {&t.outer, "inners[x]"},
      {&t.outer, "untyped"}, {&t.outer, "untyped.x"}, {&t.outer, "Value"}, {&t.outer, "value.x"},
      {&t.outer, ""}, {&t.outer, ".."}, {&t.outer, nullptr}, {nullptr, "value"},
      {&t.big, "big[65534].big[65534]"}, {&t.big, "big[1].big[2]"}};
  for (const auto& [type, path] : rows) {
    const std::string label = path != nullptr ? path : "(null)";
    const std::string walked = answer(ostrel::data::walkField, type, path);
    EXPECT_EQ(walked, answer(ostrel::data::locateField, type, path)) << label;
    EXPECT_EQ(walked, answer(ostrel::data::locateField, type, path)) << label << ", again";
    if (type == nullptr || path == nullptr) continue;
    FieldLocation kept;
    const bool cached = type->cachedPaths() != nullptr &&
                        type->cachedPaths()->find(path, PathCache::hash(path), kept);
    EXPECT_EQ(walked.find('+') != std::string::npos, cached) << label << ": only resolved paths are kept";
  }
  EXPECT_EQ(4u, t.outer.cachedPaths()->size());
}

TEST(PathCache, ARefusedPathResolvesOnceItsElementIsAdded) {
  Types t;
  EXPECT_EQ("code " + std::to_string(OstrelCode::kElementNotFound), answer(ostrel::data::locateField, &t.outer, "late"));
  EXPECT_EQ("code " + std::to_string(OstrelCode::kElementNotFound), answer(ostrel::data::locateField, &t.outer, "inners[1].late"));
  push(t.outer, "late", &t.dbl, 64);
  push(t.inner, "late", &t.byte, 4);
  EXPECT_EQ("64+8 late", answer(ostrel::data::locateField, &t.outer, "late"));
  EXPECT_EQ("28+1 late", answer(ostrel::data::locateField, &t.outer, "inners[1].late"));
}

TEST(PathCache, KeepsAtMostItsLimitAndStillAnswersBeyondIt) {
  Types t;
  for (int i = 0; i < 1100; ++i) {
    const std::string path = "bytes[" + std::to_string(i) + "]";
    EXPECT_EQ(std::to_string(56 + i) + "+1 bytes", answer(ostrel::data::locateField, &t.outer, path.c_str()));
  }
  EXPECT_EQ(PathCache::kMaxEntries, t.outer.cachedPaths()->size());
  EXPECT_EQ("1079+1 bytes", answer(ostrel::data::locateField, &t.outer, "bytes[1023]")) << "kept, after growing";
}

// Rebinds a name as a stream build would, to a type with "value" at another offset. Never
// builds, so it needs no resolver.
class Rebinder : public TarnTypeMgr {
 public:
  TarnDataType* bind(const char* name, unsigned short offset) {
    TarnDataType* type = createDataTypeFromStream(name, 16);
    StreamDT_INFO value;
    value.typeName = "double";
    value.name = "value";
    value.count = 1;
    value.offset = offset;
    createFromStream(type, {value});
    return type;
  }
};

TEST(PathCache, AReboundNameStartsAfreshWhileTheOldTypeKeepsItsAnswers) {
  Rebinder types;
  TarnDataType* first = types.bind("Gauge", 0);
  EXPECT_EQ("0+8 value", answer(ostrel::data::locateField, first, "value"));
  TarnDataType* second = types.bind("Gauge", 8);
  ASSERT_EQ(second, types.CheckDataType("Gauge"));
  EXPECT_EQ(nullptr, second->cachedPaths());
  EXPECT_EQ("8+8 value", answer(ostrel::data::locateField, second, "value"));
  EXPECT_EQ("0+8 value", answer(ostrel::data::locateField, first, "value"));
}

// Each new type places its fields 8 x (size - 200) bytes further on, so a reader can tell from
// the type alone where every path must land; a torn or foreign entry lands elsewhere.
TEST(PathCache, ReadersOnManyThreadsWhileNewTypesAreMade) {
  Types t;
  std::vector<std::string> paths = {"inners[1].y"};
  for (int i = 0; i < 40; ++i) paths.push_back("bytes[" + std::to_string(i) + "]");
  std::vector<std::unique_ptr<TarnDataType>> made;
  std::atomic<TarnDataType*> current{nullptr};
  std::atomic<bool> done{false};
  std::atomic<long> lookups{0}, wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        const TarnDataType* type = current.load();
        if (type == nullptr) continue;
        const unsigned shift = 8u * (type->GetTypeSize() - 200u);
        for (std::size_t i = 0; i < paths.size(); ++i) {
          FieldLocation where;
          const unsigned expected = i == 0 ? shift + 32 : shift + 56 + static_cast<unsigned>(i - 1);
          if (ostrel::data::locateField(type, paths[i].c_str(), where) != 0 || where.offset != expected) ++wrong;
        }
        ++lookups;
      }
    });
  }
  for (int g = 0; g < 100; ++g) {
    made.push_back(std::make_unique<TarnDataType>("Gauge", 200 + g % 8));
    push(*made.back(), "inners", &t.inner, 8 * (g % 8) + 8, 3);
    push(*made.back(), "bytes", &t.byte, 8 * (g % 8) + 56, 64);
    const long seen = lookups.load();
    current.store(made.back().get());
    while (lookups.load() < seen + 4) std::this_thread::yield();
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(0, wrong.load());
}

}  // namespace
