// What keeping acknowledged writes costs: PutDataPoint over loopback to a tarnd that keeps
// everything in memory (journal:0), beside one that journals every change to the disk (journal:1,
// --data) and one that hands it to the operating system only (journal:2, --journal-sync os), from
// one thread (latency) and from eight (writes per second; concurrent writers share disk flushes).
// And what keeping a box's queue costs: SendEventN of 1,000 events of 64 bytes to a box marked
// persistent (persistent:1) beside the same batch to a box without the mark (persistent:0), on
// the tarnd that syncs to the disk (sync:1) and the one that hands to the operating system (sync:2).
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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
    for (const char* server : {"kept", "handed"}) {
      for (int persistent = 0; persistent < 2; ++persistent)
        Ostrel::CreateEventBox(boxName(persistent), kBoxCode + persistent, 4 * kEvents, server, nullptr);
      Ostrel::SetPersistent(boxName(1), true, server, nullptr);
    }
  }
  static constexpr int kBoxCode = 5150, kEvents = 1000;
  static const char* boxName(int persistent) { return persistent ? "kept.box" : "plain.box"; }
};

Servers& servers() {
  static Servers started;
  return started;
}

void BM_PutDataPoint(benchmark::State& state) {
  servers();
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

void BM_SendEventN(benchmark::State& state) {
  servers();
  const char* server = state.range(0) == 1 ? "kept" : "handed";
  const int persistent = static_cast<int>(state.range(1));
  std::vector<BrennicData> batch(Servers::kEvents);
  char bytes[64];
  for (int i = 0; i < Servers::kEvents; ++i) {
    std::memset(bytes, i & 0xFF, sizeof bytes);
    batch[i].SetRawValue(bytes, sizeof bytes);
  }
  for (auto _ : state) {
    if (Ostrel::SendEventN(Servers::kBoxCode + persistent, batch, server, nullptr)) state.SkipWithError("send failed");
    state.PauseTiming();
    Ostrel::ClearEventBox(Servers::boxName(persistent), server, nullptr);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * Servers::kEvents);
}
BENCHMARK(BM_SendEventN)->ArgNames({"sync", "persistent"})->ArgsProduct({{1, 2}, {0, 1}})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
