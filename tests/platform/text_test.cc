#include "ostrel/platform/text.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#if defined(_WIN32)
#  include <windows.h>
#endif

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
#if defined(_WIN32)
  EXPECT_EQ(utf16LeToWide(units, 7), std::wstring(L"h\u00e9\U0001F600") + wchar_t(0xDC00))
      << "UTF-16 units are the wide text itself, copied as they are; the NUL ends the text";
#else
  EXPECT_EQ(utf16LeToWide(units, 7), std::wstring(L"h\u00e9\U0001F600\uFFFD"))
      << "a lone low surrogate becomes U+FFFD; the NUL ends the text";
#endif
}

#if defined(_WIN32)
std::string systemToAnsi(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(::GetACP(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(::GetACP(), 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring systemToWide(const std::string& text) {
  const int n = ::MultiByteToWideChar(::GetACP(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(::GetACP(), 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

TEST(TextTest, AnsiIsTheProcessCodePageOnWindows) {
  EXPECT_EQ(2u, sizeof(wchar_t));
  // U+03A9 and U+1F600 lie outside the Western code pages: they come back as the system's
  // best fit or replacement, exactly as the system's own conversion gives them.
  const std::wstring text = L"Gr\u00fc\u00dfe \u20ac \u03a9 \U0001F600";
  const std::string ansi = wideToAnsi(text);
  EXPECT_EQ(systemToAnsi(text), ansi) << "code page " << ::GetACP();
  EXPECT_EQ(systemToWide(ansi), ansiToWide(ansi));
  if (::GetACP() == 1252) {
    EXPECT_EQ(std::string("Gr\xfc\xdf" "e \x80 "), ansi.substr(0, 8));
    EXPECT_EQ(L"Gr\u00fc\u00dfe \u20ac ", ansiToWide(ansi).substr(0, 8));
  }
  EXPECT_EQ(std::wstring(L"a\0b", 3), ansiToWide(std::string("a\0b", 3))) << "NULs inside the length are text";
  EXPECT_EQ("", wideToAnsi(L""));

  wchar_t out[4];
  EXPECT_EQ(ansiToWide("abcdef", out, 4), 3u);
  EXPECT_EQ(std::wstring(out), L"abc") << "cut to the capacity with its NUL";
  EXPECT_EQ(ansiToWide(nullptr, out, 4), 0u);
  EXPECT_EQ(out[0], L'\0');
}
#else
TEST(TextTest, AnsiIsUtf8OnThisPlatform) {
  EXPECT_EQ(ansiToWide(std::string("Gr\xc3\xbc\xc3\x9f" "e")), L"Gr\u00fc\u00dfe");
  EXPECT_EQ(wideToAnsi(L"Gr\u00fc\u00dfe"), "Gr\xc3\xbc\xc3\x9f" "e");
  EXPECT_EQ(ansiToWide(std::string("a\xff" "b")), L"a\uFFFDb");
  EXPECT_EQ(ansiToWide(std::string("\xe2\x82")), L"\uFFFD\uFFFD") << "a cut sequence";

  wchar_t out[4];
  EXPECT_EQ(ansiToWide("abcdef", out, 4), 3u);
  EXPECT_EQ(std::wstring(out), L"abc") << "cut to the capacity with its NUL";
}
#endif

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
