// Records and types: field access by path against a plain memcpy of the same bytes, the stream
// form of a 1 KiB record, and full type builds (stream and type by type; embedded and over
// loopback to a tarnd). Every benchmark reports heap allocations per iteration ("allocs").
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "bench/allocation_counter.h"
#include "bench/build_types.h"
#include "bench/sample_data.h"

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "tarn/client/orb.h"
#include "tarn/server/host.h"
#include "tarn/server/type_service.h"

namespace {

using bench::AllocationScope;


const char* const kBenchTypes = R"(<types>
  <type name="Blob1K" size="1024"><element name="bytes" type="byte" offset="0" count="1024"/></type>
</types>)";

// Registers the plant types and a 1 KiB type in the process's manager, cut off from servers.
void registerTypes() {
  static bool done = [] {
    TarnTypeMgr* types = TarnTypeMgr::GetInstance();
    types->setReferenceResolver(
        [](const char*, const char*) -> CORBA::Object* { return CORBA::Object::_nil(); });
    for (const char* xml : {tarn::defaultTypesXml(), kBenchTypes}) {
      auto book = tarn::TypeBook::fromXml(xml);
      types->loadFromStream(book->stream().data(), book->stream().size());
    }
    return true;
  }();
  (void)done;
}

struct PathCase {
  const char* type;
  const char* path;
  std::size_t offset;  // where the double lies, for the memcpy baseline
};
const PathCase kPaths[] = {
    {"AnalogPoint", "value", 0},                          // 1 segment
    {"PumpState", "speed.value", 8},                      // 2 segments
    {"Station", "pumps[2].speed.value", 32 + 2 * 80 + 8}  // 3 segments, one index
};

void BM_MemcpyRead(benchmark::State& state) {
  registerTypes();
  const PathCase& c = kPaths[state.range(0)];
  BrennicData record(c.type, 0);
  const char* raw = record.GetRawValue();
  AllocationScope count(state);
  for (auto _ : state) {
    double v;
    benchmark::DoNotOptimize(raw);
    std::memcpy(&v, raw + c.offset, sizeof(v));
    benchmark::DoNotOptimize(v);
  }
}

// The same copy with a length the compiler cannot see: a real call of the C library's memcpy,
// as a copy of a field whose size is only known at run time would be.
void BM_MemcpyCallRead(benchmark::State& state) {
  registerTypes();
  const PathCase& c = kPaths[state.range(0)];
  BrennicData record(c.type, 0);
  const char* raw = record.GetRawValue();
  std::size_t n = sizeof(double);
  AllocationScope count(state);
  for (auto _ : state) {
    double v;
    benchmark::DoNotOptimize(raw);
    benchmark::DoNotOptimize(n);
    std::memcpy(&v, raw + c.offset, n);
    benchmark::DoNotOptimize(v);
  }
}

void BM_PathRead(benchmark::State& state) {
  registerTypes();
  const PathCase& c = kPaths[state.range(0)];
  BrennicData record(c.type, 0);
  record.PutValue(c.path, 1.5);
  AllocationScope count(state);
  for (auto _ : state) {
    double v = record.GetDoubleValue(c.path);
    benchmark::DoNotOptimize(v);
  }
}

// A plain copy into the record; with `HideLength` the compiler cannot see the length and makes
// a real call of memcpy, as BM_MemcpyCallRead.
template <bool HideLength>
void memcpyWrite(benchmark::State& state) {
  registerTypes();
  const PathCase& c = kPaths[state.range(0)];
  BrennicData record(c.type, 0);
  char* raw = record.GetRawValue();
  double v = 2.5;
  std::size_t n = sizeof(double);
  AllocationScope count(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    if constexpr (HideLength) benchmark::DoNotOptimize(n);
    std::memcpy(raw + c.offset, &v, n);
    benchmark::ClobberMemory();
  }
}
void BM_MemcpyWrite(benchmark::State& state) { memcpyWrite<false>(state); }
void BM_MemcpyCallWrite(benchmark::State& state) { memcpyWrite<true>(state); }

void BM_PathWrite(benchmark::State& state) {
  registerTypes();
  const PathCase& c = kPaths[state.range(0)];
  BrennicData record(c.type, 0);
  double v = 2.5;
  AllocationScope count(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(record.PutValue(c.path, v));
  }
}

BENCHMARK(BM_MemcpyRead)->DenseRange(0, 2)->ArgName("segments-1");
BENCHMARK(BM_MemcpyCallRead)->DenseRange(0, 2)->ArgName("segments-1");
BENCHMARK(BM_PathRead)->DenseRange(0, 2)->ArgName("segments-1");
BENCHMARK(BM_MemcpyWrite)->DenseRange(0, 2)->ArgName("segments-1");
BENCHMARK(BM_MemcpyCallWrite)->DenseRange(0, 2)->ArgName("segments-1");
BENCHMARK(BM_PathWrite)->DenseRange(0, 2)->ArgName("segments-1");
// Two threads at once, each with a record of its own over the one shared type.
BENCHMARK(BM_MemcpyCallRead)->DenseRange(0, 2)->ArgName("segments-1")->Threads(2);
BENCHMARK(BM_PathRead)->DenseRange(0, 2)->ArgName("segments-1")->Threads(2);

void BM_StreamRoundTrip1K(benchmark::State& state) {
  registerTypes();
  BrennicData record("Blob1K", 0);
  record.SetFullName("plant.blob");
  BrennicData back;
  BrennicStore out;
  AllocationScope count(state);
  for (auto _ : state) {
    record.toStream(out);
    back.fromStream(out.get(), static_cast<int>(out.buffer_size()));
    benchmark::DoNotOptimize(back.GetRawValue());
  }
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_StreamRoundTrip1K);

// --- full type builds -----------------------------------------------------------------------

const std::string& manyTypesFile() {
  static const std::string path = [] {
    std::string p = "/tmp/ostrel_bench_types_" + std::to_string(::getpid()) + ".xml";
    std::ofstream(p) << bench::manyTypesXml(1000);  // 1,000 types of 10 doubles
    return p;
  }();
  return path;
}

using bench::BuildTypes;

void runBuilds(benchmark::State& state, kxTarn::kxTarnServiceManager_ptr manager) {
  for (auto _ : state) {
    BuildTypes types(manager);
    types.BuildTarnDataType();
    if (types.CheckDataType("Gen999") == nullptr) state.SkipWithError("types missing");
  }
}

void BM_BuildEmbedded(benchmark::State& state) {
  tarn::HostOptions options;
  options.name = "bench";
  options.managerKey = state.range(0) ? "benchTBTServiceManager" : "benchStreamServiceManager";
  options.typeFiles = {{"", manyTypesFile()}};
  options.refuseTypeStream = state.range(0) != 0;
  static std::unique_ptr<tarn::ServerHost> hosts[2];
  if (!hosts[state.range(0)]) hosts[state.range(0)].reset(new tarn::ServerHost(options));
  kxTarn::kxTarnServiceManager_var manager = hosts[state.range(0)]->manager();
  runBuilds(state, manager.in());
}
BENCHMARK(BM_BuildEmbedded)->Arg(0)->Arg(1)->ArgName("typeByType")->Iterations(5)->Unit(benchmark::kMillisecond);

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

void BM_BuildLoopback(benchmark::State& state) {
  const bool typeByType = state.range(0) != 0;
  int port = freePort();
  std::string portText = std::to_string(port);
  pid_t pid = ::fork();
  if (pid == 0) {
    const char* args[] = {TARND_PATH, "--port", portText.c_str(), "--types",
                          manyTypesFile().c_str(), typeByType ? "--no-type-stream" : nullptr,
                          nullptr};
    ::execv(TARND_PATH, const_cast<char* const*>(args));
    std::_Exit(127);
  }
  std::string address = "corbaloc::127.0.0.1:" + portText + "/ServiceManager";
  CORBA::Object_var object = tarn::orb()->string_to_object(address.c_str());
  kxTarn::kxTarnServiceManager_var manager = kxTarn::kxTarnServiceManager::_unchecked_narrow(object);
  bool up = false;
  for (int i = 0; i < 100 && !up; ++i) {
    try {
      manager->ping();
      up = true;
    } catch (const CORBA::Exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (up) {
    runBuilds(state, manager.in());
  } else {
    state.SkipWithError("tarnd did not start");
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}
BENCHMARK(BM_BuildLoopback)->Arg(0)->Arg(1)->ArgName("typeByType")->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
