// How the binding waits so that Ctrl-C ends any wait within a fifth of a second.
//
// Python runs signal handlers (KeyboardInterrupt) on the main thread only, and only while that
// thread holds the GIL, so a call that sits in the library for seconds hides Ctrl-C until it
// returns. Two ways out, both with the GIL released while waiting:
//
// * Receives and reply waits run as a series of short waits (waitInSlices): each slice is a
//   library wait of at most kSliceMs; between slices that returned nothing the signals are
//   checked. A slice that got a message returns it, so a message is either handed to Python or
//   still queued on the server, never taken and dropped.
// * Other calls to a server in another process (one that may be frozen) made from the main
//   thread run on a helper thread (interruptible) while the main thread waits in slices; on
//   Ctrl-C the caller gets KeyboardInterrupt at once and the helper finishes the abandoned call
//   (bounded by the middleware's call time-out) and drops its result. Such a call therefore owns
//   everything it touches: it captures copies and shared pointers, never references to the
//   caller's frame. Calls to the embedded server and calls from other threads run inline.
//
// Every function here needs the GIL unless it says otherwise.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <pybind11/pybind11.h>

#include "codes.h"

namespace pyostrel {

namespace py = pybind11;

// The longest the binding waits with the GIL released before it looks at the signals.
constexpr int kSliceMs = 200;

// Raises KeyboardInterrupt (or whatever a signal handler raised) when a signal is pending.
void checkSignals();

// Runs `call` (which owns its state; see above) with the GIL released: on a helper thread while
// this thread waits in slices when it is the main thread and `server` is not the embedded one,
// else inline. Returns the call's code; raises when a signal handler raises meanwhile.
int interruptible(const std::optional<std::string>& server, std::function<int()> call);

// Runs `call` like interruptible, but does not wait for it where interruptible would hand it to a
// helper: for closing connections, whose answer nobody needs.
void releaseLater(const std::optional<std::string>& server, std::function<int()> call);

// Runs wait(ms), a library wait that returns kNothingReceived when nothing came within ms, in
// slices of at most kSliceMs until it answers anything else or `timeoutMs` has passed (0: one
// wait that does not wait; negative: no limit). The GIL is released during each slice; the
// signals are checked between slices. Returns the last slice's code.
template <typename Wait>
int waitInSlices(int timeoutMs, Wait wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    long long slice = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      slice = std::min<long long>(slice, std::max<long long>(0, left));
    }
    int rc;
    {
      py::gil_scoped_release unlocked;
      rc = wait(static_cast<int>(slice));
    }
    if (rc != code::kNothingReceived || (timeoutMs >= 0 && Clock::now() >= deadline)) return rc;
    checkSignals();
  }
}

// Waits (GIL released) for the calls still running on helper
// threads, at most `ms`; true when none is left. For the library's end.
bool drainHelpers(int ms);

}  // namespace pyostrel
