// The frame's cost and the ORB's floor, side by side in one run:
//  - dispatch through façade → slot → default against a direct call of the default;
//  - the raw ORB round trip of one small remote call (the service manager's ping), collocated
//    on the embedded server and over loopback to a tarnd process: the baseline that the
//    library's remote operations are measured against.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "tarn/client/orb.h"

extern char** environ;

namespace {

void BM_DirectDefault(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OstrelOrigin::GetErrorString(2015));
}
BENCHMARK(BM_DirectDefault);

void BM_FacadeSlotDefault(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Ostrel::GetErrorString(2015));
}
BENCHMARK(BM_FacadeSlotDefault);

void BM_RawOrbPingEmbedded(benchmark::State& state) {
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence("local");
  for (auto _ : state) benchmark::DoNotOptimize(manager->ping());
}
BENCHMARK(BM_RawOrbPingEmbedded);

// A tarnd on a fixed loopback port for the length of the benchmark run.
struct Tarnd {
  pid_t pid = -1;
  std::string address = "127.0.0.1:" + std::to_string(40000 + getpid() % 20000);
  Tarnd() {
    std::string port = address.substr(address.find(':') + 1);
    const char* argv[] = {TARND_PATH, "--port", port.c_str(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn(&pid, TARND_PATH, &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
  }
  ~Tarnd() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  kxTarn::kxTarnServiceManager_ptr manager() {
    CORBA::Object_var object = tarn::orb()->string_to_object(("corbaloc::" + address + "/ServiceManager").c_str());
    return kxTarn::kxTarnServiceManager::_unchecked_narrow(object);
  }
};

void BM_RawOrbPingLoopback(benchmark::State& state) {
  static Tarnd server;
  kxTarn::kxTarnServiceManager_var manager = server.manager();
  for (int i = 0; i < 100; ++i) {
    try {
      manager->ping();
      break;
    } catch (const CORBA::TRANSIENT&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  for (auto _ : state) benchmark::DoNotOptimize(manager->ping());
}
BENCHMARK(BM_RawOrbPingLoopback);

}  // namespace

BENCHMARK_MAIN();
