// Connection commands: connect, status [--watch], servers, addresses, settings, master.
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/server_settings.h"
#include "ostrel/connection/status_listener.h"
#include "tarn/client/settings.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"

namespace tool {
namespace {

const char* orNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

std::string stateText(int state) {
  if (state == 0) return "connected";
  if (state == OstrelCode::kNoState) return "not connected";
  return "failed: " + std::to_string(state) + " " + codeText(state);
}

// Prints the connector's news as they come, one line per change, stamped with the local time:
// "up at ADDRESS", "down: CODE TEXT", or "switched A -> B" when a redundant pair changes over.
class PrintingListener : public BrennicStatusListenerBase {
 public:
  explicit PrintingListener(std::ostream& out) : out_(out) {}
  void onConnected(const char* server) override { print(server); }
  void onDisconnected(const char* server) override { print(server); }
  void onNamingServerChanged(const char*, int) override {}
  void onDataServerChanged(const char*, const char*, int) override {}
  void onEventServerChanged(const char*, const char*, int) override {}
  void onMasterChanged(const char*, bool) override {}

 private:
  struct Seen {
    int state;
    std::string active;
  };
  void print(const char* server) {
    const int state = Ostrel::IsConnect(server);
    const char* active = Ostrel::activeServer(server);
    const Seen now{state, active != nullptr ? active : ""};
    std::lock_guard<std::mutex> hold(mutex_);
    auto last = seen_.find(server);
    if (last != seen_.end() && last->second.state == now.state && last->second.active == now.active) return;
    out_ << clockText(std::time(nullptr)) << "  " << server << " ";
    if (now.state != 0) {
      out_ << "down: " << stateText(now.state);
    } else if (last != seen_.end() && last->second.state == 0 && !last->second.active.empty() &&
               last->second.active != now.active) {
      out_ << "switched " << last->second.active << " -> " << now.active;
    } else {
      out_ << "up" << (now.active.empty() ? "" : " at " + now.active);
    }
    out_ << std::endl;
    seen_[server] = now;
  }
  std::ostream& out_;
  std::mutex mutex_;
  std::map<std::string, Seen> seen_;  // GUARDED_BY(mutex_)
};

}  // namespace

std::vector<ServerState> serverStates(bool connect) {
  BrennicServerList servers;
  Ostrel::GetServerNames(nullptr, servers);
  std::vector<ServerState> states;
  for (int i = 0; i < servers.count; ++i) {
    ServerState one;
    one.name = servers.names[i] ? servers.names[i] : "";
    states.push_back(one);
  }
  for (const char* position : {"own", "parent", "child", "others"}) {
    BrennicServerList at;
    Ostrel::GetServerNames(position, at);
    for (int i = 0; i < at.count; ++i)
      for (ServerState& one : states)
        if (at.names[i] && one.name == at.names[i] && one.position.empty()) one.position = position;
  }
  for (ServerState& one : states) {
    if (connect) Ostrel::ConnectTarn(one.name.c_str());
    ObjectNames list;
    list.release = true;
    Ostrel::GetServerAddress(one.name.c_str(), list);
    for (int i = 0; i < list.count; ++i) one.addresses.push_back(list.names[i]);
    Ostrel::DeatoryNameSeq(&list);
    one.state = Ostrel::IsConnect(one.name.c_str());
    const char* active = Ostrel::activeServer(one.name.c_str());
    one.active = active ? active : "";
    one.text = stateText(one.state);
  }
  return states;
}

namespace {

int connect(Tool& tool, const std::string& server) {
  tool.server = server;
  const int rc = Ostrel::ConnectTarn(orNull(server));
  const std::string shown = server.empty() ? "the own server" : server;
  if (!check(tool, "connect " + shown, rc)) return 1;
  const char* active = Ostrel::activeServer(orNull(server));
  tool.out << shown << ": connected" << (active && *active ? std::string(" at ") + active : "")
           << "\n";
  return 0;
}

// Every server of the settings: connect it, then show its state and active address.
int status(Tool& tool, bool watch, bool json) {
  const std::vector<ServerState> states = serverStates(true);
  if (states.empty()) {
    // An empty list is the settings file's fault (unreadable, invalid, or naming no server);
    // check() names the file and the cause.
    check(tool, "status", OstrelCode::kNoServerName);
    return 1;
  }
  int failed = 0;
  if (json) tool.out << "[";
  for (std::size_t i = 0; i < states.size(); ++i) {
    const ServerState& one = states[i];
    if (one.state != 0) ++failed;
    if (json) {
      tool.out << (i ? ",\n " : "") << "{\"server\": " << jsonString(one.name) << ", \"state\": " << one.state
               << ", \"text\": " << jsonString(one.text) << ", \"active\": "
               << (one.active.empty() ? std::string("null") : jsonString(one.active)) << "}";
      continue;
    }
    tool.out << one.name << "  " << one.text;
    if (!one.active.empty()) tool.out << "  active address " << one.active;
    tool.out << "\n";
  }
  if (json) tool.out << "]\n";
  if (!watch) return failed ? 1 : 0;

  PrintingListener listener(tool.out);
  for (const ServerState& one : states) listener.onConnected(one.name.c_str());  // what was shown
  Ostrel::InstallListener(listener);
  tool.out << "watching; the connector checks every server about every 6 seconds. Ctrl-C ends."
           << std::endl;
  untilInterrupted(nullptr, 1000);
  Ostrel::RemoveListener(listener);
  return 0;
}

int servers(Tool& tool, const std::string& position) {
  BrennicServerList list;
  Ostrel::GetServerNames(orNull(position), list);
  if (list.count == 0 && position.empty()) {
    check(tool, "servers", OstrelCode::kNoServerName);
    return 1;
  }
  for (int i = 0; i < list.count; ++i) tool.out << (list.names[i] ? list.names[i] : "") << "\n";
  if (list.count == BrennicServerList::kCapacity)
    tool.out << "(the list is full; more servers may hold this position)\n";
  if (list.count == 0)
    tool.out << "no servers" << (position.empty() ? "" : " at " + position) << "\n";
  return 0;
}

int addresses(Tool& tool, const std::string& server) {
  // A one-shot process has asked nothing yet: connecting finds out which address answers.
  if (Ostrel::IsConnect(orNull(server)) != 0) Ostrel::ConnectTarn(orNull(server));
  ObjectNames list;
  list.release = true;
  Ostrel::GetServerAddress(orNull(server), list);
  const char* active = Ostrel::activeServer(orNull(server));
  for (int i = 0; i < list.count; ++i) {
    tool.out << list.names[i];
    if (active && std::string(active) == list.names[i]) tool.out << "  (active)";
    tool.out << "\n";
  }
  const bool none = list.count == 0;
  Ostrel::DeatoryNameSeq(&list);
  if (none) {
    tool.err << "ostrel: addresses: no addresses known for "
             << (server.empty() ? "the own server" : server) << "\n";
    return 1;
  }
  return 0;
}

int settings(Tool& tool, const std::string& name, const std::string& first,
             const std::string& second) {
  for (const std::string* address : {&first, &second}) {
    if (address->empty() || tarn::validAddress(*address)) continue;
    tool.err << "ostrel: settings: '" << *address << "' is not host:port with a port from 1 to 65535\n";
    return 2;
  }
  const char* file = std::getenv("TARN_SETTINGS");
  if (file == nullptr || *file == '\0') {
    tool.err << "ostrel: settings: no settings file: set TARN_SETTINGS to the file to store them in\n";
    return 1;
  }
  Ostrel::updateServerSetting(orNull(name), first.c_str(), second.c_str());
  // The store says nothing of a refusal: read back what the file now holds for the own server.
  std::vector<std::string> stored;
  ObjectNames list;
  list.release = true;
  Ostrel::GetServerAddress(nullptr, list);
  for (int i = 0; i < list.count; ++i) stored.push_back(list.names[i]);
  Ostrel::DeatoryNameSeq(&list);
  std::vector<std::string> wanted = {first};
  if (!second.empty()) wanted.push_back(second);
  if (stored != wanted) {
    const int why = kx_tarn_connect(nullptr);
    tool.err << "ostrel: settings: " << file << " was not changed"
             << (why == KX_SETTINGS_UNUSABLE ? ": " + codeText(why) : std::string()) << "\n";
    return 1;
  }
  tool.out << "own server" << (name.empty() ? "" : " " + name) << " now at " << first
           << (second.empty() ? "" : " and " + second) << " in " << file;
  // Storing drops this process's connections; only a shell goes on to use them.
  tool.out << (tool.inShell ? "; every connection was dropped, connect again to use it\n" : "\n");
  return 0;
}

int master(Tool& tool, const std::string& server, bool on) {
  const int rc = Ostrel::setMasterMiddleware(on, orNull(server));
  const std::string shown = server.empty() ? "the own server" : server;
  if (!check(tool, "master " + shown, rc)) return 1;
  // Ask the server what it now is, straight from its service manager.
  kxTarn::kxTarnServiceManager_var manager =
      kxReferenceContainer::instance()->GetServiceRefrence(orNull(server));
  try {
    if (!CORBA::is_nil(manager.in())) {
      tool.out << shown << ": " << (manager->is_master() ? "master" : "not master") << "\n";
      return 0;
    }
  } catch (const CORBA::Exception&) {
  }
  tool.out << shown << ": master set " << (on ? "on" : "off") << "\n";
  return 0;
}

void addConnectionCommands(CLI::App& app, Tool& tool) {
  auto* connectCommand = app.add_subcommand("connect", "Connect a server and show its active address");
  auto server = std::make_shared<std::string>();
  connectCommand->add_option("SERVER", *server, "server name (default: the own server)");
  connectCommand->callback([&tool, server] { tool.rc = connect(tool, *server); });

  auto* statusCommand =
      app.add_subcommand("status", "Connect every server of the settings and show its state");
  auto watch = std::make_shared<bool>(false);
  statusCommand->add_flag("-w,--watch", *watch, "keep printing servers that go down or come back, until Ctrl-C");
  auto json = std::make_shared<bool>(false);
  statusCommand->add_flag("--json", *json, "print one JSON array of {server, state, text, active}");
  statusCommand->callback([&tool, watch, json] { tool.rc = status(tool, *watch, *json); });

  auto* serversCommand = app.add_subcommand("servers", "List the servers at a position (default: all)");
  auto position = std::make_shared<std::string>();
  serversCommand->add_option("POSITION", *position, "own, parent, child or others")
      ->check(CLI::IsMember({"own", "parent", "child", "others"}));
  serversCommand->callback([&tool, position] { tool.rc = servers(tool, *position); });

  auto* addressesCommand = app.add_subcommand("addresses", "List a server's addresses; the active one is marked");
  auto addressServer = std::make_shared<std::string>();
  addressesCommand->add_option("SERVER", *addressServer, "server name (default: the own server)");
  addressesCommand->callback([&tool, addressServer] { tool.rc = addresses(tool, *addressServer); });

  auto* settingsCommand =
      app.add_subcommand("settings", "Store the own server's addresses in the settings file");
  auto key = std::make_shared<std::string>();
  auto first = std::make_shared<std::string>();
  auto second = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  settingsCommand->add_option("KEY", *key, "which record: own")
      ->required()
      ->check(CLI::IsMember({"own"}));
  settingsCommand->add_option("FIRST", *first, "first address, host:port")->required();
  settingsCommand->add_option("SECOND", *second, "second address of a redundant pair");
  settingsCommand->add_option("-n,--name", *name, "server name (default: the current own server)");
  settingsCommand->callback([&tool, key, name, first, second] {
    tool.rc = settings(tool, *name, *first, *second);
  });

  auto* masterCommand = app.add_subcommand("master", "Make a server's middleware master or not");
  auto masterServer = std::make_shared<std::string>();
  auto onOff = std::make_shared<std::string>();
  masterCommand->add_option("SERVER", *masterServer, "server name")->required();
  masterCommand->add_option("STATE", *onOff, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
  masterCommand->callback([&tool, masterServer, onOff] {
    tool.rc = master(tool, *masterServer, *onOff == "on");
  });
}

OSTREL_TOOL_COMMANDS(addConnectionCommands);

OSTREL_TOOL_DEMO(30, "connecting tells installed listeners", [](Tool& tool) {
  PrintingListener listener(tool.out);
  Ostrel::InstallListener(listener);
  const int rc = Ostrel::ConnectTarn(nullptr);
  Ostrel::RemoveListener(listener);
  tool.out << "  ConnectTarn(own) = " << rc << ", IsConnect(own) = " << Ostrel::IsConnect(nullptr)
           << ", IsConnect(\"nowhere\") = " << Ostrel::IsConnect("nowhere") << "\n";
  return rc == 0;
});

}  // namespace
}  // namespace tool
