// Contention commands: contend (keep a heartbeat going and say when this program becomes the
// active one, or stops being it, or waits for another process of its host that holds the name) and contenders (the contention service's view, host by host).
#if defined(_WIN32)
#  include <winsock2.h>
#endif
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/redundancy/contender_lists.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"

namespace tool {

std::string contendersJson(const ContenderInHostSequence& list) {
  std::ostringstream out;
  out << "[";
  bool first = true;
  for (int i = 0; i < list.count; ++i) {
    const ContenderInHost* host = list.items[i];
    for (int j = 0; host && host->programs && j < host->programs->count; ++j) {
      const ProgramStatus* program = host->programs->items[j];
      if (!program) continue;
      const char* type = program->data ? program->data->GetTypeName() : nullptr;
      out << (first ? "" : ",\n ") << "{\"host\": " << jsonString(host->hostName) << ", \"name\": "
          << jsonString(program->name) << ", \"started\": " << program->value1 << ", \"last_beat\": "
          << program->value2 << ", \"started_at\": "
          << jsonString(isoTime(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(program->value1))))
          << ", \"last_beat_at\": "
          << jsonString(isoTime(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(program->value2))))
          << ", \"active\": " << (program->value3 ? "true" : "false") << ", \"record\": "
          << (type ? jsonString(type) : program->data ? std::string("\"(raw)\"") : std::string("null")) << "}";
      first = false;
    }
  }
  out << "]\n";
  return out.str();
}

namespace {


struct ContendOptions {
  std::string name;
  int period = 5;
  std::string module;
  std::vector<std::string> record;  // TYPE path=value...
  std::string server;
  std::string realm;
  bool watch = false;
  bool periodGiven = false;
  bool json = false;
  const char* serverOrNull() const { return server.empty() ? nullptr : server.c_str(); }
  const char* realmOrNull() const { return realm.empty() ? nullptr : realm.c_str(); }
};

enum class Role { kUnknown, kActive, kStandby, kAbsent };

// What the service says about contender `name` of this host; `started` gets the registration's
// start time.
Role roleOf(const ContenderInHostSequence& list, const std::string& host, const std::string& name, int& started) {
  for (int i = 0; i < list.count; ++i) {
    const ContenderInHost* entry = list.items[i];
    if (!entry || std::strncmp(entry->hostName, host.c_str(), sizeof entry->hostName - 1) != 0 || !entry->programs)
      continue;
    for (int j = 0; j < entry->programs->count; ++j) {
      const ProgramStatus* program = entry->programs->items[j];
      if (!program || name != program->name) continue;
      started = program->value1;
      return program->value3 ? Role::kActive : Role::kStandby;
    }
  }
  return Role::kAbsent;
}

// The role of `name` on `host` as the listing of the server shows it now; kUnknown when there is
// no listing.
Role listedRole(const ContendOptions& o, const std::string& host, int& started) {
  ContenderInHostSequence list;
  if (Ostrel::GetContenderList(list, o.serverOrNull(), o.realmOrNull()) != 0) return Role::kUnknown;
  const Role role = roleOf(list, host, o.name, started);
  Ostrel::DestoryContenderInHostSequence(&list);
  return role;
}

const char* roleText(Role role) {
  switch (role) {
    case Role::kActive: return "active";
    case Role::kStandby: return "standby";
    default: return "not registered";
  }
}

std::string localHostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

void contend(Tool& tool, const ContendOptions& o) {
  // An empty name is no contender the server keeps: the role would be waited for without end.
  if (o.name.empty()) {
    tool.err << "ostrel: contend: NAME is empty; a contender needs a name\n";
    tool.rc = 2;
    return;
  }
  if (!check(tool, "connect", Ostrel::ConnectTarn(o.serverOrNull()))) return;
  // Another process of this host that holds the name already refuses this one's registration
  // (2005) until it leaves or expires: until then the listing's entry is the other's.
  const std::string host = localHostName();
  int heldSince = 0;
  bool held = listedRole(o, host, heldSince) != Role::kAbsent && heldSince != 0;
  void* handle = nullptr;
  if (o.record.empty()) {
    handle = Ostrel::ContendHeartBit(o.name.c_str(), o.module.c_str(), o.period, o.serverOrNull(), o.realmOrNull());
    if (!handle) {
      tool.err << "ostrel: contend " << o.name << ": no heartbeat could be started\n";
      tool.rc = 1;
      return;
    }
  } else {
    BrennicData record(o.record[0].c_str(), 0);
    if (o.periodGiven || !o.module.empty()) {
      // The record form of the operation takes neither: say so rather than drop them.
      tool.err << "ostrel: contend --record: the record form beats every 5 s without a module; "
                  "--period and --module cannot go with it\n";
      tool.rc = 2;
      return;
    }
    if (record.GetTypeName() == nullptr) {
      tool.err << "ostrel: contend: unknown data type '" << o.record[0] << "'\n";
      tool.rc = 2;
      return;
    }
    std::string error;
    if (!parseAssignments(record, std::vector<std::string>(o.record.begin() + 1, o.record.end()), error)) {
      tool.err << "ostrel: " << error << "\n";
      tool.rc = 2;
      return;
    }
    if (!check(tool, "contend " + o.name,
               Ostrel::ContendHeartBit(o.name.c_str(), record, o.serverOrNull(), o.realmOrNull())))
      return;
  }
  tool.out << clockText(std::time(nullptr)) << "  " << o.name << " on " << host << ": contending, Ctrl-C ends"
           << std::endl;
  Role shown = Role::kUnknown;
  bool waitingShown = false;
  untilInterrupted([&] {
    int started = 0;
    const Role role = listedRole(o, host, started);
    if (role == Role::kUnknown) return;
    // The other's registration is gone once the entry is, or is another (a new start time).
    if (held && (role == Role::kAbsent || started != heldSince)) held = false;
    if (held) {
      if (!waitingShown)
        tool.out << clockText(std::time(nullptr)) << "  " << o.name << " on " << host
                 << ": waiting: the name is held by another process of this host (registered at "
                 << clockText(static_cast<std::time_t>(heldSince)) << ")" << std::endl;
      waitingShown = true;
      return;
    }
    if (role == shown) return;
    shown = role;
    tool.out << clockText(std::time(nullptr)) << "  " << o.name << " on " << host << ": " << roleText(role)
             << std::endl;
  }, 500);
  // The record form has no handle: its heartbeat leaves when the tool ends the library.
  Ostrel::OutContendHeartBit(handle, o.serverOrNull(), o.realmOrNull());
  tool.out << clockText(std::time(nullptr)) << "  " << o.name << " on " << host << ": left" << std::endl;
}

std::string table(const ContenderInHostSequence& list) {
  std::ostringstream out;
  out << std::left << std::setw(20) << "HOST" << std::setw(24) << "NAME" << std::setw(10) << "STARTED"
      << std::setw(11) << "LAST BEAT" << std::setw(8) << "ACTIVE" << "RECORD\n";
  for (int i = 0; i < list.count; ++i) {
    const ContenderInHost* host = list.items[i];
    if (!host) continue;
    if (!host->programs || host->programs->count == 0) {
      out << std::setw(20) << host->hostName << "(no contenders)\n";
      continue;
    }
    for (int j = 0; j < host->programs->count; ++j) {
      const ProgramStatus* program = host->programs->items[j];
      if (!program) continue;
      const char* type = program->data ? program->data->GetTypeName() : nullptr;
      out << std::setw(20) << host->hostName << std::setw(24) << program->name << std::setw(10)
          << clockText(program->value1) << std::setw(11) << clockText(program->value2) << std::setw(8)
          << (program->value3 ? "yes" : "no") << (type ? type : program->data ? "(raw)" : "-") << "\n";
    }
  }
  if (list.count == 0) out << "(no contenders)\n";
  return out.str();
}

void contenders(Tool& tool, const ContendOptions& o) {
  if (!check(tool, "connect", Ostrel::ConnectTarn(o.serverOrNull()))) return;
  auto show = [&] {
    ContenderInHostSequence list;
    const int rc = Ostrel::GetContenderList(list, o.serverOrNull(), o.realmOrNull());
    if (!check(tool, "contenders", rc)) return;
    const std::string text = o.json ? contendersJson(list) : table(list);
    Ostrel::DestoryContenderInHostSequence(&list);
    if (o.watch && !o.json && isatty(STDOUT_FILENO)) tool.out << "\033[H\033[2J";
    if (o.watch && !o.json) tool.out << clockText(std::time(nullptr)) << "\n";
    tool.out << text << std::flush;
  };
  if (!o.watch) return show();
  untilInterrupted([&] {
    tool.rc = 0;  // a failed refresh shows its error; the next one may succeed
    show();
  }, 1000);
}

void addContentionCommands(CLI::App& app, Tool& tool) {
  auto o = std::make_shared<ContendOptions>();
  auto* contendCommand = app.add_subcommand(
      "contend", "Keep a heartbeat going under NAME until Ctrl-C; print each change of the active role "
                 "(while another process of this host holds NAME: waiting, until it leaves or expires)");
  contendCommand->add_option("NAME", o->name, "contender name")->required();
  contendCommand->add_option("-p,--period", o->period, "seconds between heartbeats (default 5; 0 means 1)")
      ->check(CLI::Range(0, 86400));
  contendCommand->add_option("-m,--module", o->module, "module name sent with every heartbeat");
  contendCommand->add_option("--record", o->record,
                             "TYPE path=value...: register this record with the contender "
                             "(the record form: period 5 s, no module)")
      ->expected(1, -1);
  contendCommand->add_option("-s,--server", o->server, "server name (default: the own server)");
  contendCommand->add_option("-r,--realm", o->realm, "realm inside the server (default: its default realm)");
  contendCommand->callback([&tool, o, contendCommand] {
    o->periodGiven = contendCommand->count("--period") > 0;
    contend(tool, *o);
  });

  auto* listCommand = app.add_subcommand("contenders", "Show the contenders host by host");
  listCommand->add_flag("-w,--watch", o->watch, "refresh every second until Ctrl-C");
  listCommand->add_flag("--json", o->json, "print one JSON array of {host, name, started, last_beat (seconds since 1970), started_at, last_beat_at (ISO 8601), active, record}"
                                           " (with --watch: one array per line and refresh)");
  listCommand->add_option("-s,--server", o->server, "server name (default: the own server)");
  listCommand->add_option("-r,--realm", o->realm, "realm inside the server (default: its default realm)");
  listCommand->callback([&tool, o] { contenders(tool, *o); });
}

}  // namespace

OSTREL_TOOL_COMMANDS(addContentionCommands);

}  // namespace tool
