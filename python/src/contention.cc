// Heartbeat contention from Python: contend (a background heartbeat, left with leave() or at
// the end of a with block) and contenders (the contention service's view, host by host).
#include <memory>
#include <optional>
#include <string>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/redundancy/contender_lists.h"
#include "binding.h"

namespace pyostrel {
namespace {

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
    const Text server = server_, realm = realm_;
    interruptible(server, [=] { return Ostrel::OutContendHeartBit(handle, orNull(server), orNull(realm)); });
  }
  bool running() const { return handle_ != nullptr; }

 private:
  void* handle_;
  Text server_, realm_;
};

std::unique_ptr<Contention> contend(const std::string& name, const std::string& module, int period, const Text& server,
                                    const Text& realm) {
  cstr(name);
  cstr(module);
  auto started = std::make_shared<void*>(nullptr);
  interruptible(server, [=] {
    *started = Ostrel::ContendHeartBit(name.c_str(), module.c_str(), period, orNull(server), orNull(realm));
    return 0;
  });
  void* handle = *started;
  if (handle == nullptr) raise(OstrelCode::kNullContenderName, "contend " + name + ": no heartbeat could be started");
  return std::make_unique<Contention>(handle, server, realm);
}

struct Contenders : ContenderInHostSequence {
  Contenders() = default;
  Contenders(const Contenders&) = delete;
  Contenders& operator=(const Contenders&) = delete;
  ~Contenders() { Ostrel::DestoryContenderInHostSequence(this); }
};

py::list contenders(const Text& server, const Text& realm) {
  auto list = std::make_shared<Contenders>();
  run(server, "contenders", [=] { return Ostrel::GetContenderList(*list, orNull(server), orNull(realm)); });
  py::list out;
  {
    for (int i = 0; i < list->count; ++i) {
      const ContenderInHost* host = list->items[i];
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
  }
  return out;
}

}  // namespace

void bindContention(py::module_& m) {
  py::class_<Contention>(m, "Contention",
                         "A heartbeat kept going in the background until leave(). Made by contend(); calling the\n"
                         "class itself raises TypeError.")
      .def("leave", &Contention::leave, "Stops the heartbeat and leaves the contention. Raises nothing; leaving twice is harmless.")
      .def_property_readonly("running", &Contention::running)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Contention& c, py::args) { c.leave(); });
  m.def("contend", &contend, py::arg("name"), py::arg("module") = "", py::arg("period") = 5, py::kw_only(),
        py::arg("server") = py::none(), py::arg("realm") = py::none(),
        "Joins the contention `name` with a heartbeat every `period` seconds, from a library thread.\n\n"
        "Raises ostrel.Error 3020 when no heartbeat could be started (an empty name, the library ended).");
  m.def("contenders", &contenders, py::kw_only(), py::arg("server") = py::none(), py::arg("realm") = py::none(),
        "Every registered contender: dicts of host, name, active, started, last_beat, record.\n\nRaises "
        OSTREL_RAISES_REMOTE);
}

}  // namespace pyostrel
