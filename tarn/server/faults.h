// Fault plans of one server: tests make the next N calls of an operation fail on purpose.
//
// Every servant operation starts with `faults.enter("operation")`, which consumes one planned
// fault of that operation, if any: it throws the planned CORBA system exception, returns the
// planned result code (the servant returns it instead of running), or sleeps for the planned
// stall and then lets the operation run. Thread-safe: servants run on the ORB's threads. With
// no plan at all (every server outside tests), enter() reads one flag and takes no lock, so that
// the calls of many clients do not queue on this book's mutex.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "ostrel/api/middleware/kxTarn.h"

namespace tarn {

class FaultBook {
 public:
  enum Mode { kRaise = 0, kReturn = 1, kStall = 2 };

  void plan(const kxTarn::FaultPlan& plan);
  void clear();
  // 0 when the operation should run normally; otherwise the code it must return.
  // May throw a CORBA::SystemException or sleep first, as planned.
  int enter(const char* operation);
  // A step to run in the middle of a file write: it runs the plan of `operation` but only
  // stalls (a planned exception or code is used up and ignored, so the write still ends whole).
  std::function<void()> halfway(const char* operation);

 private:
  struct Planned {
    int mode = kRaise;
    int skip = 0;
    int count = 0;
    std::string exception;
    int code = 0;
    int stallMs = 0;
  };
  std::mutex mutex_;
  std::map<std::string, Planned> plans_;  // GUARDED_BY(mutex_)
  std::atomic<bool> planned_{false};      // !plans_.empty(), written with mutex_ held
};

// Throws the CORBA system exception named `name` ("TRANSIENT", "COMM_FAILURE", "TIMEOUT",
// "NO_RESOURCES", "MARSHAL", "BAD_PARAM", "OBJECT_NOT_EXIST"; anything else: UNKNOWN).
[[noreturn]] void raiseSystemException(const std::string& name);

}  // namespace tarn

// Runs the fault plan of `op` at the top of a servant operation that returns a result code.
#define TARN_FAULT_POINT(book, op)        \
  do {                                    \
    int tarnFault_ = (book).enter(op);    \
    if (tarnFault_ != 0) return tarnFault_; \
  } while (0)
