// ostrel web: a live view of a plant in the browser, served from this process (web_server.h).
//
// Every view of the page is one server-sent event stream (/api/stream/VIEW) that sends the
// view's JSON once per update period, and only when it changed (the point view and its plot:
// every period). The data point list sends only the page of names the browser shows: the
// names are listed and filtered every few seconds, their values read with one GetDataPointN
// per period. Writes (a field, a named snapshot) are POSTs that the server refuses unless
// --allow-writes was given, and so is the stream that takes a box's events; the box monitor
// otherwise only looks at what the box holds. Each message carries "cost_ms", what making it cost this process.
// The numeric fields of the realm's points are sampled every period from the start
// (web_history.h) and served, decimated, by /api/history.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/connection/status_listener.h"
#include "ostrel/data/record.h"
#include "ostrel/datapoints/remote_file.h"
#include "ostrel/redundancy/contender_lists.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"
#include "tools/ostrel/web_history.h"
#include "tools/ostrel/web_server.h"

namespace tool {
namespace {

// How many of a box's events its monitor shows when it looks without taking.
constexpr int kMonitorShown = 100;
// How many fields of each point the data point list sends (the page says how many more there are).
constexpr std::size_t kListFields = 12;

struct WebOptions {
  ServerTarget target;
  std::string listen = "127.0.0.1:8080";
  bool allowWrites = false;
  int period = 500;
  int historyMinutes = 60;  // the span of each point's history; 0: none kept
  int historyMb = 64;       // the most the history's rings may take
};

using web::Request;
using web::Response;
using web::Stream;

using Clock = std::chrono::steady_clock;
using web::costText;
using web::msSince;

// `object` (one JSON object, nothing after its closing brace) with member `name` added; `value`
// is JSON.
std::string withMember(const std::string& object, const char* name, const std::string& value) {
  return object.substr(0, object.size() - 1) + ", \"" + name + "\": " + value + "}";
}

std::string withCost(const std::string& object, double ms) { return withMember(object, "cost_ms", costText(ms)); }

std::string codeJson(int code, const std::string& text) {
  return "{\"code\": " + std::to_string(code) + ", \"text\": " + jsonString(text) + "}";
}

// A result code, with its text unless it is 0.
std::string codeJson(int code) { return codeJson(code, code ? codeText(code) : ""); }

// What the status listeners heard of each server: the last change and when.
class ServerNews : public BrennicStatusListenerBase {
 public:
  void onConnected(const char* server) override { note(server, "up"); }
  void onDisconnected(const char* server) override { note(server, "down"); }
  void onNamingServerChanged(const char*, int) override {}
  void onDataServerChanged(const char*, const char*, int) override {}
  void onEventServerChanged(const char*, const char*, int) override {}
  void onMasterChanged(const char*, bool) override {}

  struct Heard {
    std::string what;
    long long at = 0;  // seconds since 1970
  };
  Heard heard(const std::string& server) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = heard_.find(server);
    return found == heard_.end() ? Heard{} : found->second;
  }

 private:
  void note(const char* server, const char* what) {
    if (server == nullptr) return;
    std::lock_guard<std::mutex> hold(mutex_);
    Heard& last = heard_[server];
    if (last.what == what) return;
    last = Heard{what, static_cast<long long>(std::time(nullptr))};
  }
  std::mutex mutex_;
  std::map<std::string, Heard> heard_;  // GUARDED_BY(mutex_)
};

// The page's views. One instance serves every connection thread; it holds no state of a view.
class Views {
 public:
  Views(const WebOptions& options, ServerNews& news, web::History& history)
      : o_(options), news_(news), history_(history), started_(std::time(nullptr)) {}

  ServerTarget target(const Request& request) const {
    ServerTarget t = o_.target;
    auto realm = request.query.find("realm");
    if (realm != request.query.end()) t.realm = realm->second;
    return t;
  }
  std::string param(const Request& request, const char* name) const {
    auto found = request.query.find(name);
    return found == request.query.end() ? std::string() : found->second;
  }
  int number(const Request& request, const char* name, int fallback, int low, int high) const {
    try {
      const int value = std::stoi(param(request, name));
      return value < low ? low : value > high ? high : value;
    } catch (const std::exception&) {
      return fallback;
    }
  }

  Response info(const Request&) const {
    return {200, "application/json",
            "{\"writes\": " + std::string(o_.allowWrites ? "true" : "false") + ", \"server\": " +
                jsonString(o_.target.server) + ", \"realm\": " + jsonString(o_.target.realm) +
                ", \"period_ms\": " + std::to_string(o_.period) + ", \"version\": " + jsonString(OSTREL_VERSION) +
                ", \"history\": " + history_.summary() + "}\n",
            {}};
  }

  // A point's history (History::json), at most `most` samples (1,000 unless asked: 10 to 5,000).
  Response history(const Request& request) const {
    const std::string name = param(request, "point");
    if (name.empty()) return web::errorResponse(400, "history needs a point");
    if (!history_.samples(target(request).realm))
      return {200, "application/json",
              "{\"point\": " + jsonString(name) + ", \"kept\": false, \"reason\": \"the history is kept for realm " +
                  (o_.target.realm.empty() ? std::string("(default)") : o_.target.realm) + " only\"}\n",
              {}};
    const int most = number(request, "most", 1000, 10, 5000);
    return {200, "application/json", history_.json(name, static_cast<std::size_t>(most)) + "\n", {}};
  }

  Response realms(const Request&) const {
    ObjectNames names;
    const int rc = Ostrel::GetReleamNames(&names, o_.target.serverOrNull());
    if (rc != 0) return web::errorResponse(502, "realms: " + std::to_string(rc) + " " + codeText(rc));
    std::string body = "[";
    for (int i = 0; i < names.count; ++i) body += (i ? ", " : "") + jsonString(names.names[i]);
    Ostrel::DeatoryNameSeq(&names);
    return {200, "application/json", body + "]\n", {}};
  }

  // Servers: position, addresses, the active one, state and the last change heard.
  std::string servers(const Request& request) {
    std::string rows;
    for (const ServerState& one : serverStates(false)) {
      const ServerNews::Heard heard = news_.heard(one.name);
      std::string addresses;
      for (const std::string& a : one.addresses) addresses += (addresses.empty() ? "" : ", ") + jsonString(a);
      rows += std::string(rows.empty() ? "" : ", ") + "{\"server\": " + jsonString(one.name) +
              ", \"position\": " + jsonString(one.position) + ", \"addresses\": [" + addresses + "]" +
              ", \"active\": " + jsonString(one.active) + ", \"state\": " + std::to_string(one.state) +
              ", \"text\": " + jsonString(one.text) + ", \"heard\": " + jsonString(heard.what) +
              ", \"since\": " + std::to_string(heard.at ? heard.at : started_) + "}";
    }
    return "{\"servers\": [" + rows + "], \"realm\": " + jsonString(target(request).realm) + "}";
  }

  // One page of the points whose names match the pattern (a text without * ? [ matches names
  // that hold it), with type and values.
  void points(const Request& request, Stream& stream) {
    const ServerTarget t = target(request);
    std::string pattern = param(request, "pattern");
    if (pattern.find_first_of("*?[") == std::string::npos) pattern = "*" + pattern + "*";
    const int offset = number(request, "offset", 0, 0, 1 << 30);
    const bool descending = param(request, "order") == "desc";
    const int count = number(request, "count", 50, 1, 500);
    std::vector<std::string> matching;
    Clock::time_point listed{};
    int listRc = 0;
    double listMs = 0;
    std::string last;
    for (;;) {
      const Clock::time_point start = Clock::now();
      // New and deleted points show within a few seconds; the values every period.
      if (listed == Clock::time_point{} || start - listed > std::chrono::seconds(5)) {
        ObjectNames names;
        listRc = Ostrel::GetAllPointName(&names, t.serverOrNull(), t.realmOrNull());
        matching.clear();
        for (int i = 0; listRc == 0 && i < names.count; ++i)
          if (globMatch(pattern.c_str(), names.names[i])) matching.push_back(names.names[i]);
        Ostrel::DeatoryNameSeq(&names);
        std::sort(matching.begin(), matching.end());
        if (descending) std::reverse(matching.begin(), matching.end());
        listed = start;
        listMs = msSince(start);
      }
      const std::size_t from = std::min(matching.size(), static_cast<std::size_t>(offset));
      const std::vector<std::string> visible(matching.begin() + static_cast<long>(from),
                                             matching.begin() + static_cast<long>(std::min(matching.size(), from + count)));
      BrennicDataList list;
      const int rc = visible.empty() ? 0 : Ostrel::GetDataPointN(visible, list, t.serverOrNull(), t.realmOrNull());
      std::map<std::string, BrennicData*> byName;
      for (int j = 0; j < list.count; ++j)
        if (list.items[j] && list.items[j]->GetDataName()) byName[list.items[j]->GetDataName()] = list.items[j];
      std::string rows;
      for (const std::string& name : visible) {
        auto found = byName.find(name);
        std::string type = "", fields = "";
        std::size_t more = 0;
        if (found != byName.end()) {
          BrennicData& record = *found->second;
          type = record.GetTypeName() ? record.GetTypeName() : "";
          std::size_t shown = 0;
          for (const FieldText& field : fieldTexts(record)) {
            if (shown == kListFields) {
              ++more;
              continue;
            }
            // A text is cut here (the page marks the cut); the page formats numbers and times.
            fields += std::string(shown++ ? ", " : "") + "{\"path\": " + jsonString(field.path) + ", \"type\": " +
                      jsonString(field.type) + ", \"value\": " + jsonValue({field.path, field.type, shortened(field.text, 120)}) + "}";
          }
        }
        rows += std::string(rows.empty() ? "" : ", ") + "{\"name\": " + jsonString(name) + ", \"type\": " +
                jsonString(type) + ", \"fields\": [" + fields + "], \"more\": " + std::to_string(more) +
                ", \"found\": " + (found != byName.end() ? "true" : "false") + "}";
      }
      Ostrel::DestoryBrennicDataList(&list);
      const int code = listRc != 0 ? listRc : rc;
      const std::string now = "{\"total\": " + std::to_string(matching.size()) + ", \"offset\": " +
                              std::to_string(from) + ", \"code\": " + std::to_string(code) + ", \"text\": " +
                              jsonString(code ? codeText(code) : "") + ", \"rows\": [" + rows + "]}";
      if (now != last && !stream.send(withCost(withMember(now, "list_ms", costText(listMs)), msSince(start))))
        return;
      last = now;
      listMs = 0;
      if (!stream.pause(o_.period)) return;
    }
  }

  // One point, every field, every period (the page plots the numbers).
  void point(const Request& request, Stream& stream) {
    const ServerTarget t = target(request);
    const std::string name = param(request, "name");
    do {
      const Clock::time_point start = Clock::now();
      BrennicData record;
      const int rc = Ostrel::GetDataPoint(name.c_str(), record, t.serverOrNull(), t.realmOrNull());
      std::string fields;
      if (rc == 0) {
        for (const FieldText& field : fieldTexts(record))
          fields += std::string(fields.empty() ? "" : ", ") + "{\"path\": " + jsonString(field.path) +
                    ", \"type\": " + jsonString(field.type) + ", \"text\": " + jsonString(field.text) +
                    ", \"value\": " + jsonValue(field) + "}";
      }
      const long long at = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch()).count();
      const std::string now = "{\"name\": " + jsonString(name) + ", \"type\": " +
                              jsonString(rc == 0 && record.GetTypeName() ? record.GetTypeName() : "") +
                              ", \"code\": " + std::to_string(rc) + ", \"text\": " + jsonString(rc ? codeText(rc) : "") +
                              ", \"time_ms\": " + std::to_string(at) + ", \"fields\": [" + fields + "]}";
      if (!stream.send(withCost(now, msSince(start)))) return;
    } while (stream.pause(o_.period));
  }

  // Ports and boxes of the realm: a box with the events it holds.
  std::string channels(const Request& request) {
    const ServerTarget t = target(request);
    ObjectNames names;
    const int rc = Ostrel::GetCommChennelSeq(&names, t.serverOrNull(), t.realmOrNull());
    std::string rows;
    for (int i = 0; rc == 0 && i < names.count; ++i) {
      unsigned int held = 0;
      const bool box = Ostrel::EventCount(names.names[i], held, t.serverOrNull(), t.realmOrNull()) == 0;
      rows += std::string(rows.empty() ? "" : ", ") + "{\"name\": " + jsonString(names.names[i]) + ", \"kind\": " +
              (box ? "\"box\"" : "\"port\"") + ", \"count\": " + (box ? std::to_string(held) : "null") + "}";
    }
    Ostrel::DeatoryNameSeq(&names);
    return withMember(codeJson(rc), "channels", "[" + rows + "]");
  }

  // The events one box holds (the first kMonitorShown), looked at once per period and sent when
  // they changed. Nothing is taken: looking leaves the events to the programs that receive them.
  void monitor(const Request& request, Stream& stream) {
    const ServerTarget t = target(request);
    const std::string box = param(request, "box");
    const std::string type = param(request, "type");
    std::string last;
    do {
      const Clock::time_point start = Clock::now();
      int rc = 0;
      const std::string held = peekJson(box, true, 0, kMonitorShown, type, t, rc);
      const std::string now =
          withMember(withMember(held, "code", std::to_string(rc)), "text", jsonString(rc ? codeText(rc) : ""));
      if (now != last && !stream.send(withCost(now, msSince(start)))) return;
      last = now;
    } while (stream.pause(o_.period));
  }

  // The events of one box as they arrive, taken from the box as `ostrel monitor` does: a write,
  // served only with --allow-writes.
  void monitorTaking(const Request& request, Stream& stream) {
    const ServerTarget t = target(request);
    const std::string box = param(request, "box");
    const std::string type = param(request, "type");
    unsigned int handle = 0;
    const int opened = openReceiving(box, handle, t);
    if (!stream.send(codeJson(opened, opened ? codeText(opened) : "watching " + box)) || opened != 0) return;
    while (stream.pause(0)) {
      BrennicDataList list;
      const int rc = type.empty()
          ? Ostrel::ReceiveUndefinedEventN(handle, list, 100, 200, t.serverOrNull(), t.realmOrNull())
          : Ostrel::ReceiveEventN(handle, list, type.c_str(), 100, 200, t.serverOrNull(), t.realmOrNull());
      bool open = true;
      for (int i = 0; open && i < list.count; ++i) {
        const std::string event = receivedJson(box, *list.items[i]);
        open = stream.send(withMember(event, "at", std::to_string(static_cast<long long>(std::time(nullptr)))));
      }
      Ostrel::DestoryBrennicDataList(&list);
      if (!open) break;
      if (rc != 0 && rc != OstrelCode::kNothingReceived) {
        stream.send(codeJson(rc, codeText(rc)));
        if (!stream.pause(1000)) break;
      }
    }
    Ostrel::DisConnect(static_cast<int>(handle), t.serverOrNull(), t.realmOrNull());
  }

  std::string contenders(const Request& request) {
    const ServerTarget t = target(request);
    ContenderInHostSequence list;
    const int rc = Ostrel::GetContenderList(list, t.serverOrNull(), t.realmOrNull());
    const std::string rows = rc == 0 ? contendersJson(list) : "[]\n";
    Ostrel::DestoryContenderInHostSequence(&list);
    return withMember(codeJson(rc), "contenders", rows.substr(0, rows.size() - 1));
  }

  // A view that is one JSON object, sent when it changed.
  void changes(const Request& request, Stream& stream, std::string (Views::*view)(const Request&)) {
    std::string last;
    do {
      const Clock::time_point start = Clock::now();
      const std::string now = (this->*view)(request);
      if (now != last && !stream.send(withCost(now, msSince(start)))) return;
      last = now;
    } while (stream.pause(o_.period));
  }

  Response put(const Request& request) const {
    const std::string name = param(request, "name");
    const std::string path = param(request, "path");
    if (name.empty() || path.empty()) return web::errorResponse(400, "name and path are needed");
    BrennicData before, after;
    std::string error;
    const int rc = writeFields(name, {path + "=" + param(request, "value")}, target(request), before, after, error);
    if (rc == kBadAssignment) return web::errorResponse(400, error);
    std::string old, now, ignored;
    if (before.GetTypeName()) fieldText(before, path, old, ignored);
    if (after.GetTypeName()) fieldText(after, path, now, ignored);
    const std::string text = rc == 0 ? "written" : rc == kTypeUnknownHere ? error : codeText(rc);
    return {200, "application/json",
            withMember(withMember(codeJson(rc, text), "old", jsonString(old)), "new", jsonString(now)) + "\n", {}};
  }

  Response snapshots(const Request& request) const {
    std::vector<std::string> named, files;
    const int rc = snapshotLists(target(request), named, files);
    if (rc != 0) return web::errorResponse(502, "snapshot list: " + std::to_string(rc) + " " + codeText(rc));
    auto array = [](const std::vector<std::string>& names) {
      std::string text;
      for (const std::string& n : names) text += (text.empty() ? "" : ", ") + jsonString(n);
      return "[" + text + "]";
    };
    return {200, "application/json", "{\"named\": " + array(named) + ", \"files\": " + array(files) + "}\n", {}};
  }

  Response makeSnapshot(const Request& request) const {
    const std::string name = param(request, "name");
    if (name.empty()) return web::errorResponse(400, "a snapshot needs a name");
    const ServerTarget t = target(request);
    const int rc = Ostrel::CreateDTPSnapShut(name.c_str(), t.serverOrNull(), t.realmOrNull());
    return {200, "application/json", codeJson(rc, rc ? codeText(rc) : "made " + name) + "\n", {}};
  }

  // The server's current points or ports snapshot file, as a download.
  Response download(const Request& request) const {
    const std::string kind = param(request, "kind");
    if (kind != "points" && kind != "ports") return web::errorResponse(400, "kind is points or ports");
    const ServerTarget t = target(request);
    BrennicRemoteFile* file = kind == "points" ? OstrelExt::openDTPSnapShot(t.serverOrNull(), t.realmOrNull())
                                               : OstrelExt::openPortSnapShot(t.serverOrNull(), t.realmOrNull());
    if (file == nullptr) return web::errorResponse(404, "the server gives no " + kind + " snapshot file");
    std::string bytes, error;
    constexpr std::size_t kMost = 64u << 20;  // what one download may hold in this process
    const bool read = readRemoteFile(
        *file, 1u << 20,
        [&bytes](const char* data, unsigned n) {
          bytes.append(data, n);
          return bytes.size() <= kMost;
        },
        nullptr, error);
    OstrelExt::closeRemoteFile(&file);
    if (!read && bytes.size() > kMost)
      return web::errorResponse(507, "the file is larger than 64 MiB: use `ostrel snapshot download " + kind + " FILE`");
    if (!read) return web::errorResponse(502, error);
    return {200, "application/octet-stream", bytes,
            {{"Content-Disposition", "attachment; filename=\"" + kind + ".snapshot\""}}};
  }

 private:
  const WebOptions& o_;
  ServerNews& news_;
  web::History& history_;
  const long long started_;
};

std::vector<web::Route> routes(Views& v) {
  auto answer = [&v](Response (Views::*call)(const Request&) const) {
    return [&v, call](const Request& r) { return (v.*call)(r); };
  };
  auto changes = [&v](std::string (Views::*view)(const Request&)) {
    return [&v, view](const Request& r, Stream& s) { v.changes(r, s, view); };
  };
  auto stream = [&v](void (Views::*call)(const Request&, Stream&)) {
    return [&v, call](const Request& r, Stream& s) { (v.*call)(r, s); };
  };
  return {
      {"GET", "/api/info", false, answer(&Views::info), nullptr},
      {"GET", "/api/realms", false, answer(&Views::realms), nullptr},
      {"GET", "/api/history", false, answer(&Views::history), nullptr},
      {"GET", "/api/snapshots", false, answer(&Views::snapshots), nullptr},
      {"POST", "/api/snapshots", true, answer(&Views::makeSnapshot), nullptr},
      {"GET", "/api/snapshot", false, answer(&Views::download), nullptr},
      {"POST", "/api/put", true, answer(&Views::put), nullptr},
      {"GET", "/api/stream/servers", false, nullptr, changes(&Views::servers)},
      {"GET", "/api/stream/points", false, nullptr, stream(&Views::points)},
      {"GET", "/api/stream/point", false, nullptr, stream(&Views::point)},
      {"GET", "/api/stream/channels", false, nullptr, changes(&Views::channels)},
      {"GET", "/api/stream/monitor", false, nullptr, stream(&Views::monitor)},
      {"GET", "/api/stream/monitor-take", true, nullptr, stream(&Views::monitorTaking)},
      {"GET", "/api/stream/contenders", false, nullptr, changes(&Views::contenders)},
  };
}

// HOST:PORT or [IPv6]:PORT into its parts; false when it is neither.
bool splitListen(const std::string& listen, std::string& host, int& port) {
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = listen.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string digits = listen.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(digits);
  return port <= 65535;
}

void serveWeb(Tool& tool, const WebOptions& o) {
  web::Options options;
  if (!splitListen(o.listen, options.host, options.port)) {
    tool.err << "ostrel: web: --listen takes HOST:PORT (a port from 0 to 65535; 0 picks a free one), not '"
             << shortened(o.listen) << "'\n";
    tool.rc = 2;
    return;
  }
  options.allowWrites = o.allowWrites;
  if (!connectServer(tool, o.target)) return;
  serverStates(true);  // every server of the settings connected once, so the view starts with their states
  ServerNews news;
  Ostrel::InstallListener(news);
  web::History history(o.target, std::chrono::milliseconds(o.period), o.historyMinutes, o.historyMb);
  history.start();
  Views views(o, news, history);
  web::Server server(options, routes(views), web::pageFiles());
  std::string error;
#if defined(SIGPIPE)
  // A client that leaves mid-write must not end the process (the sockets send with MSG_NOSIGNAL too).
  void (*oldPipe)(int) = std::signal(SIGPIPE, SIG_IGN);
#endif
  if (!server.start(error)) {
    tool.err << "ostrel: web: " << error << "\n";
    tool.rc = 1;
  } else {
    const bool loopback = options.host == "localhost" || options.host == "::1" || options.host.rfind("127.", 0) == 0;
    const std::string shownHost = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    tool.out << "serving http://" << shownHost << ":" << server.boundPort() << "/ (writes "
             << (o.allowWrites ? "allowed" : "off") << "); Ctrl-C ends" << std::endl;
    if (!loopback)
      tool.err << "ostrel: web: listening beyond this host: whoever reaches " << o.listen
               << " sees the plant" << (o.allowWrites ? " and may change it" : "") << "\n";
    untilInterrupted([&server] { server.reap(); }, 200);
    server.stop();
  }
#if defined(SIGPIPE)
  std::signal(SIGPIPE, oldPipe);
#endif
  history.stop();
  Ostrel::RemoveListener(news);
}

void addWebCommand(CLI::App& app, Tool& tool) {
  auto o = std::make_shared<WebOptions>();
  auto* web = app.add_subcommand("web", "Serve a live view of the plant to a browser, until Ctrl-C");
  web->add_option("-l,--listen", o->listen, "HOST:PORT to serve on (default 127.0.0.1:8080; port 0 picks a free one)");
  web->add_flag("--allow-writes", o->allowWrites,
                "let the page write fields, make snapshots and take a box's events (default: read only)");
  web->add_option("-p,--period", o->period, "ms between updates of the page (default 500)")
      ->check(CLI::Range(50, 60000));
  web->add_option("--history", o->historyMinutes,
                  "minutes of each point's numeric fields kept from the start, sampled every period (default 60; 0: none)")
      ->check(CLI::Range(0, 24 * 60));
  web->add_option("--history-mb", o->historyMb,
                  "MiB the history may take; points are kept in name order while their full history fits (default 64)")
      ->check(CLI::Range(0, 16384));
  addServerOptions(web, o->target);
  web->footer(
      "Views: servers, data points (filter, sort, live values, a point's fields and their trend, writing one field),\n"
      "ports and event boxes (counts, the events a box holds; taking them as they arrive only with --allow-writes),\n"
      "contenders, snapshots (list, make, download).\n"
      "The numeric fields of the realm's points are kept from the start (--history, --history-mb), so a point's\n"
      "trend shows its past when its page opens later.\n"
      "The page only answers to its own address: requests from other sites' pages are refused.");
  web->callback([&tool, o] { serveWeb(tool, *o); });
}

}  // namespace

OSTREL_TOOL_COMMANDS(addWebCommand);

}  // namespace tool
