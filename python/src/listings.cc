// Realms, channels and connections from Python: realms, create_realm, delete_realm, channels,
// connections. Each is one library call made through `run` (Ctrl-C ends the wait).
#include <memory>
#include <string>

#include "ostrel/api/name_lists.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "binding.h"

namespace pyostrel {
namespace {

constexpr int kSendDirection = 30003;  // ConnectionEntry::direction of a send connection

struct NameList : ObjectNames {
  NameList() = default;
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;
  ~NameList() { Ostrel::DeatoryNameSeq(this); }
};

struct Connections : ConnectionSequence {
  Connections() = default;
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;
  ~Connections() { Ostrel::DestoryConnectSeq(this); }
};

py::list names(const ObjectNames& list) {
  py::list out;
  for (int i = 0; i < list.count; ++i) out.append(py::str(list.names[i] ? list.names[i] : ""));
  return out;
}

}  // namespace

void bindListings(py::module_& m) {
  const auto server = py::arg("server") = py::none();
  const auto realm = py::arg("realm") = py::none();
  m.def("realms", [](const Text& s) {
        if (s) cstr(*s);
        auto list = std::make_shared<NameList>();
        run(s, "realms", [=] { return Ostrel::GetReleamNames(list.get(), orNull(s)); });
        return names(*list);
      }, py::kw_only(), server,
      "Names of the server's realms ('' is the default realm); a realm exists once something used it.\n\n"
      "Raises " OSTREL_RAISES_REMOTE);
  m.def("create_realm", [](const std::string& name, const Text& s) {
        cstr(name);
        run(s, "create realm " + name, [=] { return Ostrel::CreateReleam(orNull(s), name.c_str()); });
      }, py::arg("name"), py::kw_only(), server,
      "Creates the realm (realms also come into being when first used).\n\nRaises " OSTREL_RAISES_REMOTE);
  m.def("delete_realm", [](const std::string& name, const Text& s) {
        cstr(name);
        run(s, "delete realm " + name, [=] { return kx_delete_releam(orNull(s), name.c_str()); });
      }, py::arg("name"), py::kw_only(), server,
      "Deletes the realm at once when it holds nothing, through the server's own call (the library's\n"
      "DeleteReleam does nothing). A realm with points, ports or boxes answers 2023, an unknown one 2003,\n"
      "the default realm 2010.\n\nRaises " OSTREL_RAISES_REMOTE);
  m.def("channels", [](const Text& s, const Text& r) {
        auto list = std::make_shared<NameList>();
        run(s, "channels", [=] { return Ostrel::GetCommChennelSeq(list.get(), orNull(s), orNull(r)); });
        return names(*list);
      }, py::kw_only(), server, realm, "Names of the ports and event boxes of the realm.\n\nRaises " OSTREL_RAISES_REMOTE);
  m.def("connections", [](const Text& s, const Text& r) {
        auto list = std::make_shared<Connections>();
        run(s, "connections", [=] { return Ostrel::GetConnectSeq(list.get(), orNull(s), orNull(r)); });
        py::list out;
        for (int i = 0; i < list->count; ++i) {
          const ConnectionEntry& c = list->items[i];
          py::dict row;
          row["handle"] = c.handle;
          row["direction"] = c.direction == kSendDirection ? "send" : "receive";
          row["channel"] = py::str(c.portName);
          row["process"] = py::str(c.process);
          row["idle"] = c.idleSeconds;
          row["reclaim"] = c.reclaimSeconds;
          out.append(row);
        }
        return out;
      }, py::kw_only(), server, realm,
      "The open connections to the realm's ports and boxes: dicts of handle, direction ('send' or\n"
      "'receive'), channel, process ('host:pid'), idle and reclaim (seconds).\n\nRaises " OSTREL_RAISES_REMOTE);
}

}  // namespace pyostrel
