// Heartbeat contention from Python: contend (a background heartbeat, left with leave() or at
// the end of a with block) and contenders (the contention service's view, host by host).
#include <optional>
#include <string>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/redundancy/contender_lists.h"
#include "python/src/binding.h"

namespace pyostrel {
namespace {

using Text = std::optional<std::string>;

// One running heartbeat. Leaving twice is harmless; a dropped handle leaves too. Needs the GIL.
class Contention {
 public:
  Contention(void* handle, Text server, Text realm) : handle_(handle), server_(std::move(server)), realm_(std::move(realm)) {}
  Contention(const Contention&) = delete;
  Contention& operator=(const Contention&) = delete;
  ~Contention() { leave(); }

  void leave() {
    void* handle = handle_;
    handle_ = nullptr;
    if (handle == nullptr || libraryEnded()) return;  // the library's end left every contention
    Unlocked unlocked;
    Ostrel::OutContendHeartBit(handle, orNull(server_), orNull(realm_));
  }
  bool running() const { return handle_ != nullptr; }

 private:
  void* handle_;
  Text server_, realm_;
};

std::unique_ptr<Contention> contend(const std::string& name, const std::string& module, int period, const Text& server,
                                    const Text& realm) {
  void* handle;
  {
    Unlocked unlocked;
    handle = Ostrel::ContendHeartBit(cstr(name), cstr(module), period, orNull(server), orNull(realm));
  }
  if (handle == nullptr) raise(OstrelCode::kNullContenderName, "contend " + name + ": no heartbeat could be started");
  return std::make_unique<Contention>(handle, server, realm);
}

py::list contenders(const Text& server, const Text& realm) {
  ContenderInHostSequence list;
  int rc;
  {
    Unlocked unlocked;
    rc = Ostrel::GetContenderList(list, orNull(server), orNull(realm));
  }
  py::list out;
  try {
    check(rc, "contenders");
    for (int i = 0; i < list.count; ++i) {
      const ContenderInHost* host = list.items[i];
      if (host == nullptr || host->programs == nullptr) continue;
      for (int j = 0; j < host->programs->count; ++j) {
        const ProgramStatus* p = host->programs->items[j];
        if (p == nullptr) continue;
        py::dict row;
        row["host"] = py::str(host->hostName);
        row["name"] = py::str(p->name);
        row["active"] = p->value3 != 0;
        row["started"] = p->value1;
        row["last_beat"] = p->value2;
        row["record"] = p->data ? wrap(*p->data) : py::object(py::none());
        out.append(row);
      }
    }
  } catch (...) {
    Ostrel::DestoryContenderInHostSequence(&list);
    throw;
  }
  Ostrel::DestoryContenderInHostSequence(&list);
  return out;
}

}  // namespace

void bindContention(py::module_& m) {
  py::class_<Contention>(m, "Contention", "A heartbeat kept going in the background until leave().")
      .def("leave", &Contention::leave, "Stops the heartbeat and leaves the contention.")
      .def_property_readonly("running", &Contention::running)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Contention& c, py::args) { c.leave(); });
  m.def("contend", &contend, py::arg("name"), py::arg("module") = "", py::arg("period") = 5, py::kw_only(),
        py::arg("server") = py::none(), py::arg("realm") = py::none(),
        "Joins the contention `name` with a heartbeat every `period` seconds, from a library thread.");
  m.def("contenders", &contenders, py::kw_only(), py::arg("server") = py::none(), py::arg("realm") = py::none(),
        "Every registered contender: dicts of host, name, active, started, last_beat, record.");
}

}  // namespace pyostrel
