// Text conversion: the platform's wide text, 16-bit UTF-16 units and the "ANSI code page".
//
// wchar_t is 16-bit UTF-16 on Windows and 32-bit UTF-32 on POSIX; inside a record a `wchar` item
// is always one UTF-16 unit, stored little-endian. The ANSI code page is the process's code
// page on Windows (GetACP) and UTF-8 everywhere else. Malformed input (a lone surrogate, an
// invalid UTF-8 sequence, a code point beyond U+10FFFF) becomes U+FFFD, except on Windows, where
// wide text and UTF-16 units are the same thing and are copied as they are, and where a
// character outside the code page becomes the system's replacement character. Nothing here
// throws except std::bad_alloc from the std::string forms.
//
// All functions may be called from any thread; none keeps state. Functions that write into a
// caller's buffer never write more than the capacity they are given.
#pragma once

#include <cstddef>
#include <string>

namespace ostrel {
namespace platform {

// Writes `text` as UTF-16 units, little-endian, including the terminating NUL unit, into
// `out`, stopping after `outBytes` bytes (a unit cut by the limit keeps its first byte).
// Returns the number of bytes written. A null `text` writes nothing. Does not allocate.
std::size_t writeUtf16Le(const wchar_t* text, char* out, std::size_t outBytes);

// The number of UTF-16 units of `text`, without the terminating NUL.
std::size_t utf16Length(const wchar_t* text);

// Converts `count` UTF-16 units (read little-endian from `bytes`) to the platform's wide text;
// stops early at a NUL unit.
std::wstring utf16LeToWide(const char* bytes, std::size_t count);

// Converts ANSI-code-page text to the platform's wide text, writing at most `capacity` wide
// characters into `out` including a terminating NUL (the text is cut to fit). Returns the
// number of characters written without the NUL. `capacity` 0 writes nothing.
std::size_t ansiToWide(const char* text, wchar_t* out, std::size_t capacity);

// Copies `text` into `out` with a terminating NUL, cut to `capacity` - 1 bytes at the last
// whole UTF-8 character that fits, so no character is left half. A null `text` gives the empty
// text; `capacity` 0 writes nothing. Returns the number of bytes copied without the NUL.
std::size_t copyTextCut(const char* text, char* out, std::size_t capacity);

std::wstring ansiToWide(const std::string& text);
std::string wideToAnsi(const std::wstring& text);

// The two conversions to wide text, into `out`: its content is replaced and its capacity kept,
// so that converting into one string over and over allocates only when a text outgrows it.
// ansiToWide reads `length` bytes of `text` (NULs included).
void utf16LeToWide(const char* bytes, std::size_t count, std::wstring& out);
void ansiToWide(const char* text, std::size_t length, std::wstring& out);

}  // namespace platform
}  // namespace ostrel
