/// @file
/// How the middleware's client runs a wait on a server, for the flat client API and for callers
/// of the remote port service alike: the call time-out that goes with a wait, a long wait cut
/// into short remote waits so that ending the client ends every wait in flight, and the retries
/// that let a wait ride out a stall (see kxDeliveries.h for why a retry never loses a message).
///
/// Header only; every function may be called from any thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

namespace kxWaits {

/// How much longer than its own wait a receive or reply wait may take on the wire.
constexpr int kMarginMs = 2000;
/// The longest one remote wait lasts: a longer wait, or one without limit, is a series of them.
constexpr int kSliceMs = 1000;
/// What a wait answers when it ended with nothing to receive (the middleware's code).
constexpr int kNothingReceived = 2008;

/// The call time-out of a remote call that waits up to `waitMs` on the server: 0 (the
/// reference's own) for no wait, -1 (no limit) for a wait without limit, else waitMs plus the
/// margin.
inline int callTimeOut(int waitMs) {
  if (waitMs == 0) return 0;
  if (waitMs < 0) return -1;
  return waitMs > 0x7fffffff - kMarginMs ? 0x7fffffff : waitMs + kMarginMs;
}

/// How long a wait without limit rides out a server from which no answer at all arrives (a stall,
/// a cut cable) before it gives up with the code of the lost answer.
constexpr int kStallGraceMs = 30000;
/// How long a wait pauses after an attempt that got no answer, before it tries again.
constexpr int kRetryPauseMs = 100;

/// Runs `wait(sliceMs)`, one bounded remote wait that returns a code, until it answers anything
/// but kNothingReceived or `timeoutMs` has passed (negative: never). Before every slice after the
/// first, `ended()` is asked; when true the wait gives up with `endedCode`.
///
/// An attempt whose answer may still come (`lost(code)`: a call time-out, or a server that does not
/// answer after one) is tried again after a short pause, carrying the same delivery tag, until an
/// attempt made after the wait's limit has failed too: a bounded wait ends within its limit, the
/// call margin twice and a pause (a wait without limit: once no answer has come for kStallGraceMs).
/// So a stall shorter than the limit delays the answer, and never fails the wait.
template <typename Ended, typename Lost, typename Wait>
int inSlices(int timeoutMs, Ended ended, int endedCode, Lost&& lost, Wait wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  const Clock::time_point lastTry = deadline + std::chrono::milliseconds(kMarginMs);
  Clock::time_point answered = start;  // when an answer last arrived
  for (bool first = true;; first = false) {
    if (!first && ended()) return endedCode;
    long long slice = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      slice = std::min<long long>(slice, std::max<long long>(0, left));
    }
    const Clock::time_point tried = Clock::now();
    const int rc = wait(static_cast<int>(slice));
    const Clock::time_point now = Clock::now();
    if (lost(rc)) {
      // A bounded wait gives up once an attempt made after its limit found no answer either.
      const bool givenUp = timeoutMs >= 0 ? tried >= deadline && now >= lastTry
                                          : now - answered >= std::chrono::milliseconds(kStallGraceMs);
      if (givenUp) return rc;
      std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
      continue;
    }
    answered = now;
    if (rc != kNothingReceived || (timeoutMs >= 0 && now >= deadline)) return rc;
  }
}

}  // namespace kxWaits
