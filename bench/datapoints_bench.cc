// Data point operations against the raw ORB call of the same remote operation with the same
// payload, in one run, on the embedded server (argument 0) and over loopback to tarnd (1).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/sample_data.h"

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

// The servers for the whole run: the embedded "local" at "own", tarnd "plant" at "others".
struct Servers {
  TarndProcess tarnd{"plant", freePort()};
  std::unique_ptr<ScopedSettings> settings;
  Servers() {
    tarnd.start();
    settings.reset(new ScopedSettings({{"local", "own", {}, true}, {"plant", "others", {tarnd.address()}}}));
    Ostrel::ConnectTarn("local");
    Ostrel::ConnectTarn("plant");
  }
};

const char* serverOf(const benchmark::State& state) {
  static Servers servers;
  return state.range(0) ? "plant" : "local";
}

using bench::analog;

std::vector<BrennicData> records(int count, const std::string& prefix) { return bench::namedAnalogs(count, prefix); }

// 1,000 points read by name in one call.
constexpr int kReadCount = 1000;

void prepareReads(const char* server) {
  static std::vector<std::string> done;
  if (std::find(done.begin(), done.end(), server) != done.end()) return;
  done.push_back(server);
  Ostrel::CreateDataPoints(records(kReadCount, "read."), server, "reads");
}

std::vector<std::string> readNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kReadCount; ++i) names.push_back("read." + std::to_string(i));
  return names;
}

void BM_GetDataPointN_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  prepareReads(server);
  const std::vector<std::string> names = readNames();
  for (auto _ : state) {
    BrennicDataList list;
    if (Ostrel::GetDataPointN(names, list, server, "reads") != 0 || list.count != kReadCount) state.SkipWithError("read failed");
    Ostrel::DestoryBrennicDataList(&list);
  }
}

void BM_GetDataPointN_RawOrb(benchmark::State& state) {
  const char* server = serverOf(state);
  prepareReads(server);
  const std::vector<std::string> names = readNames();
  kxTarn::DT_Point_Factory_var points = kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, "reads");
  for (auto _ : state) {
    if (bench::rawGetPoints(points, names, kReadCount) != 0) state.SkipWithError("read failed");
  }
}

// 10,000 points created in one call; each iteration creates them in a realm of its own.
constexpr int kCreateCount = 10000;

void BM_CreateDataPoints_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  const std::vector<BrennicData> batch = records(kCreateCount, "made.");
  static int round = 0;  // realms stay taken across repetitions
  for (auto _ : state) {
    const std::string realm = "lib" + std::to_string(++round);
    if (Ostrel::CreateDataPoints(batch, server, realm.c_str()) != 0) state.SkipWithError("create failed");
  }
}

void BM_CreateDataPoints_RawOrb(benchmark::State& state) {
  const char* server = serverOf(state);
  std::vector<BrennicData> batch = records(kCreateCount, "made.");
  static int round = 0;
  for (auto _ : state) {
    const std::string realm = "raw" + std::to_string(++round);
    state.PauseTiming();
    kxTarn::DT_Point_Factory_var points =
        kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, realm.c_str());
    state.ResumeTiming();
    kxTarn::CreationParameterSeq seq;
    seq.length(kCreateCount);
    for (int i = 0; i < kCreateCount; ++i) {
      seq[i].name = batch[i].GetDataName();
      seq[i].typeName = batch[i].GetTypeName();
      seq[i].value.length(batch[i].GetBufferSize());
      std::memcpy(seq[i].value.get_buffer(), batch[i].GetRawValue(), batch[i].GetBufferSize());
    }
    if (points->create_points(seq) != 0) state.SkipWithError("create failed");
  }
}

// 10,000 partial records of 3 written fields each, in the library's chunks (1, then 1000 each)
// against the same chunks sent as raw calls carrying the same field names and bytes.
constexpr int kPartialCount = 10000;

void preparePartials(const char* server) {
  static std::vector<std::string> done;
  if (std::find(done.begin(), done.end(), server) != done.end()) return;
  done.push_back(server);
  Ostrel::CreateDataPoints(records(kPartialCount, "part."), server, "partials");
}

std::vector<BrennicPartialData> partials() {
  std::vector<BrennicPartialData> all;
  all.reserve(kPartialCount);
  for (int i = 0; i < kPartialCount; ++i) {
    all.emplace_back("AnalogPoint", 0);
    all.back().SetFullName(("part." + std::to_string(i)).c_str());
    all.back().PutValue("value", i * 0.25);
    all.back().PutValue("quality", static_cast<unsigned>(i));
    all.back().PutValue("unit", "MW");
  }
  return all;
}

void BM_PutPartialDataPoints_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  preparePartials(server);
  const std::vector<BrennicPartialData> all = partials();
  for (auto _ : state)
    if (Ostrel::PutPartialDataPoints(all, server, "partials") != 0) state.SkipWithError("write failed");
}

void BM_PutPartialDataPoints_RawOrb(benchmark::State& state) {
  const char* server = serverOf(state);
  preparePartials(server);
  const std::vector<BrennicPartialData> all = partials();
  kxTarn::DT_Point_Factory_var points = kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, "partials");
  const char* fields[] = {"value", "quality", "unit"};
  const CORBA::ULong offsets[] = {0, 8, 16};
  const CORBA::ULong sizes[] = {8, 4, 16};
  for (auto _ : state) {
    for (int start = 0; start < kPartialCount;) {
      const int count = start == 0 ? 1 : std::min(1000, kPartialCount - start);
      kxTarn::PartialParameterSeq batch;
      batch.length(count);
      for (int i = 0; i < count; ++i) {
        BrennicPartialData& record = const_cast<BrennicPartialData&>(all[start + i]);
        batch[i].name = record.GetDataName();
        batch[i].fieldNames.length(3);
        batch[i].fieldValues.length(3);
        for (CORBA::ULong f = 0; f < 3; ++f) {
          batch[i].fieldNames[f] = fields[f];
          batch[i].fieldValues[f].length(sizes[f]);
          std::memcpy(batch[i].fieldValues[f].get_buffer(), record.GetRawValue() + offsets[f], sizes[f]);
        }
      }
      if (points->put_partial_points(batch, true) != 0) state.SkipWithError("write failed");
      start += count;
    }
  }
}

// One point read and written whole, against the raw ping round trip of the same server.
void BM_GetDataPoint_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  prepareReads(server);
  BrennicData record("AnalogPoint", 0);
  for (auto _ : state)
    if (Ostrel::GetDataPoint("read.7", record, server, "reads") != 0) state.SkipWithError("read failed");
}

void BM_PutDataPoint_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  prepareReads(server);
  BrennicData record = analog(7);
  for (auto _ : state)
    if (Ostrel::PutDataPoint("read.7", record, server, "reads") != 0) state.SkipWithError("write failed");
}

void BM_Ping_RawOrb(benchmark::State& state) {
  const char* server = serverOf(state);
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence(server);
  for (auto _ : state) benchmark::DoNotOptimize(manager->ping());
}

BENCHMARK(BM_GetDataPointN_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetDataPointN_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateDataPoints_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_CreateDataPoints_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_PutPartialDataPoints_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PutPartialDataPoints_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ping_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetDataPoint_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PutDataPoint_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
