// Messaging commands: port, box, monitor, declare, persist, realms, channels, connections. Each takes
// --server and --realm and connects the server first. Values are shown and taken as text
// through the record printer and the path=value parser, as the data point commands do.
//
// Request and reply from two terminals (against a tarnd named in TARN_SETTINGS):
//   A$ ostrel port recv commands --type AnalogPoint      prints the packet and its reply handle
//   B$ ostrel port send commands AnalogPoint value=3 --wait 30000
//   A$ ostrel port reply HANDLE AnalogPoint value=6      B prints the reply
#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"

namespace tool {

int openReceiving(const std::string& name, unsigned int& handle, const ServerTarget& target) {
  int rc = Ostrel::ConnectPortForRecv(name.c_str(), handle, target.serverOrNull(), target.realmOrNull());
  if (rc == OstrelCode::kReceiveRefused) rc = Ostrel::ConnectPortForRecv(name.c_str(), handle, target.serverOrNull(), target.realmOrNull());
  return rc;
}

namespace {

constexpr int kPortKind = 30005;
constexpr int kBoxKind = 30006;

// Fills `value` with `bytes` to show: as `type` when one is given and the bytes are its size, raw
// otherwise (show() decodes a self-describing one). Returns why a typed value is shown raw, or "".
std::string shownAs(const std::string& type, const char* bytes, unsigned int length, BrennicData& value) {
  std::string note;
  if (!type.empty()) {
    value = BrennicData(type.c_str(), 0);
    if (value.GetTypeName() != nullptr && value.GetBufferSize() == length) {
      value.SetRawValue(const_cast<char*>(bytes), static_cast<int>(length));
      return note;
    }
    note = value.GetTypeName() == nullptr
        ? "the type " + type + " is unknown here"
        : std::to_string(length) + " bytes, not a " + type + " (" + std::to_string(value.GetBufferSize()) + " bytes)";
    value = BrennicData();
  }
  char* copy = static_cast<char*>(::operator new(length ? length : 1));
  if (length) std::memcpy(copy, bytes, length);
  value.SwellSetRawValue(copy, static_cast<int>(length));
  return note;
}

}  // namespace

int peekChannel(const std::string& name, bool box, unsigned int from, int count, const std::string& type,
                const ServerTarget& target, unsigned int& held,
                const std::function<void(unsigned int, BrennicData&, const std::string&)>& each) {
  kxPeekedValues seen;
  const int rc = kx_peek_channel(name.c_str(), box ? kBoxKind : kPortKind, from, count, &seen, target.serverOrNull(),
                                 target.realmOrNull());
  held = seen.held;
  for (int i = 0; i < seen.count; ++i) {
    BrennicData value;
    const std::string note = shownAs(type, seen.items[i].buffer, seen.items[i].length, value);
    each(seen.items[i].position, value, note);
  }
  kx_destory_peeked(&seen);
  return rc;
}

std::string peekJson(const std::string& name, bool box, unsigned int from, int count, const std::string& type,
                     const ServerTarget& target, int& rc) {
  unsigned int held = 0;
  std::string values;
  rc = peekChannel(name, box, from, count, type, target, held,
                   [&values](unsigned int position, BrennicData& value, const std::string& note) {
                     std::string one = "{\"position\": " + std::to_string(position) + ", " + valueJson(value).substr(1);
                     if (!note.empty()) one.insert(one.size() - 1, ", \"note\": " + jsonString(note));
                     values += (values.empty() ? "" : ", ") + one;
                   });
  return "{\"channel\": " + jsonString(name) + ", \"kind\": \"" + (box ? "box" : "port") + "\", \"held\": " +
         std::to_string(held) + ", \"from\": " + std::to_string(from) + ", \"values\": [" + values + "]}";
}

namespace {

// Everything one command line may fill; made afresh for every line.
struct Args {
  ServerTarget target;
  std::string name;
  std::string type;
  std::vector<std::string> names;
  std::vector<std::string> assignments;
  int code = 0;
  int size = 1000;
  int timeout = -1;
  int wait = 0;
  int count = 0;
  unsigned int handle = 0;
  unsigned int from = 0;
  bool typed = false;
  bool json = false;
};

// A record of `type` with the assignments applied; false (rc 2, or 1 for an unknown type) when
// the type or an assignment is refused.
bool makeRecord(Tool& tool, const std::string& type, const std::vector<std::string>& assignments, BrennicData& record) {
  record = BrennicData(type.c_str(), 0);
  if (record.GetTypeName() == nullptr) {
    tool.err << "ostrel: unknown type '" << type << "'\n";
    tool.rc = 1;
    return false;
  }
  std::string error;
  if (!parseAssignments(record, assignments, error)) {
    tool.err << "ostrel: " << error << "\n";
    tool.rc = 2;
    return false;
  }
  return true;
}

// A received value, the same for every command that receives: a heading line ("== WHERE  TYPE
// NAME", and "(received HH:MM:SS.mmm)" when `received` is an isoTime), then the value as a table
// when it has a type. A value without a type is decoded when it is exactly one stream form (a
// self-describing event received without a type); any other is shown as its size and bytes in
// hex.
void show(Tool& tool, const std::string& where, BrennicData& record, const std::string& received = "") {
  BrennicData decoded;
  char* bytes = nullptr;
  unsigned int length = 0;
  BrennicData* shown = decodedOrSelf(record, decoded, bytes, length);
  const char* type = shown->GetTypeName();
  const char* name = shown->GetDataName();
  tool.out << "== " << where << "  " << (type ? type : "raw") << (name && *name ? std::string("  ") + name : std::string())
           << (received.size() > 23 ? "  (received " + received.substr(11, 12) + ")" : std::string()) << "\n";
  if (type != nullptr) {
    printRecord(tool.out, *shown);
    return;
  }
  if (bytes == nullptr) length = 0;
  tool.out << length << " bytes:";
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(bytes);
  for (unsigned int i = 0; i < length; ++i)
    tool.out << (i % 16 ? " " : "\n  ") << std::hex << std::setw(2) << std::setfill('0') << int(raw[i]) << std::dec;
  tool.out << std::setfill(' ') << "\n";
}

// A received value as one JSON line, with the time it was received.
void showJson(Tool& tool, const std::string& where, BrennicData& record, const std::string& received,
              const std::string& note = "") {
  std::string line = receivedJson(where, record);
  line.insert(line.size() - 1, ", \"received\": " + jsonString(received));
  if (!note.empty()) line.insert(line.size() - 1, ", \"note\": " + jsonString(note));
  tool.out << line << "\n";
}

// Closes a connection the command opened when the command ends, however it ends.
struct Closing {
  unsigned int handle;
  const ServerTarget& target;
  ~Closing() { Ostrel::DisConnect(static_cast<int>(handle), target.serverOrNull(), target.realmOrNull()); }
};

// A record typed as `type` (when given) to receive into.
BrennicData receiving(const std::string& type) { return type.empty() ? BrennicData() : BrennicData(type.c_str(), 0); }

// `box peek` and `port peek`: the values a port or box holds, left where they are.
void addPeekCommand(CLI::App* parent, Tool& tool, bool box) {
  auto a = std::make_shared<Args>();
  a->count = 20;
  const std::string what = box ? "box" : "port";
  auto* peek = parent->add_subcommand(
      "peek", std::string("Show the ") + (box ? "events box" : "packets port") + " NAME holds, taking none");
  peek->add_option("NAME", a->name, what + " name")->required();
  peek->add_option("--from", a->from, "the first queue position to show (0, the default, is the front)");
  peek->add_option("--count", a->count, "show at most this many (1 to 1000, default 20)")->check(CLI::Range(1, 1000));
  peek->add_option("-t,--type", a->type, "show values of this type's size as this type (others raw)");
  peek->add_flag("--json", a->json, "print one JSON object: {channel, kind, held, from, values: [{position, name, type, fields}]}");
  addServerOptions(peek, a->target);
  peek->callback([&tool, a, box, what] {
    if (!connectServer(tool, a->target)) return;
    if (a->json) {
      int rc = 0;
      const std::string json = peekJson(a->name, box, a->from, a->count, a->type, a->target, rc);
      if (check(tool, what + " peek " + a->name, rc)) tool.out << json << "\n";
      return;
    }
    std::ostringstream shown;
    Tool into(shown, tool.err);
    unsigned int held = 0, last = 0;
    int n = 0;
    const int rc = peekChannel(a->name, box, a->from, a->count, a->type, a->target, held,
                               [&](unsigned int position, BrennicData& value, const std::string& note) {
                                 show(into, a->name + " #" + std::to_string(position), value);
                                 if (!note.empty()) shown << "(" << note << ")\n";
                                 last = position;
                                 ++n;
                               });
    if (!check(tool, what + " peek " + a->name, rc)) return;
    tool.out << a->name << " holds " << held << (box ? " event" : " packet") << (held == 1 ? "" : "s");
    if (n > 0)
      tool.out << "; positions " << a->from << " to " << last << ":\n" << shown.str();
    else
      tool.out << (a->from > 0 && held > 0 ? "; none from position " + std::to_string(a->from) : std::string()) << "\n";
  });
}

std::atomic<bool> interrupted{false};
void onInterrupt(int) { interrupted = true; }

void addPortCommands(CLI::App& app, Tool& tool) {
  auto a = std::make_shared<Args>();
  auto* port = app.add_subcommand("port", "Packet ports: create, send, recv, reply, peek");
  port->require_subcommand(1);

  auto* create = port->add_subcommand("create", "Create a packet port");
  create->add_option("NAME", a->name, "port name")->required();
  addServerOptions(create, a->target);
  create->callback([&tool, a] {
    if (connectServer(tool, a->target, true) &&
        check(tool, "port create " + a->name,
              Ostrel::CreatePort(a->name.c_str(), a->target.serverOrNull(), a->target.realmOrNull())))
      tool.out << "created port " << a->name << "\n";
  });

  auto* send = port->add_subcommand("send", "Send a packet TYPE path=value... to a port; --wait MS for the reply");
  send->add_option("NAME", a->name, "port name")->required();
  send->add_option("TYPE", a->type, "type of the packet")->required();
  send->add_option("ASSIGNMENTS", a->assignments, "path=value ...");
  send->add_option("-w,--wait", a->wait, "wait this many ms for the reply (negative: without limit)");
  addServerOptions(send, a->target);
  send->callback([&tool, a] {
    BrennicData packet;
    if (!makeRecord(tool, a->type, a->assignments, packet) || !connectServer(tool, a->target, true)) return;
    unsigned int handle = 0;
    if (!check(tool, "port send " + a->name,
               Ostrel::SendPacket(a->name.c_str(), packet, handle, 0, a->target.serverOrNull(), a->target.realmOrNull())))
      return;
    tool.out << "sent to " << a->name << " through handle " << handle << "\n";
    // The send connection is the command's own: close it when done, or the server keeps it
    // until its idle limit.
    Closing closing{handle, a->target};
    if (a->wait == 0) return;
    BrennicData reply;
    const int waited = waitInterruptibly(a->wait, [&](int slice) {
      return Ostrel::WaitUndefinedReply(handle, reply, slice, a->target.serverOrNull(), a->target.realmOrNull());
    });
    if (!check(tool, "wait for the reply", waited)) return;
    BrennicData typed(a->type.c_str(), 0);
    if (typed.GetBufferSize() == reply.GetBufferSize()) typed.SetRawValue(reply.GetRawValue(), reply.GetBufferSize());
    show(tool, "reply", typed.GetBufferSize() == reply.GetBufferSize() ? typed : reply);
  });

  auto* recv = port->add_subcommand("recv", "Receive one packet and print it with its reply handle");
  recv->add_option("NAME", a->name, "port name")->required();
  recv->add_option("-t,--type", a->type, "show the packet as this type");
  recv->add_option("--timeout", a->timeout, "ms to wait (default: without limit)");
  recv->add_flag("--json", a->json, "print one JSON object: {port, name, type, fields, reply_handle, received}");
  addServerOptions(recv, a->target);
  recv->callback([&tool, a] {
    if (!connectServer(tool, a->target)) return;
    // Received through a connection of its own, closed whatever the outcome (a receive by name
    // that times out leaves its connection open).
    unsigned int handle = 0;
    if (!check(tool, "port recv " + a->name, openReceiving(a->name, handle, a->target))) return;
    Closing closing{handle, a->target};
    BrennicData packet = receiving(a->type);
    unsigned int replyHandle = 0;
    const int received = waitInterruptibly(a->timeout, [&](int slice) {
      return Ostrel::ReceivePacket(handle, replyHandle, packet, slice, a->target.serverOrNull(), a->target.realmOrNull());
    });
    if (!check(tool, "port recv " + a->name, received)) {
      // A packet shorter than the type stays at the head of the port for every typed receiver.
      if (received == OstrelCode::kEventSizeMismatch && !a->type.empty())
        tool.err << "ostrel: the packet at the head of " << a->name << " is not a " << a->type
                 << "; `ostrel port recv " << a->name << "` without --type takes it as raw bytes\n";
      return;
    }
    if (a->json) {
      std::string line = "{\"port\": " + jsonString(a->name) + ", " + valueJson(packet).substr(1);
      line.insert(line.size() - 1, ", \"reply_handle\": " + std::to_string(replyHandle) + ", \"received\": " +
                                       jsonString(isoTime()));
      tool.out << line << "\n";
      return;
    }
    tool.out << "packet from " << a->name << ", reply handle " << replyHandle << "\n";
    show(tool, a->name, packet, isoTime());
  });

  addPeekCommand(port, tool, false);

  auto* reply = port->add_subcommand("reply", "Answer a packet: HANDLE TYPE path=value...");
  reply->add_option("HANDLE", a->handle, "the reply handle that recv printed")->required();
  reply->add_option("TYPE", a->type, "type of the reply")->required();
  reply->add_option("ASSIGNMENTS", a->assignments, "path=value ...");
  addServerOptions(reply, a->target);
  reply->callback([&tool, a] {
    BrennicData answer;
    if (!makeRecord(tool, a->type, a->assignments, answer) || !connectServer(tool, a->target, true)) return;
    if (check(tool, "port reply", Ostrel::ReplyPacket(a->handle, answer, 0, a->target.serverOrNull(), a->target.realmOrNull())))
      tool.out << "replied to handle " << a->handle << "\n";
  });
}

void addBoxCommands(CLI::App& app, Tool& tool) {
  auto a = std::make_shared<Args>();
  auto* box = app.add_subcommand("box", "Event boxes: create, send, recv, peek, count, clear, delete, code");
  box->require_subcommand(1);
  auto simple = [&](const char* verb, const char* help, auto operation) {
    auto* command = box->add_subcommand(verb, help);
    command->add_option("NAME", a->name, "box name")->required();
    addServerOptions(command, a->target);
    return command->callback([&tool, a, verb, operation] {
      if (connectServer(tool, a->target, std::string(verb) != "count")) check(tool, std::string("box ") + verb + " " + a->name, operation(*a));
    });
  };

  simple("create", "Create a box NAME CODE [--size N] taking event code CODE", [&tool](Args& x) {
    const int rc = Ostrel::CreateEventBox(x.name.c_str(), x.code, x.size, x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0) tool.out << "created box " << x.name << " for code " << x.code << ", " << x.size << " events\n";
    return rc;
  })->add_option("CODE", a->code, "event code")->required();
  box->get_subcommand("create")->add_option("--size", a->size, "how many events it holds (default 1000)");

  simple("code", "Make box NAME take event code CODE too", [&tool](Args& x) {
    const int rc = Ostrel::AddEventCode(x.name.c_str(), x.code, x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0) tool.out << x.name << " takes code " << x.code << "\n";
    return rc;
  })->add_option("CODE", a->code, "event code")->required();

  simple("count", "How many events box NAME holds", [&tool](Args& x) {
    unsigned int n = 0;
    const int rc = Ostrel::EventCount(x.name.c_str(), n, x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0 && x.json) tool.out << "{\"box\": " << jsonString(x.name) << ", \"count\": " << n << "}\n";
    if (rc == 0 && !x.json) tool.out << n << "\n";
    return rc;
  })->add_flag("--json", a->json, "print one JSON object: {box, count}");
  simple("clear", "Drop every event of box NAME", [&tool](Args& x) {
    const int rc = Ostrel::ClearEventBox(x.name.c_str(), x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0) tool.out << "cleared " << x.name << "\n";
    return rc;
  });
  simple("delete", "Delete box NAME (its waiting receivers wake)", [&tool](Args& x) {
    const int rc = Ostrel::DeleteEventBox(x.name.c_str(), x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0) tool.out << "deleted " << x.name << "\n";
    return rc;
  });

  auto* send = simple("send", "Send one event TYPE path=value... to box NAME, whatever its codes", [&tool](Args& x) {
    BrennicData event;
    if (!makeRecord(tool, x.type, x.assignments, event)) return 0;  // the message and status are set
    const int rc = Ostrel::SendEvent(x.name.c_str(), event, 0, x.target.serverOrNull(), x.target.realmOrNull());
    if (rc == 0) tool.out << "sent to " << x.name << "\n";
    return rc;
  });
  send->add_option("TYPE", a->type, "type of the event")->required();
  send->add_option("ASSIGNMENTS", a->assignments, "path=value ...");

  auto* recv = simple("recv", "Receive up to -n events of box NAME (typed by --type, else raw)", [&tool](Args& x) {
    unsigned int handle = 0;
    const int opened = openReceiving(x.name, handle, x.target);
    if (opened != 0) return opened;
    Closing closing{handle, x.target};
    BrennicDataList list;
    const int rc = waitInterruptibly(x.timeout, [&](int slice) {
      return Ostrel::ReceiveEventN(handle, list, x.type.empty() ? nullptr : x.type.c_str(), x.count > 0 ? x.count : 1,
                                   slice, x.target.serverOrNull(), x.target.realmOrNull());
    });
    const std::string received = isoTime();
    for (int i = 0; rc == 0 && i < list.count; ++i) {
      if (x.json)
        showJson(tool, x.name, *list.items[i], received);
      else
        show(tool, x.name, *list.items[i], received);
    }
    Ostrel::DestoryBrennicDataList(&list);
    return rc;
  });
  recv->add_option("-t,--type", a->type, "the events' type");
  recv->add_flag("--json", a->json, "one JSON object per event and line: {box, name, type, fields, received}");
  recv->add_option("-n", a->count, "at most this many events (default 1)");
  recv->add_option("--timeout", a->timeout, "ms to wait for the first (default: without limit)");

  addPeekCommand(box, tool, true);
}

void addEventCommands(CLI::App& app, Tool& tool) {
  auto a = std::make_shared<Args>();

  auto* declare = app.add_subcommand("declare", "Declare an event CODE TYPE path=value... to every box of the code");
  declare->add_option("CODE", a->code, "event code")->required();
  declare->add_option("TYPE", a->type, "type of the event")->required();
  declare->add_option("ASSIGNMENTS", a->assignments, "path=value ...");
  declare->add_flag("--typed", a->typed, "send the bare value (receivers must know the type); default: self-describing");
  addServerOptions(declare, a->target);
  declare->callback([&tool, a] {
    BrennicData event;
    if (!makeRecord(tool, a->type, a->assignments, event) || !connectServer(tool, a->target, true)) return;
    const char* server = a->target.serverOrNull();
    const char* realm = a->target.realmOrNull();
    const int rc = a->typed ? Ostrel::SendEvent(a->code, event, server, realm)
                            : Ostrel::SendUndefinedEvent(a->code, event, server, realm);
    if (check(tool, "declare " + std::to_string(a->code), rc)) tool.out << "declared code " << a->code << "\n";
  });

  auto* persist = app.add_subcommand("persist", "Mark a port or box as persistent (--off: not persistent)");
  persist->add_option("NAME", a->name, "port or box name")->required();
  persist->add_flag("--off", a->typed, "clear the mark");
  addServerOptions(persist, a->target);
  persist->callback([&tool, a] {
    const bool on = !a->typed;
    if (connectServer(tool, a->target, true) &&
        check(tool, "persist " + a->name,
              Ostrel::SetPersistent(a->name.c_str(), on, a->target.serverOrNull(), a->target.realmOrNull())))
      tool.out << a->name << (on ? " is persistent\n" : " is not persistent\n");
  });

  auto* monitor = app.add_subcommand("monitor", "Print events of boxes as they arrive, until Ctrl-C or -n events");
  monitor->add_option("BOX", a->names, "box names")->required();
  monitor->add_option("-t,--type", a->type, "the events' type (default: self-describing events)");
  monitor->add_option("-n", a->count, "stop after this many events");
  monitor->add_flag("--json", a->json, "one JSON object per event and line: {box, name, type, fields, received}");
  addServerOptions(monitor, a->target);
  monitor->callback([&tool, a] {
    if (!connectServer(tool, a->target)) return;
    const char* server = a->target.serverOrNull();
    const char* realm = a->target.realmOrNull();
    std::vector<unsigned int> handles;
    for (const std::string& box : a->names) {
      unsigned int handle = 0;
      if (!check(tool, "monitor " + box, Ostrel::ConnectPortForRecv(box.c_str(), handle, server, realm))) break;
      handles.push_back(handle);
    }
    interrupted = false;
    auto previous = std::signal(SIGINT, onInterrupt);
    if (handles.size() == a->names.size()) tool.err << "watching " << handles.size() << " box(es); Ctrl-C ends\n" << std::flush;
    // Each box in turn waits a short while, so that Ctrl-C and every box are served promptly.
    const int slice = 200 / static_cast<int>(handles.size() ? handles.size() : 1);
    int seen = 0;
    while (handles.size() == a->names.size() && !interrupted && (a->count <= 0 || seen < a->count)) {
      for (std::size_t b = 0; b < handles.size() && !interrupted; ++b) {
        BrennicDataList list;
        const int want = a->count > 0 ? a->count - seen : 100;
        int rc = a->type.empty()
            ? Ostrel::ReceiveUndefinedEventN(handles[b], list, want, slice, server, realm)
            : Ostrel::ReceiveEventN(handles[b], list, a->type.c_str(), want, slice, server, realm);
        std::string note;
        if (rc == OstrelCode::kEventSizeMismatch && !a->type.empty()) {
          // An event of another size than the type stays at the head of the box: take it raw,
          // say so, and go on.
          Ostrel::DestoryBrennicDataList(&list);
          rc = Ostrel::ReceiveUndefinedEventN(handles[b], list, 1, 0, server, realm);
          char* bytes = nullptr;
          unsigned int length = 0;
          if (rc == 0 && list.count == 1 && list.items[0]->heldValue(bytes, length) == 0) {
            BrennicData typed(a->type.c_str(), 0);
            note = std::to_string(length) + " bytes, not a " + a->type + " (" + std::to_string(typed.GetBufferSize()) +
                   " bytes)";
          }
        }
        if (rc != 0 && rc != OstrelCode::kNothingReceived && !check(tool, "monitor " + a->names[b], rc)) interrupted = true;
        const std::string received = isoTime();
        for (int i = 0; i < list.count; ++i) {
          if (a->json) {
            showJson(tool, a->names[b], *list.items[i], received, note);
          } else {
            show(tool, a->names[b], *list.items[i], received);
          }
        }
        if (!note.empty() && !a->json) tool.out << "(" << note << ")\n";
        tool.out << std::flush;
        seen += list.count;
        Ostrel::DestoryBrennicDataList(&list);
        if (a->count > 0 && seen >= a->count) break;
      }
    }
    std::signal(SIGINT, previous);
    for (unsigned int handle : handles) Ostrel::DisConnect(static_cast<int>(handle), server, realm);
  });
}

void addListingCommands(CLI::App& app, Tool& tool) {
  auto a = std::make_shared<Args>();
  auto printNames = [&tool, a](const std::string& what, int rc, ObjectNames& names) {
    if (!check(tool, what, rc)) return;
    if (a->typed) {  // --json
      tool.out << "[";
      for (int i = 0; i < names.count; ++i) tool.out << (i ? ", " : "") << jsonString(names.names[i]);
      tool.out << "]\n";
    } else {
      for (int i = 0; i < names.count; ++i) tool.out << (*names.names[i] ? names.names[i] : "(default)") << "\n";
    }
    Ostrel::DeatoryNameSeq(&names);
  };

  auto* realms = app.add_subcommand("realms", "List the realms of a server");
  realms->add_option("-s,--server", a->target.server, "server name (default: the own server)");
  realms->add_flag("--json", a->typed, "print one JSON array of names (\"\" is the default realm)");
  realms->callback([&tool, a, printNames] {
    ObjectNames names;
    if (connectServer(tool, a->target)) printNames("realms", Ostrel::GetReleamNames(&names, a->target.serverOrNull()), names);
  });

  auto* realm = app.add_subcommand("realm", "Realms: delete (the server reclaims realms nothing uses on its own)");
  realm->require_subcommand(1);
  auto* removal = realm->add_subcommand("delete", "Delete an empty realm now, through the server's own call");
  removal->add_option("NAME", a->name, "the realm (not the default realm)")->required();
  removal->add_option("-s,--server", a->target.server, "server name (default: the own server)");
  removal->callback([&tool, a] {
    if (connectServer(tool, a->target) &&
        check(tool, "realm delete " + a->name, kx_delete_releam(a->target.serverOrNull(), a->name.c_str())))
      tool.out << "deleted realm " << a->name << "\n";
  });

  auto* channels = app.add_subcommand("channels", "List the ports and event boxes of a realm");
  addServerOptions(channels, a->target);
  channels->add_flag("--json", a->typed, "print one JSON array of names");
  channels->callback([&tool, a, printNames] {
    ObjectNames names;
    if (connectServer(tool, a->target))
      printNames("channels", Ostrel::GetCommChennelSeq(&names, a->target.serverOrNull(), a->target.realmOrNull()), names);
  });

  auto* connections = app.add_subcommand("connections", "List the open connections to ports and boxes of a realm");
  addServerOptions(connections, a->target);
  connections->add_flag("--json", a->typed,
                        "print one JSON array of {handle, direction, channel, process, idle_s, limit_s}");
  connections->callback([&tool, a] {
    if (!connectServer(tool, a->target)) return;
    ConnectionSequence list;
    if (!check(tool, "connections", Ostrel::GetConnectSeq(&list, a->target.serverOrNull(), a->target.realmOrNull()))) return;
    if (a->typed) {
      tool.out << "[";
      for (int i = 0; i < list.count; ++i) {
        const ConnectionEntry& c = list.items[i];
        tool.out << (i ? ",\n " : "") << "{\"handle\": " << c.handle << ", \"direction\": \""
                 << (c.direction == 30003 ? "send" : "receive") << "\", \"channel\": " << jsonString(c.portName)
                 << ", \"process\": " << jsonString(c.process) << ", \"idle_s\": " << c.idleSeconds
                 << ", \"limit_s\": " << c.reclaimSeconds << "}";
      }
      tool.out << "]\n";
      Ostrel::DestoryConnectSeq(&list);
      return;
    }
    tool.out << std::left << std::setw(12) << "HANDLE" << std::setw(11) << "DIRECTION" << std::setw(24) << "CHANNEL"
             << std::setw(24) << "PROCESS" << "IDLE\n";
    for (int i = 0; i < list.count; ++i) {
      const ConnectionEntry& c = list.items[i];
      tool.out << std::setw(12) << c.handle << std::setw(11) << (c.direction == 30003 ? "send" : "receive")
               << std::setw(24) << c.portName << std::setw(24) << c.process << c.idleSeconds << " s\n";
    }
    if (list.count) tool.out << "(a connection unused for " << list.items[0].reclaimSeconds << " s is closed by the server)\n";
    Ostrel::DestoryConnectSeq(&list);
  });
}

OSTREL_TOOL_COMMANDS(addPortCommands);
OSTREL_TOOL_COMMANDS(addBoxCommands);
OSTREL_TOOL_COMMANDS(addEventCommands);
OSTREL_TOOL_COMMANDS(addListingCommands);

}  // namespace
}  // namespace tool
