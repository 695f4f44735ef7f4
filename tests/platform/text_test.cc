#include "ostrel/platform/text.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

using ostrel::platform::ansiToWide;
using ostrel::platform::utf16LeToWide;
using ostrel::platform::utf16Length;
using ostrel::platform::wideToAnsi;
using ostrel::platform::writeUtf16Le;

TEST(TextTest, WideToUtf16IncludesTheNulAndStopsAtTheLimit) {
  char out[12];
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(writeUtf16Le(L"A\U0001F600", out, sizeof(out)), 8u);
  EXPECT_EQ(std::string(out, 8), std::string("A\0\x3d\xd8\x00\xde\0\0", 8));
  EXPECT_EQ(out[8], '#');
  EXPECT_EQ(utf16Length(L"A\U0001F600"), 3u);

  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(writeUtf16Le(L"abc", out, 3), 3u) << "a unit cut by the limit keeps its first byte";
  EXPECT_EQ(std::string(out, 4), std::string("a\0b#", 4));
  EXPECT_EQ(writeUtf16Le(nullptr, out, 3), 0u);
  EXPECT_EQ(writeUtf16Le(L"abc", out, 0), 0u);
}

TEST(TextTest, Utf16BackToWide) {
  const char units[] = "h\0\xe9\0\x3d\xd8\x00\xde" "\x00\xdc" "\0\0z\0";
  EXPECT_EQ(utf16LeToWide(units, 7), std::wstring(L"h\u00e9\U0001F600\uFFFD"))
      << "a lone low surrogate becomes U+FFFD; the NUL ends the text";
}

TEST(TextTest, AnsiIsUtf8OnThisPlatform) {
  EXPECT_EQ(ansiToWide(std::string("Gr\xc3\xbc\xc3\x9f" "e")), L"Gr\u00fc\u00dfe");
  EXPECT_EQ(wideToAnsi(L"Gr\u00fc\u00dfe"), "Gr\xc3\xbc\xc3\x9f" "e");
  EXPECT_EQ(ansiToWide(std::string("a\xff" "b")), L"a\uFFFDb");
  EXPECT_EQ(ansiToWide(std::string("\xe2\x82")), L"\uFFFD\uFFFD") << "a cut sequence";

  wchar_t out[4];
  EXPECT_EQ(ansiToWide("abcdef", out, 4), 3u);
  EXPECT_EQ(std::wstring(out), L"abc") << "cut to the capacity with its NUL";
}

}  // namespace
