// The connection guard costs one read-locked map lookup per operation. Compared side by side with
// an unlocked lookup in a plain std::map of the same size, from one and from two threads.
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "ostrel/connection/connector.h"

namespace {

const char* const kNames[] = {"bench-a", "bench-b", "bench-c", "plant", "spare", "local"};

TarnConnector& preparedConnector() {
  static TarnConnector* connector = [] {
    TarnConnector* c = TarnConnector::instance();
    for (const char* name : kNames) c->onServerConnection(name, true);
    return c;
  }();
  return *connector;
}

const std::map<std::string, int>& plainMap() {
  static const std::map<std::string, int> map = [] {
    std::map<std::string, int> m;
    for (const char* name : kNames) m[name] = 0;
    return m;
  }();
  return map;
}

void BM_ConnectStateGuard(benchmark::State& state) {
  TarnConnector& connector = preparedConnector();
  for (auto _ : state) benchmark::DoNotOptimize(connector.connectState("plant"));
}
BENCHMARK(BM_ConnectStateGuard)->Threads(1)->Threads(2)->UseRealTime();

// The same lookup without a lock (the caller builds the key from the same const char*).
void BM_PlainMapRead(benchmark::State& state) {
  const std::map<std::string, int>& map = plainMap();
  for (auto _ : state) {
    auto it = map.find(std::string("plant"));
    benchmark::DoNotOptimize(it == map.end() ? -1 : it->second);
  }
}
BENCHMARK(BM_PlainMapRead)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
