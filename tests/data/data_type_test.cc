#include "ostrel/data/data_type.h"

#include <utility>

#include <gtest/gtest.h>

namespace {

DataVariable* variable(const char* name, unsigned short offset, unsigned short count = 1) {
  DataVariable* v = new DataVariable;
  v->name = name;
  v->offset = offset;
  v->count = count;
  return v;
}

TEST(DataTypeTest, FirstDefinitionOfANameWinsAndOrderIsKept) {
  TarnDataType type("Pump", 16);
  EXPECT_TRUE(type.GetAllElement().empty());
  EXPECT_EQ(type.GetElement("anything"), nullptr);

  DataVariable* zeta = variable("zeta", 0);
  type.PushElement("zeta", zeta);
  type.PushElement("alpha", variable("alpha", 4));
  type.PushElement("zeta", variable("zeta", 8));  // deleted at once (the sanitizer checks)

  EXPECT_EQ(type.GetElement("zeta"), zeta);
  EXPECT_EQ(type.GetElement("zeta")->offset, 0);
  ASSERT_EQ(type.GetAllElement().size(), 2u);
  EXPECT_EQ(type.GetAllElement()[0].first, "zeta") << "insertion order, not alphabetical";
  EXPECT_EQ(type.GetAllElement()[1].first, "alpha");
}

TEST(DataTypeTest, LookupIsExactAndInterpretsNoPath) {
  TarnDataType inner("Inner", 4);
  inner.PushElement("b", variable("b", 0));
  TarnDataType outer("Outer", 4);
  DataVariable* a = variable("a", 0);
  a->type = &inner;
  outer.PushElement("a", a);
  // Case matters; a dotted or indexed name is a plain name here.
  for (const char* name : {"A", "a.b", "a[0]", static_cast<const char*>(nullptr)})
    EXPECT_EQ(outer.GetElement(name), nullptr) << (name ? name : "null");

  int first = 7, second = 9;
  EXPECT_FALSE(outer.getCache("k", first, second));
  EXPECT_EQ(std::make_pair(7, 9), std::make_pair(first, second)) << "a cache miss leaves both alone";
  outer.setCache("k", 1, 2);
  outer.setCache("k", 3, 4);
  EXPECT_TRUE(outer.getCache("k", first, second));
  EXPECT_EQ(std::make_pair(3, 4), std::make_pair(first, second)) << "the later entry wins";
}

}  // namespace
