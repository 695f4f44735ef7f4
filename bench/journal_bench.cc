// What keeping acknowledged writes costs: PutDataPoint over loopback to a tarnd that keeps
// everything in memory (journal:0), beside one that journals every change to the disk (journal:1,
// --data) and one that hands it to the operating system only (journal:2, --journal-sync os), from
// one thread (latency) and from eight (writes per second; concurrent writers share disk flushes).
#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

struct Servers {
  // The journal lives on the build's own disk, not in a memory-backed temporary folder.
  std::string folder = "journal_bench.data";
  TarndProcess plain{"plain", freePort()};
  TarndProcess kept{"kept", freePort(), {"--data", folder + "/disk"}};
  TarndProcess handed{"handed", freePort(), {"--data", folder + "/os", "--journal-sync", "os"}};
  std::unique_ptr<ScopedSettings> settings;
  Servers() {
    std::system(("rm -rf " + folder + " && mkdir -p " + folder).c_str());
    plain.start();
    kept.start();
    handed.start();
    settings.reset(new ScopedSettings({{"plain", "own", {plain.address()}},
                                       {"kept", "others", {kept.address()}},
                                       {"handed", "others", {handed.address()}}}));
    for (const char* server : {"plain", "kept", "handed"}) {
      Ostrel::ConnectTarn(server);
      for (int i = 0; i < 8; ++i)
        Ostrel::CreateDataPoint(("w." + std::to_string(i)).c_str(), "AnalogPoint", server, nullptr);
    }
  }
};

void BM_PutDataPoint(benchmark::State& state) {
  static Servers started;
  const char* names[] = {"plain", "kept", "handed"};
  const char* server = names[state.range(0)];
  const std::string name = "w." + std::to_string(state.thread_index());
  BrennicData record("AnalogPoint", 0);
  unsigned n = 0;
  for (auto _ : state) {
    record.PutValue("quality", ++n);
    if (Ostrel::PutDataPoint(name.c_str(), record, server, nullptr) != 0) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PutDataPoint)->ArgName("journal")->Arg(0)->Arg(1)->Arg(2)->UseRealTime()->Threads(1)->Threads(8);

}  // namespace

BENCHMARK_MAIN();
