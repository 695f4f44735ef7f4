// The delivery contract under faults, checked against a ledger.
//
// Each schedule (one seed) makes a kept event box and a kept packet port on one tarnd --data and
// starts two worker processes of this program. Each worker sends numbered events (one by one by
// box name, or in batches by code) and packets (each waiting for its reply), and receives them on
// four threads: two share one receive handle of the box (single and batch receives), one receives
// by the box's name, and packets are received by handle and by name and answered. Meanwhile the
// driver makes one fault: a stall of tarnd (SIGSTOP for 0.1 to 5 s), answers that leave the server
// after the client gave up on them (fault plans), ExitOstrel in the middle of one worker, or a
// kill and restart of tarnd. Every worker writes what it sent and what was acknowledged, and what
// it received, to a ledger; at the end the driver drains what is still queued and checks:
//
//   - every acknowledged send was received once, or is still queued (nothing is lost);
//   - nothing was received twice, except a message first received by a worker that ended in
//     ExitOstrel, or in the second before a kill of tarnd or before and during a stall that ended
//     less than three seconds before one (its acknowledgement may not have reached the disk);
//   - every reply a sender got answers a packet of its own, once.
//
// delivery_torture [--schedules N] [--seed S] [--parallel P]: N schedules (100) from seed S (the
// time), P at a time (2). A failure prints its seed; --schedules 1 --seed S replays it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kCode = 4242;
constexpr int kIdleSeconds = 6;  // longer than any stall: an idle close never hits a living receiver

long long wallMs() {
  return std::chrono::duration_cast<milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

BrennicData message(std::uint64_t id) {
  BrennicData record;
  record.SetRawValue(reinterpret_cast<char*>(&id), sizeof id);
  return record;
}

std::uint64_t idOf(BrennicData& record) {
  std::uint64_t id = 0;
  if (record.GetRawValue() && record.GetBufferSize() == sizeof id) std::memcpy(&id, record.GetRawValue(), sizeof id);
  return id;
}

// ----------------------------------------------------------------------------------------------
// A worker: one process of a schedule.

struct WorkerArgs {
  std::string box, port, ledger;
  int worker = 0;
  int code = 0;        // the event code of its box alone
  std::uint64_t seed = 0;
  int sendMs = 400;    // how long it sends
  int exitAtMs = -1;   // when it calls ExitOstrel and ends without closing anything (-1: never)
};

// One receive handle of the box, shared by receiving threads 0 and 1 of a worker.
std::mutex& receiveMutex() {
  static std::mutex mutex;
  return mutex;
}
unsigned int& sharedHandle() {
  static unsigned int handle = 0;
  return handle;
}

class Ledger {
 public:
  explicit Ledger(const std::string& path) : out_(path) {}
  // `since`: when the call that brought `id` began (a receipt lies between that and now).
  void write(const std::string& kind, std::uint64_t id, long long since = 0) {
    std::lock_guard<std::mutex> hold(mutex_);
    const long long now = wallMs();
    out_ << kind << ' ' << id << ' ' << (since ? since : now) << ' ' << now << '\n';
    out_.flush();
  }

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

int runWorker(const WorkerArgs& a) {
  for (int attempt = 0; Ostrel::ConnectTarn("plant") != 0; ++attempt) {  // tarnd may be restarting
    if (attempt == 100) return 3;
    std::this_thread::sleep_for(milliseconds(100));
  }
  Ledger ledger(a.ledger);
  std::atomic<int> senders{2}, receivers{5};
  const Clock::time_point start = Clock::now();
  const std::uint64_t base = (std::uint64_t(a.worker) + 1) << 32;
  std::vector<std::thread> threads;

  auto timeoutFrom = [](std::mt19937_64& rng) {
    static const int limits[] = {0, 50, 300, 1500, 20000, -1};
    return limits[rng() % 6];
  };
  // Receivers stop once sending is over and two receives brought nothing of the ledger's; long
  // and unlimited waits are only taken while the senders still run (wake-ups, id 0, end them).
  auto waitFor = [&](std::mt19937_64& rng) {
    const int t = timeoutFrom(rng);
    return senders > 0 ? t : (t < 0 || t > 300 ? 300 : t);
  };

  threads.emplace_back([&] {  // events, by box name one at a time or by code in batches
    std::mt19937_64 rng(a.seed * 7 + 1);
    for (std::uint64_t i = 0; Clock::now() - start < milliseconds(a.sendMs); ) {
      if (rng() % 2) {
        BrennicData one = message(base + i);
        ledger.write("s", base + i);
        if (Ostrel::SendEvent(a.box.c_str(), one, 0, "plant", nullptr) == 0) ledger.write("S", base + i);
        ++i;
      } else {
        // A copy of a record without a type holds nothing: the batch is made in place.
        const int n = 1 + static_cast<int>(rng() % 5);
        std::vector<BrennicData> batch(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
          const std::uint64_t id = base + i + static_cast<std::uint64_t>(k);
          batch[static_cast<std::size_t>(k)].SetRawValue(reinterpret_cast<char*>(const_cast<std::uint64_t*>(&id)), sizeof id);
        }
        if (Ostrel::SendEventN(a.code, batch, "plant", nullptr) == 0)
          for (int k = 0; k < n; ++k) ledger.write("S", base + i + k);
        i += n;
      }
      std::this_thread::sleep_for(milliseconds(rng() % 8));
    }
    --senders;
  });
  threads.emplace_back([&] {  // packets, each waiting for its reply
    std::mt19937_64 rng(a.seed * 7 + 2);
    unsigned int handle = 0;
    for (std::uint64_t i = 0; Clock::now() - start < milliseconds(a.sendMs); ++i) {
      const std::uint64_t id = base + (1u << 30) + i;
      BrennicData packet = message(id);
      if (handle == 0 && Ostrel::ConnectPortForSend(a.port.c_str(), handle, "plant", nullptr) != 0) handle = 0;
      const int rc = handle ? Ostrel::SendPacket(handle, packet, 0, "plant", nullptr) : -1;
      if (rc == 2011) handle = 0;
      if (rc != 0) continue;
      ledger.write("S", id);
      BrennicData reply = message(0);
      if (Ostrel::WaitReply(handle, reply, 300, "plant", nullptr) == 0) ledger.write("Y", idOf(reply));
      std::this_thread::sleep_for(milliseconds(rng() % 8));
    }
    --senders;
  });

  auto receiveLoop = [&](int which) {
    std::mt19937_64 rng(a.seed * 7 + 10 + which);
    unsigned int packets = 0;
    int empty = 0;
    while (!(senders == 0 && empty >= 2)) {
      int rc = 0;
      std::vector<std::uint64_t> got;
      const int timeout = waitFor(rng);
      const long long since = wallMs();
      if (which <= 1) {
        unsigned int handle = 0;
        {
          std::lock_guard<std::mutex> hold(receiveMutex());
          if (sharedHandle() == 0 && Ostrel::ConnectPortForRecv(a.box.c_str(), sharedHandle(), "plant", nullptr) != 0)
            sharedHandle() = 0;
          handle = sharedHandle();
        }
        if (handle == 0) {
          std::this_thread::sleep_for(milliseconds(50));
          continue;
        }
        if (which == 0) {
          BrennicData one = message(0);
          rc = Ostrel::ReceiveEvent(static_cast<int>(handle), one, timeout, "plant", nullptr);
          if (rc == 0) got.push_back(idOf(one));
        } else {
          BrennicDataList list;
          rc = Ostrel::ReceiveEventN(handle, list, nullptr, 1 + static_cast<int>(rng() % 5), timeout, "plant", nullptr);
          for (int i = 0; rc == 0 && i < list.count; ++i) got.push_back(idOf(*list.items[i]));
          Ostrel::DestoryBrennicDataList(&list);
        }
        if (rc == 2011) {
          std::lock_guard<std::mutex> hold(receiveMutex());
          if (sharedHandle() == handle) sharedHandle() = 0;
        }
      } else if (which == 2) {
        if (rng() % 2) {
          BrennicData one;
          rc = Ostrel::ReceiveEvent(a.box.c_str(), one, timeout, "plant", nullptr);
          if (rc == 0) got.push_back(idOf(one));
        } else {
          BrennicDataList list;
          rc = Ostrel::ReceiveEventN(a.box.c_str(), list, nullptr, 1 + static_cast<int>(rng() % 5), timeout, "plant",
                                     nullptr);
          for (int i = 0; rc == 0 && i < list.count; ++i) got.push_back(idOf(*list.items[i]));
          Ostrel::DestoryBrennicDataList(&list);
        }
      } else {
        BrennicData packet = message(0);
        unsigned int replyTo = 0;
        if (which == 3) {
          if (packets == 0 && Ostrel::ConnectPortForRecv(a.port.c_str(), packets, "plant", nullptr) != 0) packets = 0;
          rc = packets ? Ostrel::ReceivePacket(packets, replyTo, packet, timeout, "plant", nullptr) : 2011;
          if (rc == 2011) packets = 0;
        } else {
          rc = Ostrel::ReceivePacket(a.port.c_str(), replyTo, packet, timeout, "plant", nullptr);
        }
        if (rc == 0) {
          got.push_back(idOf(packet));
          if (idOf(packet) != 0) Ostrel::ReplyPacket(replyTo, packet, 0, "plant", nullptr);
        }
      }
      bool any = false;
      for (std::uint64_t id : got)
        if (id != 0) ledger.write("R" + std::to_string(which), id, since), any = true;
      empty = any ? 0 : empty + 1;
      if (rc != 0 && rc != 2008) std::this_thread::sleep_for(milliseconds(20));
    }
    if (packets) Ostrel::DisConnect(static_cast<int>(packets), "plant", nullptr);
    --receivers;
  };
  // Closed once neither thread receives on it any more: a close puts back what is in flight.
  auto closeShared = [] {
    unsigned int handle = 0;
    {
      std::lock_guard<std::mutex> hold(receiveMutex());
      std::swap(handle, sharedHandle());
    }
    if (handle) Ostrel::DisConnect(static_cast<int>(handle), "plant", nullptr);
  };
  for (int which = 0; which < 5; ++which) threads.emplace_back(receiveLoop, which);

  if (a.exitAtMs >= 0) {
    std::this_thread::sleep_for(milliseconds(a.exitAtMs));
    ledger.write("X", 0);
    Ostrel::ExitOstrel();  // every wait in flight ends; the process goes without closing anything
    std::_Exit(0);
  }
  threads[0].join();
  threads[1].join();
  // Wake-ups (id 0) for receivers still in a long wait, until every receiver has ended.
  unsigned int waker = 0;
  Ostrel::ConnectPortForSend(a.port.c_str(), waker, "plant", nullptr);
  while (receivers > 0) {
    BrennicData wake = message(0);
    Ostrel::SendEvent(a.box.c_str(), wake, 0, "plant", nullptr);
    Ostrel::SendPacket(waker, wake, 0, "plant", nullptr);
    std::this_thread::sleep_for(milliseconds(150));
  }
  for (std::size_t i = 2; i < threads.size(); ++i) threads[i].join();
  closeShared();
  Ostrel::ExitOstrel();
  return 0;
}

// ----------------------------------------------------------------------------------------------
// The driver.

enum Fault { kNone, kStall, kLateAnswers, kExit, kKill, kFaults };
const char* const kFaultNames[] = {"none", "stall", "late answers", "ExitOstrel", "kill and restart"};

struct Driver {
  Driver(testing_support::TarndProcess& server, std::string program) : tarnd(server), self(std::move(program)) {}
  testing_support::TarndProcess& tarnd;
  std::string self;
  std::mutex mutex;                         // guards tarnd's restarts and the kill times
  std::vector<long long> kills;             // wall times of kills
  long long stalledSince = 0;               // the start of the last stall (wall time)
  long long stalledUntil = 0;               // ... and its end
  std::vector<long long> windows;           // per kill: since when a receipt may not be on disk
  std::atomic<int> faults[kFaults] = {};
  std::atomic<long> delivered{0};
};

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (std::string& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Waits for `pid` up to `limit` (then kills it); empty when it ended well, else how it ended.
std::string reap(pid_t pid, milliseconds limit) {
  const Clock::time_point until = Clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > until) {
      ::kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "a worker hung";
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  return WIFEXITED(status) ? "a worker ended with status " + std::to_string(WEXITSTATUS(status))
                           : "a worker died of signal " + std::to_string(WTERMSIG(status));
}

// Everything still queued in `channel`, taken through a new connection.
bool drain(const std::string& channel, std::vector<std::uint64_t>& queued) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    unsigned int handle = 0;
    if (Ostrel::ConnectPortForRecv(channel.c_str(), handle, "plant", nullptr) != 0) {
      std::this_thread::sleep_for(milliseconds(200));
      continue;
    }
    int rc = 0;
    for (;;) {
      BrennicDataList list;
      rc = Ostrel::ReceiveEventN(handle, list, nullptr, 10000, 0, "plant", nullptr);
      for (int i = 0; rc == 0 && i < list.count; ++i) queued.push_back(idOf(*list.items[i]));
      Ostrel::DestoryBrennicDataList(&list);
      if (rc != 0) break;
    }
    Ostrel::DisConnect(static_cast<int>(handle), "plant", nullptr);
    if (rc == 2008) return true;
    std::this_thread::sleep_for(milliseconds(200));
  }
  return false;
}

// Runs schedule `number` with `seed`; an empty answer when the ledger holds, else what broke.
std::string runSchedule(Driver& d, int number, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const std::string box = "box." + std::to_string(number), port = "port." + std::to_string(number);
  // Stalls and late answers most often; an ExitOstrel costs its schedule the idle close.
  static const Fault kWeighted[] = {kNone, kStall, kStall, kStall, kLateAnswers, kLateAnswers, kKill, kKill, kExit};
  Fault fault = kWeighted[rng() % (sizeof kWeighted / sizeof kWeighted[0])];
  if (const char* only = std::getenv("OSTREL_TORTURE_FAULT")) fault = static_cast<Fault>(std::atoi(only));
  // A restart may be under way, or just over: the connector reports the server again at its next
  // scan (within about 6 s).
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(milliseconds(200));
    std::lock_guard<std::mutex> hold(d.mutex);
    if (Ostrel::CreateEventBox(box.c_str(), kCode + number, 100000, "plant", nullptr) % 2005 == 0 &&
        Ostrel::SetPersistent(box.c_str(), true, "plant", nullptr) == 0 &&
        Ostrel::CreatePort(port.c_str(), "plant", nullptr) % 2005 == 0 &&
        Ostrel::SetPersistent(port.c_str(), true, "plant", nullptr) == 0)
      break;
    if (attempt == 75) return "the channels could not be made";
  }
  char folder[] = "/tmp/delivery_torture.XXXXXX";
  if (!mkdtemp(folder)) return "no folder";
  std::vector<pid_t> workers;
  const int exitAt = fault == kExit ? 100 + static_cast<int>(rng() % 300) : -1;
  for (int w = 0; w < 2; ++w)
    workers.push_back(spawn({d.self, "--worker", box, port, std::string(folder) + "/" + std::to_string(w),
                             std::to_string(w), std::to_string(kCode + number), std::to_string(seed + w), "400", std::to_string(w == 1 ? exitAt : -1)}));

  // The fault, some time into the traffic.
  std::this_thread::sleep_for(milliseconds(50 + rng() % 250));
  d.faults[fault]++;
  if (fault == kStall) {
    const int ms = rng() % 10 == 0 ? 2000 + static_cast<int>(rng() % 3000) : 100 + static_cast<int>(rng() % 1400);
    std::lock_guard<std::mutex> hold(d.mutex);
    d.stalledSince = wallMs();
    ::kill(d.tarnd.pid(), SIGSTOP);
    std::this_thread::sleep_for(milliseconds(ms));
    ::kill(d.tarnd.pid(), SIGCONT);
    d.stalledUntil = wallMs();
  } else if (fault == kLateAnswers) {
    const char* operation = rng() % 2 ? "receive_tagged_answer" : "receive_tagged";
    std::lock_guard<std::mutex> hold(d.mutex);  // not while another schedule restarts tarnd
    try {
      testing_support::planFault("plant", operation, 2, 2, "", 0, 2500 + static_cast<int>(rng() % 500),
                                 static_cast<int>(rng() % 6));
    } catch (...) {  // the server is not reachable right now: no fault this time
    }
  } else if (fault == kKill) {
    std::lock_guard<std::mutex> hold(d.mutex);
    // Acknowledgements sent during a stall that ended lately may still wait in the server's
    // backlog: the window of this kill reaches back to a second before that stall began.
    const long long now = wallMs();
    d.kills.push_back(now);
    d.windows.push_back((now - d.stalledUntil < 3000 ? std::min(now, d.stalledSince) : now) - 1000);
    d.tarnd.kill();
    if (!d.tarnd.start()) return "tarnd did not come back";
  }

  std::string broken;
  for (pid_t pid : workers) {
    const std::string ended = reap(pid, milliseconds(60000));
    if (!ended.empty()) broken = ended;
  }
  if (fault == kLateAnswers) {
    std::lock_guard<std::mutex> hold(d.mutex);
    try {
      testing_support::clearFaults("plant");
    } catch (...) {  // a restart cleared them
    }
  }

  // The ledger.
  std::set<std::uint64_t> acknowledged;
  struct Receipt {
    int worker;
    long long since, at;  // the receive call's start and end
  };
  std::map<std::uint64_t, std::vector<Receipt>> received;
  std::map<int, std::multiset<std::uint64_t>> sent, replies;
  std::vector<std::uint64_t> queued;
  for (int w = 0; w < 2; ++w) {
    std::ifstream in(std::string(folder) + "/" + std::to_string(w));
    std::string kind;
    std::uint64_t id = 0;
    long long since = 0, at = 0;
    while (in >> kind >> id >> since >> at) {
      if (kind == "S") acknowledged.insert(id), sent[w].insert(id);
      if (kind[0] == 'R') received[id].push_back({w, since, at});  // R and the receiving thread
      if (kind == "Y") replies[w].insert(id);
    }
  }
  const bool keep = std::getenv("OSTREL_TORTURE_KEEP") != nullptr;
  if (!keep) std::filesystem::remove_all(folder);
  // What a worker that ended in ExitOstrel still held in flight comes back when the server closes
  // its idle connections: drain until nothing acknowledged is missing, or past that time.
  const Clock::time_point drained = Clock::now() + std::chrono::seconds(kIdleSeconds + 2);
  for (bool missing = true; missing;) {
    {
      std::lock_guard<std::mutex> hold(d.mutex);
      if (!drain(box, queued) || !drain(port, queued)) return "the channels could not be drained";
    }
    for (std::uint64_t id : queued) received[id].push_back({-1, LLONG_MAX, LLONG_MAX});  // still queued: last
    queued.clear();
    missing = false;
    for (std::uint64_t id : acknowledged) missing = missing || !received.count(id);
    if (missing && Clock::now() > drained) break;
    if (missing) std::this_thread::sleep_for(milliseconds(500));
  }
  {
    std::lock_guard<std::mutex> hold(d.mutex);
    Ostrel::DeleteEventBox(box.c_str(), "plant", nullptr);
  }
  std::vector<long long> kills, windows;
  {
    std::lock_guard<std::mutex> hold(d.mutex);
    kills = d.kills;
    windows = d.windows;
  }
  std::ostringstream why;
  for (std::uint64_t id : acknowledged)
    if (!received.count(id)) why << " lost " << std::hex << id << std::dec << ';';
  for (auto& entry : received) {
    if (entry.first == 0 || entry.second.size() < 2) continue;
    std::sort(entry.second.begin(), entry.second.end(),
              [](const Receipt& a, const Receipt& b) { return a.at < b.at; });  // the first in time
    bool excused = entry.second.front().worker == 1 && exitAt >= 0;
    // The first delivery lies within one of the receive calls: excused when a call overlaps a
    // kill's window. The kill's time is taken just before the signal: a call that began a moment
    // after it may still have reached the old server.
    for (const Receipt& r : entry.second)
      for (std::size_t k = 0; k < kills.size(); ++k)
        excused = excused || (r.worker >= 0 && r.since <= kills[k] + 100 && r.at >= windows[k]);
    if (!excused) why << " twice " << std::hex << entry.first << std::dec << ';';
  }
  for (const auto& entry : replies)
    for (std::uint64_t id : entry.second)
      if (!sent[entry.first].count(id) || entry.second.count(id) > 1)
        why << " a stray reply " << std::hex << id << std::dec << ';';
  d.delivered += static_cast<long>(acknowledged.size());
  if (!why.str().empty()) broken += " " + why.str().substr(0, 600) + (keep ? std::string(" ledgers in ") + folder : "");
  return broken.empty() ? "" : std::string(kFaultNames[fault]) + ":" + broken;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 10 && std::string(argv[1]) == "--worker") {
    WorkerArgs a{argv[2], argv[3], argv[4], std::atoi(argv[5]), std::atoi(argv[6]), std::strtoull(argv[7], nullptr, 10),
                 std::atoi(argv[8]), std::atoi(argv[9])};
    return runWorker(a);
  }
  int schedules = 100, parallel = 2;
  std::uint64_t seed = static_cast<std::uint64_t>(wallMs());
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--schedules") schedules = std::atoi(argv[i + 1]);
    else if (flag == "--seed") seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (flag == "--parallel") parallel = std::max(1, std::atoi(argv[i + 1]));
    else return std::fprintf(stderr, "unknown option %s\n", argv[i]), 2;
  }
  if (const char* n = std::getenv("OSTREL_TORTURE_SCHEDULES")) schedules = std::atoi(n);
  if (const char* s = std::getenv("OSTREL_TORTURE_SEED")) seed = std::strtoull(s, nullptr, 10);
  std::printf("delivery torture: %d schedules from seed %llu, %d at a time\n", schedules,
              static_cast<unsigned long long>(seed), parallel);
  std::fflush(stdout);

  char data[] = "/tmp/delivery_torture_data.XXXXXX";
  if (!mkdtemp(data)) return 2;
  setenv("TARN_IDLE_CONNECTION_S", std::to_string(kIdleSeconds).c_str(), 1);
  testing_support::TarndProcess tarnd("plant", testing_support::freePort(), {"--data", data, "--journal-sync", "os"});
  if (!tarnd.start()) return std::fprintf(stderr, "tarnd did not start\n"), 2;
  testing_support::ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  if (Ostrel::ConnectTarn("plant") != 0) return std::fprintf(stderr, "no connection to tarnd\n"), 2;

  Driver d(tarnd, "/proc/self/exe");
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) d.self = self;
  const Clock::time_point began = Clock::now();
  std::atomic<int> next{0}, failed{0};
  std::vector<std::thread> runners;
  for (int p = 0; p < parallel; ++p)
    runners.emplace_back([&] {
      for (int k; (k = next++) < schedules && failed == 0;) {
        const std::string broken = runSchedule(d, k, seed + static_cast<std::uint64_t>(k) * 1000003u);
        if (broken.empty()) continue;
        ++failed;
        std::printf("schedule %d failed (replay: --schedules 1 --seed %llu): %s\n", k,
                    static_cast<unsigned long long>(seed + static_cast<std::uint64_t>(k) * 1000003u), broken.c_str());
      }
    });
  for (std::thread& runner : runners) runner.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  std::printf("%d schedules in %.0f s, %ld acknowledged messages;", std::min<int>(next, schedules), seconds,
              d.delivered.load());
  for (int f = 0; f < kFaults; ++f) std::printf(" %s %d%s", kFaultNames[f], d.faults[f].load(), f + 1 < kFaults ? "," : "\n");
  Ostrel::ExitOstrel();
  tarnd.kill();
  std::filesystem::remove_all(data);
  return failed ? 1 : 0;
}
