// The module ostrel._ostrel: the errors, the library's end at exit, and every bound area.
#include <string>

#include <boost/lexical_cast.hpp>

#include "ostrel/api/ostrel.h"
#include "binding.h"

namespace pyostrel {
namespace {

PyObject* errorClass = nullptr;
PyObject* notConnectedClass = nullptr;
PyObject* timedOutClass = nullptr;
PyObject* unreachableClass = nullptr;
PyObject* notFoundClass = nullptr;
PyObject* notPermittedClass = nullptr;

// The one table of the result codes that raise a narrower class than ostrel.Error. One cause,
// one class: a server that is down or frozen answers 2016 (a call time-out), 2002 or, once the
// library noticed, 2015, and every one of them is Unreachable. The README prints this table.
struct Narrower {
  int code;
  PyObject** cls;
};
const Narrower kNarrower[] = {
    {code::kUnknownServer, &notFoundClass},
    {code::kServerNotAnswering, &unreachableClass},
    {code::kNoSuchObject, &notFoundClass},
    {code::kUnknownType, &notFoundClass},
    {code::kNothingReceived, &timedOutClass},
    {code::kNoSuchSnapshot, &notFoundClass},
    {OstrelCode::kNotConnected, &unreachableClass},
    {code::kRemoteFailure, &unreachableClass},
    {code::kNoSuchField, &notFoundClass},
    {OstrelCode::kRecordWithoutType, &notFoundClass},
    {OstrelCode::kElementNotFound, &notFoundClass},
    {code::kNotPermitted, &notPermittedClass},
};

PyObject* classFor(int code) {
  for (const Narrower& n : kNarrower)
    if (n.code == code) return *n.cls;
  return errorClass;
}

PyObject* newClass(py::module_& m, const char* name, py::handle bases, const char* doc) {
  PyObject* cls = PyErr_NewExceptionWithDoc((std::string("ostrel.") + name).c_str(), doc, bases.ptr(), nullptr);
  if (cls == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(cls));
  return cls;
}

}  // namespace

std::string errorText(int code) {
  const wchar_t* text = Ostrel::GetErrorString(code);
  if (text == nullptr) return "result code " + std::to_string(code);
  return py::reinterpret_steal<py::str>(PyUnicode_FromWideChar(text, -1)).cast<std::string>();
}

void raise(int code, const std::string& what) {
  const std::string text = errorText(code);
  PyObject* cls = classFor(code);
  py::object error = py::reinterpret_borrow<py::object>(cls)(what + ": " + text + " (" + std::to_string(code) + ")");
  error.attr("code") = code;
  error.attr("text") = text;
  PyErr_SetObject(cls, error.ptr());
  throw py::error_already_set();
}

int namedServerCode(const std::optional<std::string>& server, int code) {
  if (code != OstrelCode::kNotConnected || !server || server->empty()) return code;
  py::gil_scoped_release unlocked;
  return Ostrel::activeServer(server->c_str()) == nullptr ? code::kUnknownServer : code;
}

void check(int code, const char* what) {
  if (code != 0) raise(code, what);
}

void bindErrors(py::module_& m) {
  errorClass = newClass(m, "Error", py::reinterpret_borrow<py::object>(PyExc_Exception),
                        "A nonzero result code: `code` is the number, `text` the library's text for it.");
  const py::object error = py::reinterpret_borrow<py::object>(errorClass);
  notConnectedClass = newClass(m, "NotConnected", error,
                               "The base of Unreachable, which every server that cannot be reached raises.");
  timedOutClass = newClass(m, "TimedOut", py::make_tuple(error, py::handle(PyExc_TimeoutError)),
                           "A wait ended with nothing (2008); the base of Unreachable too.");
  unreachableClass = newClass(
      m, "Unreachable", py::make_tuple(py::handle(notConnectedClass), py::handle(timedOutClass)),
      "The server cannot be reached: not connected (2015), or it did not answer in time (2002, 2016).\n"
      "A NotConnected and a TimedOut as well, so that either catches a server that is down.");
  notFoundClass = newClass(m, "NotFound", py::make_tuple(error, py::handle(PyExc_LookupError)),
                           "No data point, type, element or field of that name.");
  notPermittedClass = newClass(m, "NotPermitted", py::make_tuple(error, py::handle(PyExc_PermissionError)),
                               "The server's rights file does not grant this client the call in that realm (2026).");
  // A non-numeric index in a path is the one failure the library throws rather than returns.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const boost::bad_lexical_cast&) {
      PyErr_SetString(PyExc_ValueError, "an index in the path is not a number");
    }
  });
  m.def("_error_classes", [] {
        py::dict table;
        for (const Narrower& n : kNarrower) table[py::int_(n.code)] = py::handle(*n.cls);
        return table;
      }, "The codes that raise a narrower class than ostrel.Error, and the class.");
  m.def("error_text", &errorText, py::arg("code"), "The library's text for a result code (\"unknown result code N\" for one it does not know).\n"
        "Raises nothing.");
}

}  // namespace pyostrel

PYBIND11_MODULE(_ostrel, m) {
  m.doc() = "The Ostrel client library from Python (use the package ostrel, not this module).";
  pyostrel::bindErrors(m);
  pyostrel::bindRecords(m);
  pyostrel::bindConnection(m);
  pyostrel::bindPoints(m);
  pyostrel::bindContention(m);
  pyostrel::bindMessaging(m);
  pyostrel::bindListings(m);
  pyostrel::bindSnapshots(m);
}
