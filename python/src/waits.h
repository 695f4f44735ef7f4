// How the binding waits so that Ctrl-C ends any wait within a fifth of a second.
//
// Python runs signal handlers (KeyboardInterrupt) on the main thread only, and only while that
// thread holds the GIL, so a call that sits in the library for seconds hides Ctrl-C until it
// returns. Two ways out, both with the GIL released while waiting:
//
// * Receives and reply waits run as a series of short waits (waitInSlices, waitInSlicesKept):
//   each slice is a library wait of at most kSliceMs; between slices that returned nothing the
//   signals are checked. A slice that got a message returns it, so a message is either handed
//   to Python or still queued on the server, never taken and dropped.
// * Calls to a server in another process (one that may be frozen) made from the main thread run
//   on a helper thread (interruptible) while the main thread waits in slices; on Ctrl-C the
//   caller gets KeyboardInterrupt at once and the helper finishes the abandoned call (bounded by
//   the middleware's call time-out) and drops its result, except for a receive slice, which its
//   object keeps (Parked) so that its next receive returns what the slice took. Such a call
//   therefore owns everything it touches: it captures copies and shared pointers, never
//   references to the caller's frame. Calls to the embedded server and calls from other threads
//   run inline.
//
// Every function here needs the GIL unless it says otherwise.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <pybind11/pybind11.h>

#include "codes.h"

namespace pyostrel {

namespace py = pybind11;

// The longest the binding waits with the GIL released before it looks at the signals.
constexpr int kSliceMs = 200;

// Forgets which servers are the embedded one, after the settings changed.
void settingsChanged();

// Raises KeyboardInterrupt (or whatever a signal handler raised) when a signal is pending.
void checkSignals();

// Runs `call` (which owns its state; see above) with the GIL released: on a helper thread while
// this thread waits in slices when it is the main thread and `server` is not the embedded one,
// else inline. Returns the call's code; raises when a signal handler raises meanwhile.
int interruptible(const std::optional<std::string>& server, std::function<int()> call);

// Runs `call` like interruptible for a server in another process, whatever server it reaches.
int interruptibleAnywhere(std::function<int()> call);

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

struct Job;

// A receive slice that Ctrl-C abandoned while it ran on a helper, kept by the receiving object
// with the state it fills, so that the next receive of that object collects what it took.
struct Parked {
  std::shared_ptr<Job> job;
  std::shared_ptr<void> state;
  explicit operator bool() const { return static_cast<bool>(job); }
};

// One slice of a kept receive: the state it fills (the caller's, held until it is read) and the
// call that fills it, which owns what it touches.
struct Slice {
  std::shared_ptr<void> state;
  std::function<int()> call;
};

// Like waitInSlices, for receives that take messages: each slice is makeSlice(ms), run like
// interruptible (so a frozen server does not hide Ctrl-C either). A slice that is still running
// when Ctrl-C comes is kept in `parked` rather than dropped, and the next call with the same
// `parked` first waits for it again. Returns the code of the slice whose state is left in
// `state` (the last one).
int waitInSlicesKept(const std::optional<std::string>& server, int timeoutMs, Parked& parked,
                     const std::function<Slice(int)>& makeSlice, std::shared_ptr<void>& state);

// Runs `call` like releaseLater once the slice kept in `parked` (if any) has ended: for closing
// a connection whose wait Ctrl-C abandoned.
void releaseAfter(const std::optional<std::string>& server, Parked parked, std::function<int()> call);

// Waits (GIL released) for the calls still running on helper
// threads, at most `ms`; true when none is left. For the library's end.
bool drainHelpers(int ms);

}  // namespace pyostrel
