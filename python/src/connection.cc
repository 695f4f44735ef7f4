// Connection from Python: connect, disconnect, status, divert, status listeners, the end.
//
// A status listener wraps a Python callable fn(server, connected). The library calls it on its
// monitor thread or on the thread that connects or disconnects, with its listener lock held;
// the wrapper takes the GIL and then calls fn. Every binding call that can take the connector's
// locks releases the GIL first, so the thread that holds the GIL never waits for that lock.
// An exception raised by fn is reported as unraisable and goes no further.
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/server_settings.h"
#include "ostrel/connection/status_listener.h"
#include "python/src/binding.h"

namespace pyostrel {
namespace {

class Listener;
// Installed listeners, kept alive here until removed. Guarded by the GIL.
std::map<Listener*, std::shared_ptr<Listener>> installed;
bool ended = false;             // guarded by the GIL: the library has been ended (ostrel._end)

class Listener : public BrennicStatusListenerBase, public std::enable_shared_from_this<Listener> {
 public:
  explicit Listener(py::function fn) : fn_(std::move(fn)) {}
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() override = default;  // with the GIL held, once removed and no handle is left

  void install() {
    installed.emplace(this, shared_from_this());
    Unlocked unlocked;
    Ostrel::InstallListener(*this);
  }
  // Takes the listener out; afterwards fn is not called again. Needs the GIL.
  void remove() {
    auto it = installed.find(this);
    if (it == installed.end()) return;
    std::shared_ptr<Listener> keep = std::move(it->second);  // may be the last: released below
    installed.erase(it);
    {
      Unlocked unlocked;
      Ostrel::RemoveListener(*this);
    }
  }

  void onConnected(const char* server) override { call(server, true); }
  void onDisconnected(const char* server) override { call(server, false); }
  void onNamingServerChanged(const char*, int) override {}
  void onDataServerChanged(const char*, const char*, int) override {}
  void onEventServerChanged(const char*, const char*, int) override {}
  void onMasterChanged(const char*, bool) override {}

 private:
  void call(const char* server, bool connected) {
    py::gil_scoped_acquire gil;
    if (installed.count(this) == 0) return;
    // Holds this object while fn runs: fn may drop the last Python handle to it.
    std::shared_ptr<Listener> self = weak_from_this().lock();
    try {
      fn_(server ? server : "", connected);
    } catch (py::error_already_set& error) {
      error.discard_as_unraisable("ostrel status listener");
    }
    self.reset();  // may delete this: nothing after it touches a member
  }

  py::function fn_;
};

void connect(const std::optional<std::string>& server) {
  run("connect " + server.value_or("the own server"), [&] { return Ostrel::ConnectTarn(orNull(server)); });
}

std::vector<std::tuple<std::string, int, std::string>> status() {
  std::vector<std::tuple<std::string, int, std::string>> rows;
  Unlocked unlocked;
  BrennicServerList servers;
  Ostrel::GetServerNames(nullptr, servers);
  for (int i = 0; i < servers.count; ++i) {
    const char* name = servers.names[i] ? servers.names[i] : "";
    const char* active = Ostrel::activeServer(name);
    rows.emplace_back(name, Ostrel::IsConnect(name), active ? active : "");
  }
  return rows;
}

void end() {
  if (ended) return;
  ended = true;
  while (!installed.empty()) installed.begin()->first->remove();
  Unlocked unlocked;
  Ostrel::ExitOstrel();
}

}  // namespace

bool libraryEnded() { return ended; }

void bindConnection(py::module_& m) {
  m.def("connect", &connect, py::arg("server") = py::none(),
        "Connects the server (None: the server at position 'own'); raises ostrel.Error on failure.");
  m.def("disconnect", [](const std::optional<std::string>& server) {
        Unlocked unlocked;
        Ostrel::DisConnectTarn(orNull(server));
      }, py::arg("server") = py::none(), "Disconnects: the library forgets the connection state of every server (not only this one),\n"
      "so their operations raise NotConnected until each is connected again.");
  m.def("is_connected", [](const std::optional<std::string>& server) {
        Unlocked unlocked;
        return Ostrel::IsConnect(orNull(server)) == 0;
      }, py::arg("server") = py::none(), "True when the library records the server as connected.");
  m.def("_status", &status, "(server, code, active address) of every server of the settings.");
  m.def("divert", [](const std::optional<std::string>& server, const std::optional<std::string>& realm) {
        run("divert", [&] { return Ostrel::DivertReleam(orNull(server), orNull(realm)); });
      }, py::arg("server"), py::arg("realm"),
      "Makes `realm` the default realm of the server's operations (None for the server at 'own').");
  py::class_<Listener, std::shared_ptr<Listener>>(m, "StatusListener",
                                                  "An installed status listener; remove() takes it out.")
      .def("remove", &Listener::remove, "Takes the listener out; its callable is not called again.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Listener& l, py::args) { l.remove(); });
  m.def("on_status", [](py::function fn) {
        auto listener = std::make_shared<Listener>(std::move(fn));
        listener->install();
        return listener;
      }, py::arg("fn"),
      "Calls fn(server, connected) from the library's threads whenever a server comes or goes.\n"
      "The listener stays installed until its remove() (it is also a context manager).");
  m.def("_end", &end, "Ends the library: removes listeners, stops its threads. Runs at exit.");
}

}  // namespace pyostrel
