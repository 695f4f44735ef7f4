// How the middleware's client runs a wait on a server, for the flat client API and for callers
// of the remote port service alike: the call time-out that goes with a wait, and a long wait cut
// into short remote waits so that ending the client ends every wait in flight.
//
// Header only; every function may be called from any thread.
#pragma once

#include <algorithm>
#include <chrono>

namespace kxWaits {

// How much longer than its own wait a receive or reply wait may take on the wire.
constexpr int kMarginMs = 2000;
// The longest one remote wait lasts: a longer wait, or one without limit, is a series of them.
constexpr int kSliceMs = 1000;
// What a wait answers when it ended with nothing to receive (the middleware's code).
constexpr int kNothingReceived = 2008;

// The call time-out of a remote call that waits up to `waitMs` on the server: 0 (the
// reference's own) for no wait, -1 (no limit) for a wait without limit, else waitMs plus the
// margin.
inline int callTimeOut(int waitMs) {
  if (waitMs == 0) return 0;
  if (waitMs < 0) return -1;
  return waitMs > 0x7fffffff - kMarginMs ? 0x7fffffff : waitMs + kMarginMs;
}

// Runs `wait(sliceMs)`, one bounded remote wait that returns a code, until it answers anything
// but kNothingReceived or `timeoutMs` has passed (negative: never). Before every slice after the
// first, `ended()` is asked; when true the wait gives up with `endedCode`.
template <typename Ended, typename Wait>
int inSlices(int timeoutMs, Ended ended, int endedCode, Wait wait) {
  if (timeoutMs >= 0 && timeoutMs <= kSliceMs) return wait(timeoutMs);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (ended()) return endedCode;
    long long slice = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      slice = std::min<long long>(slice, std::max<long long>(0, left));
    }
    const int rc = wait(static_cast<int>(slice));
    if (rc != kNothingReceived || (timeoutMs >= 0 && Clock::now() >= deadline)) return rc;
  }
}

}  // namespace kxWaits
