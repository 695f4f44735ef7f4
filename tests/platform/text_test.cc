#include "ostrel/platform/text.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

using ostrel::platform::ansiToWide;
using ostrel::platform::copyTextCut;
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

TEST(TextTest, CopyCutKeepsWholeUtf8Characters) {
  struct Case { const char* text; std::size_t capacity; const char* expected; };
  const Case cases[] = {
      {"abc", 4, "abc"},                     // fits with its NUL
      {"abcd", 4, "abc"},                    // one byte too long
      {"ab\xc3\xa9", 4, "ab"},               // é would be split
      {"a\xe2\x82\xac", 5, "a\xe2\x82\xac"}, // € fits exactly
      {"\xe2\x82\xac\xe2\x82\xac", 5, "\xe2\x82\xac"},
      {"\xf0\x9f\x98\x80", 4, ""},           // a 4-byte character in 3 bytes: nothing
      {nullptr, 4, ""},
  };
  for (const Case& c : cases) {
    char out[8];
    std::memset(out, 'x', sizeof out);
    const std::size_t n = copyTextCut(c.text, out, c.capacity);
    EXPECT_STREQ(c.expected, out) << (c.text ? c.text : "(null)");
    EXPECT_EQ(std::strlen(c.expected), n);
    EXPECT_EQ('x', out[c.capacity]) << "nothing written past the capacity";
  }
  char untouched = 'x';
  EXPECT_EQ(0u, copyTextCut("abc", &untouched, 0));
  EXPECT_EQ('x', untouched);
}
