// Contention: the listing of 100 hosts x 10 contenders over loopback, beside the raw
// get_contenders call that carries the same report; a beat and a listing in a realm of 8,000
// contenders beside the same in a realm of 10; and the time from a SIGKILL of the active
// contender to the other one being active, over 20 runs, against the configured expiry.
//
// The contenders of the failover runs are this executable started again as
// `contention_bench --contend-as HOST`, each in a UTS namespace of its own (needs root).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/redundancy/contender_lists.h"
#include "tests/support/tarn_fixture.h"

extern char** environ;

namespace {

using namespace testing_support;

constexpr int kHosts = 100;
constexpr int kPrograms = 10;
constexpr int kFailoverExpirySeconds = 3;

// One tarnd with the 100 x 10 contenders registered (a long expiry keeps them listed).
struct ListingServer {
  ListingServer() : tarnd("listing", freePort(), {"--contender-expiry", "3600"}) {
    if (!tarnd.start()) std::abort();
    settings.reset(new ScopedSettings({{"listing", "own", {tarnd.address()}}}));
    Ostrel::ConnectTarn("listing");
    // The default realm: contenders of the name form (no record); realm "records": each with one.
    BrennicData none, record("AnalogPoint", 0);
    record.PutValue("value", 1.5);
    for (int h = 0; h < kHosts; ++h) {
      for (int p = 0; p < kPrograms; ++p) {
        for (BrennicData* sent : {&none, &record}) {
          kx_regist_contender(("host-" + std::to_string(h)).c_str(), ("program-" + std::to_string(p)).c_str(),
                              sent->GetRawValue(), sent->GetBufferSize(), sent->GetTypeName(), h * 10 + p,
                              "listing", sent == &none ? "" : "records");
        }
      }
    }
  }
  TarndProcess tarnd;
  std::unique_ptr<ScopedSettings> settings;
};

ListingServer& listingServer() {
  static ListingServer server;
  return server;
}

const char* realm(benchmark::State& state) { return state.range(0) ? "records" : ""; }

// Argument 0: contenders without a record; 1: each with an AnalogPoint record.
void BM_GetContenderList(benchmark::State& state) {
  listingServer();
  for (auto _ : state) {
    ContenderInHostSequence list;
    if (Ostrel::GetContenderList(list, "listing", realm(state)) != 0 || list.count != kHosts)
      state.SkipWithError("listing failed");
    Ostrel::DestoryContenderInHostSequence(&list);
  }
}
BENCHMARK(BM_GetContenderList)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same report through the raw remote call, received and freed, nothing copied.
void BM_RawGetContenders(benchmark::State& state) {
  listingServer();
  kxTarn::contender_server_var service =
      kxReferenceContainer::instance()->GetContenerReferenceWithServerName("listing", realm(state));
  for (auto _ : state) {
    kxTarn::HEART_RESULT_SEQ_var report;
    if (service->get_contenders(report.out()) != 0 || report->length() != kHosts)
      state.SkipWithError("raw call failed");
  }
}
BENCHMARK(BM_RawGetContenders)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One beat and one listing against a realm of 8,000 contenders, beside the same calls against a
// realm of 10 on the same server: the ratio is what the crowd costs each call.
struct CrowdServer {
  CrowdServer() : tarnd("crowd", freePort(), {"--contender-expiry", "3600"}) {
    if (!tarnd.start()) std::abort();
    kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
    kxTarn::DATA_BUFFER none;
    for (int size : {10, 8000}) {
      CORBA::Object_var object = manager->get_service("contender", ("crowd" + std::to_string(size)).c_str());
      realms[size] = kxTarn::contender_server::_narrow(object);
      for (int i = 0; i < size; ++i) {
        // 100 contenders a host, one per name: 80 hosts contend for each name in the larger realm.
        if (realms[size]->regist_contender_from(("host-" + std::to_string(i / 100)).c_str(),
                                                ("program-" + std::to_string(i % 100)).c_str(), none, "", i, "1-crowd") != 0)
          std::abort();
      }
    }
  }
  TarndProcess tarnd;
  std::map<int, kxTarn::contender_server_var> realms;
};

kxTarn::contender_server_ptr crowd(benchmark::State& state) {
  static CrowdServer server;
  return server.realms[static_cast<int>(state.range(0))].in();
}

// Argument: the contenders in the realm.
void BM_UpdateContender(benchmark::State& state) {
  kxTarn::contender_server_ptr service = crowd(state);
  for (auto _ : state)
    if (service->update_contender_from("host-0", "program-1", "bench", "1-crowd") != 0) state.SkipWithError("update failed");
}
BENCHMARK(BM_UpdateContender)->Arg(10)->Arg(8000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RawGetContendersCrowd(benchmark::State& state) {
  kxTarn::contender_server_ptr service = crowd(state);
  for (auto _ : state) {
    kxTarn::HEART_RESULT_SEQ_var report;
    if (service->get_contenders(report.out()) != 0 || report->length() != (state.range(0) + 99) / 100)
      state.SkipWithError("listing failed");
  }
}
BENCHMARK(BM_RawGetContendersCrowd)->Arg(10)->Arg(8000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A contender process on host `host`: this executable with --contend-as, in its own UTS namespace.
pid_t startContender(const std::string& host) {
  std::vector<std::string> args = {"unshare", "--uts", "/bin/sh", "-c",
                                   "hostname " + host + " && exec /proc/" + std::to_string(::getpid()) +
                                       "/exe --contend-as " + host + " >/dev/null 2>&1"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, "unshare", nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// The host whose contender "pump" is active; empty when none is.
std::string activeHost(const char* server) {
  ContenderInHostSequence list;
  std::string host;
  if (Ostrel::GetContenderList(list, server, nullptr) == 0) {
    for (int i = 0; i < list.count; ++i) {
      const ContenderInHost* h = list.items[i];
      for (int j = 0; h->programs && j < h->programs->count; ++j)
        if (h->programs->items[j]->value3 && std::strcmp(h->programs->items[j]->name, "pump") == 0) host = h->hostName;
    }
  }
  Ostrel::DestoryContenderInHostSequence(&list);
  return host;
}

// Counts the contenders "pump" listed (live registrations).
int listed(const char* server) {
  ContenderInHostSequence list;
  int count = 0;
  if (Ostrel::GetContenderList(list, server, nullptr) == 0)
    for (int i = 0; i < list.count; ++i) count += list.items[i]->programs ? list.items[i]->programs->count : 0;
  Ostrel::DestoryContenderInHostSequence(&list);
  return count;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void BM_FailoverAfterKill(benchmark::State& state) {
  if (std::system("unshare --uts true >/dev/null 2>&1") != 0) {
    state.SkipWithError("unshare --uts is not possible here (needs root)");
    return;
  }
  static TarndProcess tarnd("failover", freePort(), {"--contender-expiry", std::to_string(kFailoverExpirySeconds)});
  // The contender processes by host; killed when the benchmark program ends.
  static struct Fleet : std::map<std::string, pid_t> {
    ~Fleet() {
      for (auto& entry : *this) {
        ::kill(entry.second, SIGKILL);
        ::waitpid(entry.second, nullptr, 0);
      }
    }
  } contenders;
  if (contenders.empty()) {
    if (!tarnd.start()) std::abort();
    static ScopedSettings settings({{"failover", "own", {tarnd.address()}}});
    Ostrel::ConnectTarn("failover");
    for (const char* host : {"bench-a", "bench-b"}) contenders[host] = startContender(host);
  }
  for (auto _ : state) {
    if (!waitFor([] { return listed("failover") == 2 && !activeHost("failover").empty(); }, std::chrono::seconds(15))) {
      state.SkipWithError("the contenders did not come up");
      break;
    }
    const std::string victim = activeHost("failover");
    ::kill(contenders[victim], SIGKILL);
    ::waitpid(contenders[victim], nullptr, 0);
    const auto killed = std::chrono::steady_clock::now();
    waitFor([&] { const std::string now = activeHost("failover"); return !now.empty() && now != victim; },
            std::chrono::seconds(kFailoverExpirySeconds + 10));
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());
    contenders[victim] = startContender(victim);
  }
  state.counters["expiry_s"] = kFailoverExpirySeconds;
}
BENCHMARK(BM_FailoverAfterKill)
    ->Iterations(1)
    ->Repetitions(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });

// The child mode of the failover runs: keep a heartbeat until killed.
int contendAs(const char*) {
  if (Ostrel::ConnectTarn(nullptr) != 0) return 1;
  if (!Ostrel::ContendHeartBit("pump", "bench", 1, nullptr, nullptr)) return 1;
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--contend-as") == 0) return contendAs(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
