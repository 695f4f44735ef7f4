// ostrel web: a live view of a plant in the browser, served from this process (web_server.h).
//
// Every view of the page is one server-sent event stream (/api/stream/VIEW) that sends the
// view's JSON once per update period, and only when it changed (the point view and its plot:
// every period). The data point list sends only the page of names the browser shows: the
// names are listed and filtered every few seconds, their values read with one GetDataPointN
// per period. Writes (a field, a named snapshot) are POSTs that the server refuses unless
// --allow-writes was given, and so is the stream that takes a box's events; the box monitor
// otherwise only looks at what the box holds. Each message carries "cost_ms", what making it cost this process.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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
#if !defined(_WIN32)
#  include "tools/ostrel/web_server.h"
#endif

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

#if defined(_WIN32)

void serveWeb(Tool& tool, const WebOptions&) {
  tool.err << "ostrel: web: not available in this build (the Windows build carries no web server; run "
              "`ostrel web` on Linux against the same servers)\n";
  tool.rc = 1;
}

#else

using web::Request;
using web::Response;
using web::Stream;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string costText(double ms) {
  std::ostringstream text;
  text.precision(3);
  text << ms;
  return text.str();
}

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

// The numeric fields of the realm's points, sampled once per period by this process from its
// start, so that a page opened later shows the past. Each point kept has a ring of `capacity`
// samples (the history's span at the period): a time and one double per numeric field (kx_time
// fields are left out: they are times, not measures). Points are taken in name order while the
// full rings of those kept fit the byte budget, so memory stays within it whatever the realm
// holds; a point deleted from the realm frees its ring, and the next point by name may then be
// taken. A point of another type than when it was taken starts its ring again.
class History {
 public:
  History(const WebOptions& options)
      : target_(options.target), period_(options.period),
        capacity_(static_cast<std::size_t>(options.historyMinutes) * 60000 / static_cast<std::size_t>(options.period)),
        budget_(static_cast<std::size_t>(options.historyMb) << 20) {}
  ~History() { stop(); }

  void start() {
    if (capacity_ == 0 || budget_ == 0) return;
    thread_ = std::thread([this] { run(); });
  }
  void stop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // {"span_ms", "capacity", "points", "bytes", "budget", "pass_ms"}: what the history holds and
  // what its last pass (reading and storing one sample of each point kept) cost, for /api/info.
  std::string summary() {
    std::lock_guard<std::mutex> hold(mutex_);
    return "{\"span_ms\": " + std::to_string(capacity_ * static_cast<std::size_t>(period_)) +
           ", \"capacity\": " + std::to_string(capacity_) + ", \"points\": " + std::to_string(rings_.size()) +
           ", \"bytes\": " + std::to_string(reserved_) + ", \"budget\": " + std::to_string(budget_) +
           ", \"pass_ms\": " + costText(passMs_) + "}";
  }

  // The history of `point` as JSON: its fields, and per sample a time (ms since 1970) and a value
  // per field (null where there was none). At most `most` samples are sent: above that, each of
  // most / 2 runs of samples is sent as two, the lowest and the highest value of each field in
  // their order, at the run's first and last time, so peaks stay in the plot.
  std::string json(const std::string& point, std::size_t most) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = rings_.find(point);
    if (found == rings_.end())
      return "{\"point\": " + jsonString(point) + ", \"kept\": false, \"reason\": " +
             jsonString(capacity_ == 0 || budget_ == 0 ? "the history is off"
                        : full_ ? "the history's budget is spent on other points" : "not sampled (yet)") + "}";
    const Ring& ring = found->second;
    const std::size_t n = ring.times.size();
    auto at = [&ring, n, this](std::size_t i) { return n < capacity_ ? i : (ring.next + i) % n; };
    std::vector<std::size_t> xs;          // sample indexes (in age order) sent as times
    std::vector<std::vector<double>> ys(ring.paths.size());
    const bool decimated = n > most;
    if (!decimated) {
      for (std::size_t i = 0; i < n; ++i) {
        xs.push_back(i);
        for (std::size_t f = 0; f < ring.paths.size(); ++f) ys[f].push_back(ring.values[f][at(i)]);
      }
    } else {
      const std::size_t runs = std::max<std::size_t>(1, most / 2);
      for (std::size_t r = 0; r < runs; ++r) {
        const std::size_t from = r * n / runs, to = (r + 1) * n / runs;
        if (to <= from) continue;
        xs.push_back(from);
        xs.push_back(to - 1);
        for (std::size_t f = 0; f < ring.paths.size(); ++f) {
          std::size_t low = to, high = to;
          for (std::size_t i = from; i < to; ++i) {
            const double v = ring.values[f][at(i)];
            if (std::isnan(v)) continue;
            if (low == to || v < ring.values[f][at(low)]) low = i;
            if (high == to || v > ring.values[f][at(high)]) high = i;
          }
          const double nan = std::nan("");
          const double a = low == to ? nan : ring.values[f][at(std::min(low, high))];
          const double b = low == to ? nan : ring.values[f][at(std::max(low, high))];
          ys[f].push_back(a);
          ys[f].push_back(b);
        }
      }
    }
    auto number = [](double v) {
      if (!std::isfinite(v)) return std::string("null");
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", v);
      return std::string(text);
    };
    std::string times, fields, values;
    for (std::size_t i : xs) times += (times.empty() ? "" : ",") + std::to_string(ring.times[at(i)]);
    for (std::size_t f = 0; f < ring.paths.size(); ++f) {
      fields += (f ? ", " : "") + jsonString(ring.paths[f]);
      std::string row;
      for (std::size_t k = 0; k < ys[f].size(); ++k) row += (k ? "," : "") + number(ys[f][k]);
      values += std::string(f ? ", " : "") + "[" + row + "]";
    }
    return "{\"point\": " + jsonString(point) + ", \"kept\": true, \"type\": " + jsonString(ring.type) +
           ", \"period_ms\": " + std::to_string(period_) + ", \"capacity\": " + std::to_string(capacity_) +
           ", \"samples\": " + std::to_string(n) + ", \"decimated\": " + (decimated ? "true" : "false") +
           ", \"fields\": [" + fields + "], \"times\": [" + times + "], \"values\": [" + values + "]}";
  }

  // Whether `realm` is the one sampled.
  bool samples(const std::string& realm) const { return realm == target_.realm; }

 private:
  struct Ring {
    std::string type;
    std::vector<std::string> paths;
    std::vector<long long> times;             // grows to capacity_, then wraps at `next`
    std::vector<std::vector<double>> values;  // one per path, as times
    std::size_t next = 0;
    std::size_t bytes = 0;                    // what the full ring costs
  };

  static bool sampled(const FieldText& field) {
    if (field.type == "kx_time" || field.type == "kx_time2" || field.type == "char*" || field.type == "wchar*")
      return false;
    return jsonValue(field).front() != '"' || field.text == "nan" || field.text == "inf" || field.text == "-inf";
  }

  void run() {
    Clock::time_point listed{};
    std::vector<std::string> names;  // the realm's, by name
    for (Clock::time_point tick = Clock::now();; tick += std::chrono::milliseconds(period_)) {
      {
        std::unique_lock<std::mutex> hold(mutex_);
        if (wake_.wait_until(hold, tick, [this] { return ending_; })) return;
      }
      const Clock::time_point now = Clock::now();
      if (now > tick + std::chrono::milliseconds(period_)) tick = now;  // a late pass is not caught up
      if (listed == Clock::time_point{} || now - listed > std::chrono::seconds(5)) {
        ObjectNames list;
        if (Ostrel::GetAllPointName(&list, target_.serverOrNull(), target_.realmOrNull()) == 0) {
          names.assign(list.names, list.names + list.count);
          std::sort(names.begin(), names.end());
          forgetGone(names);
        }
        Ostrel::DeatoryNameSeq(&list);
        listed = now;
      }
      sample(names);
      const double spent = msSince(now);
      std::lock_guard<std::mutex> hold(mutex_);
      passMs_ = spent;
    }
  }

  void forgetGone(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto it = rings_.begin(); it != rings_.end();) {
      if (std::binary_search(names.begin(), names.end(), it->first)) {
        ++it;
        continue;
      }
      reserved_ -= it->second.bytes;
      it = rings_.erase(it);
      full_ = false;
    }
    // A point without numbers is looked at again when it was deleted and made anew.
    for (auto it = unsampled_.begin(); it != unsampled_.end();)
      it = std::binary_search(names.begin(), names.end(), *it) ? std::next(it) : unsampled_.erase(it);
  }

  // Reads the points kept and, while the budget has room, the next ones by name; one sample each.
  void sample(const std::vector<std::string>& names) {
    std::vector<std::string> wanted;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      for (const auto& kept : rings_) wanted.push_back(kept.first);
      std::size_t tried = 0;
      for (std::size_t i = 0; !full_ && tried < 500 && i < names.size(); ++i)
        if (rings_.count(names[i]) == 0 && unsampled_.count(names[i]) == 0) wanted.push_back(names[i]), ++tried;
    }
    const long long at = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
    for (std::size_t from = 0; from < wanted.size(); from += 500) {
      const std::vector<std::string> batch(wanted.begin() + static_cast<long>(from),
                                           wanted.begin() + static_cast<long>(std::min(wanted.size(), from + 500)));
      BrennicDataList list;
      if (Ostrel::GetDataPointN(batch, list, target_.serverOrNull(), target_.realmOrNull()) == 0) {
        for (int j = 0; j < list.count; ++j)
          if (list.items[j] && list.items[j]->GetDataName()) add(*list.items[j], at);
      }
      Ostrel::DestoryBrennicDataList(&list);
    }
  }

  void add(BrennicData& record, long long at) {
    const std::string type = record.GetTypeName() ? record.GetTypeName() : "";
    std::vector<std::string> paths;
    std::vector<double> values;
    for (const FieldText& field : fieldTexts(record)) {
      if (!sampled(field)) continue;
      paths.push_back(field.path);
      values.push_back(std::strtod(field.text.c_str(), nullptr));
    }
    std::lock_guard<std::mutex> hold(mutex_);
    const std::string name = record.GetDataName();
    auto found = rings_.find(name);
    if (found != rings_.end() && (found->second.type != type || found->second.paths != paths)) {
      reserved_ -= found->second.bytes;
      rings_.erase(found);
      found = rings_.end();
      full_ = false;  // its room is free again, for it first
    }
    if (found == rings_.end()) {
      if (paths.empty()) {
        unsampled_.insert(name);  // nothing to keep: not read again while it exists
        return;
      }
      if (full_) return;
      const std::size_t bytes = capacity_ * sizeof(double) * (paths.size() + 1) + 64 * (paths.size() + 1) + name.size();
      if (reserved_ + bytes > budget_) {
        full_ = true;
        return;
      }
      Ring ring;
      ring.type = type;
      ring.paths = paths;
      ring.values.resize(paths.size());
      ring.bytes = bytes;
      reserved_ += bytes;
      found = rings_.emplace(name, std::move(ring)).first;
    }
    Ring& ring = found->second;
    if (ring.times.size() < capacity_) {
      ring.times.push_back(at);
      for (std::size_t f = 0; f < values.size(); ++f) ring.values[f].push_back(values[f]);
      return;
    }
    ring.times[ring.next] = at;
    for (std::size_t f = 0; f < values.size(); ++f) ring.values[f][ring.next] = values[f];
    ring.next = (ring.next + 1) % capacity_;
  }

  const ServerTarget target_;
  const int period_;
  const std::size_t capacity_;
  const std::size_t budget_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;                  // GUARDED_BY(mutex_)
  bool full_ = false;                    // GUARDED_BY(mutex_): a point did not fit the budget
  std::size_t reserved_ = 0;             // GUARDED_BY(mutex_): the full rings' bytes
  double passMs_ = 0;                    // GUARDED_BY(mutex_): what the last pass cost
  std::map<std::string, Ring> rings_;    // GUARDED_BY(mutex_)
  std::set<std::string> unsampled_;      // GUARDED_BY(mutex_): points without numeric fields
};

// The page's views. One instance serves every connection thread; it holds no state of a view.
class Views {
 public:
  Views(const WebOptions& options, ServerNews& news, History& history)
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
  History& history_;
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
  History history(o);
  history.start();
  Views views(o, news, history);
  web::Server server(options, routes(views), web::pageFiles());
  std::string error;
  // A client that leaves mid-write must not end the process (the sockets send with MSG_NOSIGNAL too).
  void (*oldPipe)(int) = std::signal(SIGPIPE, SIG_IGN);
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
  std::signal(SIGPIPE, oldPipe);
  history.stop();
  Ostrel::RemoveListener(news);
}

#endif

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
      "Views: servers, data points (filter, live values, a point's fields and their plot, writing one field),\n"
      "ports and event boxes (counts, the events a box holds; taking them as they arrive only with --allow-writes),\n"
      "contenders, snapshots (list, make, download).\n"
      "The page only answers to its own address: requests from other sites' pages are refused.");
  web->callback([&tool, o] { serveWeb(tool, *o); });
}

}  // namespace

OSTREL_TOOL_COMMANDS(addWebCommand);

}  // namespace tool
