// Connection from Python: connect, disconnect, status, divert, status listeners, the end.
//
// A status listener wraps a Python callable fn(server, connected). The library calls it on its
// monitor thread or on the thread that connects or disconnects, with its listener lock held;
// the wrapper takes the GIL and then calls fn. Every binding call that can take the connector's
// locks releases the GIL first, so the thread that holds the GIL never waits for that lock.
// An exception raised by fn is reported as unraisable and goes no further.
#include <chrono>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/server_settings.h"
#include "ostrel/connection/status_listener.h"
#include "binding.h"

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

void connect(const Text& server) {
  if (server) cstr(*server);
  run(server, "connect " + server.value_or("the own server"), [=] { return Ostrel::ConnectTarn(orNull(server)); });
}

// Seconds per round trip of `count` pings of the server (the middleware's connect check).
double ping(const Text& server, int count) {
  if (server) cstr(*server);
  if (count < 1) throw py::value_error("count is at least 1");
  auto took = std::make_shared<double>(0.0);
  run(server, "ping " + server.value_or("the own server"), [=] {
    const auto start = std::chrono::steady_clock::now();
    int rc = 0;
    for (int i = 0; i < count && rc == 0; ++i) rc = kx_tarn_connect(orNull(server));
    *took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / count;
    return rc;
  });
  return *took;
}

py::list servers(const Text& position) {
  if (position) cstr(*position);
  BrennicServerList list;
  {
    Unlocked unlocked;
    Ostrel::GetServerNames(orNull(position), list);
  }
  py::list out;
  for (int i = 0; i < list.count; ++i) out.append(py::str(list.names[i] ? list.names[i] : ""));
  return out;
}

py::list addresses(const Text& server) {
  if (server) cstr(*server);
  ObjectNames list;
  list.release = true;
  {
    Unlocked unlocked;
    Ostrel::GetServerAddress(orNull(server), list);
  }
  py::list out;
  for (int i = 0; i < list.count; ++i) out.append(py::str(list.names[i] ? list.names[i] : ""));
  Ostrel::DeatoryNameSeq(&list);
  return out;
}

Text ownServer() {
  kxServerName own;
  {
    Unlocked unlocked;
    own = kx_get_servername("own");
  }
  if (!own.found || own.name == nullptr) return std::nullopt;
  return std::string(own.name);
}

// Stores the own server's addresses in the settings file; the store reports no refusal, so
// what the file holds afterwards is compared with what was asked.
void setOwnServer(const std::string& first, const std::string& second, const Text& name) {
  cstr(first);
  cstr(second);
  if (name) cstr(*name);
  {
    Unlocked unlocked;
    Ostrel::updateServerSetting(orNull(name), first.c_str(), second.c_str());
  }
  settingsChanged();
  py::list wanted;
  wanted.append(first);
  if (!second.empty()) wanted.append(second);
  if (!addresses(std::nullopt).equal(wanted)) {
    int why;
    {
      Unlocked unlocked;
      why = kx_tarn_connect(nullptr);
    }
    raise(why == KX_SETTINGS_UNUSABLE ? why : code::kSettingsNotWritable, "set_own_server: the settings were not changed");
  }
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
  // Calls abandoned on Ctrl-C end within the call time-out; the end does not wait that long.
  drainHelpers(3000);
  Unlocked unlocked;
  Ostrel::ExitOstrel();
}

}  // namespace

bool libraryEnded() { return ended; }

void bindConnection(py::module_& m) {
  m.def("connect", &connect, py::arg("server") = py::none(),
        "Connects the server (None: the server at position 'own').\n\n"
        "Raises ostrel.Unreachable (2002) when it does not answer, ostrel.NotFound (2001) for a server the\n"
        "settings do not name, ostrel.Error for any other nonzero code, KeyboardInterrupt on Ctrl-C.");
  m.def("ping", &ping, py::arg("server") = py::none(), py::arg("count") = 1,
        "Asks the server `count` times whether it answers; the seconds one round trip took on average.\n\n"
        "Raises ValueError for a count below 1; " OSTREL_RAISES_REMOTE);
  m.def("servers", &servers, py::arg("position") = py::none(),
        "Names of the servers the settings place at `position` ('own', 'parent', 'child', 'others';\n"
        "None: every server). Raises nothing.");
  m.def("addresses", &addresses, py::arg("server") = py::none(),
        "The server's addresses (host:port; 'embedded' for the embedded server) as the settings give them\n"
        "(None: the own server). Raises nothing.");
  m.def("own_server", &ownServer, "The name of the server at position 'own', or None. Raises nothing.");
  m.def("set_own_server", &setOwnServer, py::arg("first"), py::arg("second") = "", py::kw_only(),
        py::arg("name") = py::none(),
        "Stores the own server's addresses (and its name, when given) in the settings file named by\n"
        "TARN_SETTINGS; every connection is dropped, connect again to use it.\n\n"
        "Raises ostrel.Error 2009 when the file was not changed (no file, or not writable), 2036 when\n"
        "it cannot be used.");
  m.def("disconnect", [](const std::optional<std::string>& server) {
        Unlocked unlocked;
        Ostrel::DisConnectTarn(orNull(server));
      }, py::arg("server") = py::none(), "Disconnects: the library forgets the connection state of every server (not only this one),\n"
      "so their operations raise ostrel.Unreachable (2015) until each is connected again. Raises nothing.");
  m.def("is_connected", [](const std::optional<std::string>& server) {
        Unlocked unlocked;
        return Ostrel::IsConnect(orNull(server)) == 0;
      }, py::arg("server") = py::none(), "True when the library records the server as connected. Raises nothing.");
  m.def("_status", &status, "(server, code, active address) of every server of the settings.");
  m.def("divert", [](const Text& server, const Text& realm) {
        if (server) cstr(*server);
        if (realm) cstr(*realm);
        run(server, "divert", [=] { return Ostrel::DivertReleam(orNull(server), orNull(realm)); });
      }, py::arg("server"), py::arg("realm"),
      "Makes `realm` the default realm of the server's operations (None for the server at 'own').\n\n"
      "Raises ostrel.Error for a nonzero code.");
  py::class_<Listener, std::shared_ptr<Listener>>(m, "StatusListener",
                                                  "An installed status listener; remove() takes it out. Made by on_status(); calling the class\n"
                                                  "itself raises TypeError.")
      .def("remove", &Listener::remove, "Takes the listener out; its callable is not called again. Raises nothing.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Listener& l, py::args) { l.remove(); });
  m.def("on_status", [](py::function fn) {
        auto listener = std::make_shared<Listener>(std::move(fn));
        listener->install();
        return listener;
      }, py::arg("fn"),
      "Calls fn(server, connected) from the library's threads whenever a server comes or goes.\n"
      "The listener stays installed until its remove() (it is also a context manager). Raises nothing;\n"
      "what fn raises is reported as unraisable.");
  m.def("_end", &end, "Ends the library: removes listeners, stops its threads. Runs at exit.");
}

}  // namespace pyostrel
