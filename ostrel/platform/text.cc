#include "ostrel/platform/text.h"

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace ostrel {
namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

[[maybe_unused]] bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Calls `emit(unit)` for each UTF-16 unit of `text` (without the NUL) until `emit` returns
// false.
template <typename Emit>
void forEachUtf16Unit(const wchar_t* text, Emit emit) {
#if defined(_WIN32)
  for (; *text != 0; ++text) {
    if (!emit(static_cast<char16_t>(*text))) return;
  }
#else
  for (; *text != 0; ++text) {
    char32_t c = static_cast<char32_t>(*text);
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x10000) {
      if (!emit(static_cast<char16_t>(c))) return;
    } else {
      c -= 0x10000;
      if (!emit(static_cast<char16_t>(0xD800 + (c >> 10)))) return;
      if (!emit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)))) return;
    }
  }
#endif
}

#if !defined(_WIN32)
// Decodes one UTF-8 sequence at `p` (before `end`); advances `p`. Malformed input yields
// U+FFFD and consumes one byte.
char32_t decodeUtf8(const unsigned char*& p, const unsigned char* end) {
  unsigned char lead = *p++;
  if (lead < 0x80) return lead;
  int more;
  char32_t c;
  char32_t min;
  if ((lead & 0xE0) == 0xC0) {
    more = 1, c = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    more = 2, c = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    more = 3, c = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  const unsigned char* q = p;
  for (int i = 0; i < more; ++i, ++q) {
    if (q == end || (*q & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (*q & 0x3F);
  }
  if (c < min || c > 0x10FFFF || isSurrogate(c)) return kReplacement;
  p = q;
  return c;
}

void encodeUtf8(char32_t c, std::string& out) {
  if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}
#endif

}  // namespace

std::size_t writeUtf16Le(const wchar_t* text, char* out, std::size_t outBytes) {
  if (text == nullptr) return 0;
  std::size_t written = 0;
  auto put = [&](char16_t unit) {
    if (written < outBytes) out[written++] = static_cast<char>(unit & 0xFF);
    if (written < outBytes) out[written++] = static_cast<char>(unit >> 8);
    return written < outBytes;
  };
  bool room = outBytes > 0;
  if (room) forEachUtf16Unit(text, [&](char16_t unit) { return room = put(unit); });
  if (room) put(0);
  return written;
}

std::size_t utf16Length(const wchar_t* text) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  forEachUtf16Unit(text, [&](char16_t) { ++n; return true; });
  return n;
}

std::wstring utf16LeToWide(const char* bytes, std::size_t count) {
  std::wstring out;
  utf16LeToWide(bytes, count, out);
  return out;
}

void utf16LeToWide(const char* bytes, std::size_t count, std::wstring& out) {
  out.clear();
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    char16_t unit = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    if (unit == 0) break;
#if defined(_WIN32)
    out += static_cast<wchar_t>(unit);
#else
    char32_t c = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
      char16_t low = static_cast<char16_t>(b[2 * i + 2] | (b[2 * i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (isSurrogate(c)) {
      c = kReplacement;
    }
    out += static_cast<wchar_t>(c);
#endif
  }
}

std::size_t copyTextCut(const char* text, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  std::size_t length = text ? ::strnlen(text, capacity) : 0;
  if (length == capacity) {
    length = capacity - 1;
    // Back up over continuation bytes (10xxxxxx) so the cut falls before a character's start.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  if (length) std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

std::wstring ansiToWide(const std::string& text) {
  std::wstring out;
  ansiToWide(text.data(), text.size(), out);
  return out;
}

void ansiToWide(const char* text, std::size_t length, std::wstring& out) {
  out.clear();
  if (length == 0) return;
#if defined(_WIN32)
  int n = MultiByteToWideChar(GetACP(), 0, text, static_cast<int>(length), nullptr, 0);
  out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  if (n > 0) MultiByteToWideChar(GetACP(), 0, text, static_cast<int>(length), &out[0], n);
#else
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  while (p < end) out += static_cast<wchar_t>(decodeUtf8(p, end));
#endif
}

std::size_t ansiToWide(const char* text, wchar_t* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  std::size_t n = 0;
  if (text != nullptr) {
#if defined(_WIN32)
    std::wstring wide = ansiToWide(std::string(text));
    n = wide.size() < capacity - 1 ? wide.size() : capacity - 1;
    std::memcpy(out, wide.data(), n * sizeof(wchar_t));
#else
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    while (p < end && n + 1 < capacity) out[n++] = static_cast<wchar_t>(decodeUtf8(p, end));
#endif
  }
  out[n] = L'\0';
  return n;
}

std::string wideToAnsi(const std::wstring& text) {
#if defined(_WIN32)
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(GetACP(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(GetACP(), 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, nullptr);
  }
  return out;
#else
  std::string out;
  for (wchar_t c : text) encodeUtf8(static_cast<char32_t>(c), out);
  return out;
#endif
}

}  // namespace platform
}  // namespace ostrel
