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
PyObject* notFoundClass = nullptr;
PyObject* notPermittedClass = nullptr;

PyObject* classFor(int code) {
  switch (code) {
    case OstrelCode::kNotConnected: return notConnectedClass;
    case code::kServerNotAnswering:
    case code::kNothingReceived: return timedOutClass;
    case code::kNoSuchObject:
    case code::kUnknownType:
    case code::kNoSuchSnapshot:
    case code::kNoSuchField:
    case OstrelCode::kRecordWithoutType:
    case OstrelCode::kElementNotFound: return notFoundClass;
    case code::kNotPermitted: return notPermittedClass;
    default: return errorClass;
  }
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

void check(int code, const char* what) {
  if (code != 0) raise(code, what);
}

void bindErrors(py::module_& m) {
  errorClass = newClass(m, "Error", py::reinterpret_borrow<py::object>(PyExc_Exception),
                        "A nonzero result code: `code` is the number, `text` the library's text for it.");
  const py::object error = py::reinterpret_borrow<py::object>(errorClass);
  notConnectedClass = newClass(m, "NotConnected", error, "The server is not connected (2015).");
  timedOutClass = newClass(m, "TimedOut", py::make_tuple(error, py::handle(PyExc_TimeoutError)),
                           "The server did not answer in time, or a wait ended with nothing.");
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
