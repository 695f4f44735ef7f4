// The Python module `ostrel._ostrel`: a thin layer over the library's public operations.
//
// Every area binds itself in one file (records, connection, data points, contention, messaging) through a
// bind* function that module.cc calls; a new area is one more file and one more line there.
// Nothing here re-implements the library: each Python call is one or a few Ostrel:: calls.
//
// Threads and the GIL: every call into the library that may block (a remote call, a connection
// change, anything that takes the connector's locks) runs with the GIL released (`Unlocked`), so
// other Python threads run meanwhile; calls that may wait long do so in a way Ctrl-C can end
// (waits.h), which is why the calls handed to `run` own their state. Library threads that call back into Python (status
// listeners) take the GIL first. Because no thread ever waits for a library lock while holding
// the GIL, a callback waiting for the GIL cannot deadlock against the thread that holds it.
//
// Failures: a nonzero result code becomes ostrel.Error (or its subclass for the code) carrying
// the code and the library's text for it; results are handed over only when complete. Memory:
// lists the library fills are released with their Destory… operation before a call returns;
// Python owns only Python objects and the records it was handed (deep copies).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "codes.h"
#include "waits.h"

class BrennicData;
class TarnDataType;

namespace pyostrel {

namespace py = pybind11;
using Unlocked = py::gil_scoped_release;
using Text = std::optional<std::string>;

// The end of every docstring of a call to a server: what it raises besides its own errors.
#define OSTREL_RAISES_REMOTE                                                                           \
  "ostrel.Unreachable (2015, 2002, 2016) when the server is not connected or does not answer in time, " \
  "ostrel.NotFound (2001) for a server the settings do not name, ostrel.Error for any other nonzero "  \
  "code, KeyboardInterrupt on Ctrl-C."

// `code` of a call to `server`, with 2015 (not connected) for a server the settings do not name
// made 2001, as connecting it answers.
int namedServerCode(const std::optional<std::string>& server, int code);
// Raises the Python error for `code` unless it is 0. `what` names the operation in the message.
void check(int code, const char* what);
// The library's text for `code`.
std::string errorText(int code);
// Raises the Python error for `code` unconditionally.
[[noreturn]] void raise(int code, const std::string& what);

// Runs `call` (returning a result code) on `server` with the GIL released, so that Ctrl-C ends
// the wait (interruptible), then raises for its code. `call` may outlive this frame: it
// captures by value (copies, shared pointers), never references.
template <typename Call>
void run(const Text& server, const std::string& what, Call call) {
  check(interruptible(server, std::function<int()>(std::move(call))), what.c_str());
}
// Runs `call` inline with the GIL released, for calls that touch no server or cannot stall.
template <typename Call>
void runHere(const std::string& what, Call call) {
  int rc;
  {
    Unlocked unlocked;
    rc = call();
  }
  check(rc, what.c_str());
}

// A name, type or path for the library, which reads texts up to their first NUL: one with a
// NUL inside would name something else, so it raises ValueError.
inline const char* cstr(const std::string& text) {
  if (text.find('\0') != std::string::npos) throw py::value_error("a name or path may not contain NUL");
  return text.c_str();
}
// The server and realm keywords: None is a null pointer for the library.
inline const char* orNull(const std::optional<std::string>& text) {
  return text ? cstr(*text) : nullptr;
}

// Record values (records.cc): the value of `count` items of `type` at `bytes` (`size` bytes)
// as a Python object, and a Python value written over those bytes, converted by the type.
py::object decodeValue(const TarnDataType* type, int count, const char* bytes, std::size_t size);
void encodeValue(const TarnDataType* type, int count, const py::handle& value, char* bytes, std::size_t size);
// Writes every item of `values` (a mapping of path to value) into `record`.
void assign(BrennicData& record, const py::handle& values);
// Runs `make`, which builds a record of the data type `type`, with the GIL released. A type
// name not met before may start the type manager's build, which asks every server of the
// settings, a frozen one too: that first lookup runs like a call to a remote server
// (interruptible); later ones run inline.
// `make` answers whether the type was found.
void lookingUpType(const std::string& type, std::function<bool()> make);
// A new zero-filled record of the data type `type`; ostrel.NotFound when there is none.
template <typename Record>
std::unique_ptr<Record> newRecord(const std::string& type) {
  cstr(type);
  auto made = std::make_shared<std::unique_ptr<Record>>();
  lookingUpType(type, [=] {
    *made = std::make_unique<Record>(type.c_str(), 0);
    return (*made)->GetTypeName() != nullptr;
  });
  std::unique_ptr<Record> record = std::move(*made);
  if (record->GetTypeName() == nullptr) raise(OstrelCode::kRecordWithoutType, "no data type " + type);
  return record;
}
// A new Python Record that owns a deep copy of `record`.
py::object wrap(const BrennicData& record);
// A new Python Record that takes over `record` (new'd, by the library or here).
py::object adopt(BrennicData* record);

// True once the library has been ended (ostrel._end, at exit): nothing may call it any more.
bool libraryEnded();

void bindErrors(py::module_& m);
void bindRecords(py::module_& m);
void bindConnection(py::module_& m);
void bindPoints(py::module_& m);
void bindContention(py::module_& m);
void bindMessaging(py::module_& m);
void bindListings(py::module_& m);
void bindSnapshots(py::module_& m);

}  // namespace pyostrel
