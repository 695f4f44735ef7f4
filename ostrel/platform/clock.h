// Clock and sleep: the only place the library reads the wall clock or puts a thread to sleep.
//
// All functions may be called from any thread; none keeps state.
#pragma once

#include <cstdint>
#include <ctime>

namespace ostrel {
namespace platform {

// Wall-clock time in whole seconds since 1970 (64-bit).
std::int64_t nowSeconds();

// nowSeconds() truncated to a signed 32-bit number, as the connector's scan bookkeeping keeps it.
// Wraps in 2038; compare two such values only as differences of nearby times.
std::int32_t nowSeconds32();

// The system clock in whole seconds since 1970 UTC, as the heartbeat tasks read it: on Windows
// GetSystemTimeAsFileTime (100 ns units since 1601), elsewhere the clock of nowSeconds().
std::int64_t systemSeconds();

// Splits `seconds` since 1970 into local calendar time. Returns false when the time cannot be
// represented (then `out` is unchanged).
bool localTime(std::int64_t seconds, std::tm* out);

// Blocks the calling thread for at least `milliseconds` (0 or less: returns at once).
void sleepMilliseconds(int milliseconds);

}  // namespace platform
}  // namespace ostrel
