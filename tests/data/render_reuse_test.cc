// Rendering into a string that already holds a text replaces it: the meta list operations render
// every element into one reused string.
#include <string>

#include <gtest/gtest.h>

#include "ostrel/data/value_convertor.h"

namespace {

TEST(RenderReuseTest, EveryTypeReplacesALongerOrShorterText) {
  const ValueConvetor& convertor = ValueConvetor::shared();
  // Bytes that render non-empty for every type: a number, a letter, a text, a UTF-16 text.
  const char bytes[16] = {'A', 0, 'b', 0, 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x40};
  const char* types[] = {"unsigned_int", "signed_int", "char",   "byte", "word",  "wchar", "signed_word",
                         "kx_time",      "kx_time2",   "float",  "double", "char*", "wchar*"};
  for (const std::wstring& before : {std::wstring(300, L'x'), std::wstring(L"y")}) {
    for (const char* type : types) {
      std::wstring fresh, reused = before;
      ASSERT_TRUE(convertor.render(type, bytes, sizeof bytes, fresh)) << type;
      ASSERT_TRUE(convertor.render(type, bytes, sizeof bytes, reused)) << type;
      EXPECT_EQ(reused, fresh) << type << " after a text of " << before.size();
      EXPECT_FALSE(fresh.empty()) << type;
    }
  }
}

}  // namespace
