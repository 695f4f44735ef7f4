// The history of `ostrel web` (web_history.h).
#include "tools/ostrel/web_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tools/ostrel/records.h"

namespace tool::web {
namespace {

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

// Whether a field is sampled: a number that is not a time.
bool sampled(const FieldText& field) {
  if (field.type == "kx_time" || field.type == "kx_time2" || field.type == "char*" || field.type == "wchar*")
    return false;
  return jsonValue(field).front() != '"' || field.text == "nan" || field.text == "inf" || field.text == "-inf";
}

}  // namespace

History::History(const ServerTarget& target, std::chrono::milliseconds period, int minutes, int megabytes)
    : target_(target), period_(static_cast<int>(period.count())),
      capacity_(period.count() > 0 && minutes > 0
                    ? static_cast<std::size_t>(minutes) * 60000 / static_cast<std::size_t>(period.count()) : 0),
      budget_(megabytes > 0 ? static_cast<std::size_t>(megabytes) << 20 : 0) {}

History::~History() { stop(); }

void History::start() {
  if (capacity_ == 0 || budget_ == 0) return;
  thread_ = std::thread([this] { run(); });
}

void History::stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string History::summary() {
  std::lock_guard<std::mutex> hold(mutex_);
  return "{\"span_ms\": " + std::to_string(capacity_ * static_cast<std::size_t>(period_)) +
         ", \"capacity\": " + std::to_string(capacity_) + ", \"points\": " + std::to_string(rings_.size()) +
         ", \"bytes\": " + std::to_string(reserved_) + ", \"budget\": " + std::to_string(budget_) +
         ", \"pass_ms\": " + costText(passMs_) + "}";
}

std::string History::json(const std::string& point, std::size_t most) {
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

void History::run() {
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

void History::forgetGone(const std::vector<std::string>& names) {
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

void History::sample(const std::vector<std::string>& names) {
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

void History::add(BrennicData& record, long long at) {
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

}  // namespace tool::web
