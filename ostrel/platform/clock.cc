#include "ostrel/platform/clock.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <time.h>
#  include <cerrno>
#endif

namespace ostrel {
namespace platform {

std::int64_t nowSeconds() {
#if defined(_WIN32)
  return static_cast<std::int64_t>(_time64(nullptr));
#else
  return static_cast<std::int64_t>(::time(nullptr));
#endif
}

std::int64_t systemSeconds() {
#if defined(_WIN32)
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr std::int64_t kSeconds1601To1970 = 11644473600;
  return static_cast<std::int64_t>(ticks / 10000000u) - kSeconds1601To1970;
#else
  return nowSeconds();
#endif
}

std::int32_t nowSeconds32() {
  // Keep the low 32 bits (two's complement), like a cast of the 64-bit clock would on the
  // original platform, without relying on implementation-defined narrowing.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(nowSeconds() & 0xffffffffu));
}

bool localTime(std::int64_t seconds, std::tm* out) {
  if (out == nullptr) return false;
#if defined(_WIN32)
  // _localtime64_s fills its output with -1 when it refuses a time: split into a copy.
  __time64_t t = static_cast<__time64_t>(seconds);
  std::tm result{};
  if (_localtime64_s(&result, &t) != 0) return false;
  *out = result;
  return true;
#else
  time_t t = static_cast<time_t>(seconds);
  std::tm result{};
  if (localtime_r(&t, &result) == nullptr) return false;
  *out = result;
  return true;
#endif
}

void sleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
#if defined(_WIN32)
  ::Sleep(static_cast<DWORD>(milliseconds));
#else
  timespec rest{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  // Sleep the full time even when a signal interrupts the wait.
  while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
#endif
}

}  // namespace platform
}  // namespace ostrel
