// Records as text and partial records, each beside the plain operation on the same fields:
// GetMetaDataList / PutMetaDataList of a 20-element record against 20 typed reads / writes, and
// enabledFields + getStoreValue over 100 written fields against a memcpy of those fields.
// Times are per record; "allocs" counts heap allocations per record.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/allocation_counter.h"
#include <omniORB4/CORBA.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/data/value_convertor.h"
#include "tests/data/type_fixture.h"

namespace {

using bench::AllocationScope;


// B_Twenty (128 bytes): 20 elements of every base type, two texts among them.
// B_Hundred (400 bytes): v float[100].
struct Field {
  const char* type;
  const char* name;
  std::uint16_t offset;
  std::uint16_t count;
};
const std::vector<Field>& twenty() {
  static const std::vector<Field> fields = {
      {"unsigned_int", "u1", 0, 1},  {"unsigned_int", "u2", 4, 1},  {"signed_int", "i1", 8, 1},
      {"signed_int", "i2", 12, 1},   {"word", "w1", 16, 1},         {"word", "w2", 18, 1},
      {"signed_word", "s1", 20, 1},  {"signed_word", "s2", 22, 1},  {"byte", "b1", 24, 1},
      {"char", "c1", 25, 1},         {"wchar", "wc", 26, 1},        {"kx_time", "t1", 28, 1},
      {"kx_time2", "t2", 32, 1},     {"float", "f1", 40, 1},        {"float", "f2", 44, 1},
      {"double", "d1", 48, 1},       {"double", "d2", 56, 1},       {"double", "d3", 64, 1},
      {"char", "text", 72, 24},      {"wchar", "wtext", 96, 16},
  };
  return fields;
}

void registerTypes() {
  static const bool done = [] {
    TarnTypeMgr* types = TarnTypeMgr::GetInstance();
    types->setReferenceResolver([](const char*, const char*) -> CORBA::Object* { return CORBA::Object::_nil(); });
    data_test::TypeDef t{"B_Twenty", 128, {}};
    for (const Field& f : twenty()) t.elements.push_back({f.type, f.name, f.offset, f.count});
    data_test::TypeDef h{"B_Hundred", 400, {{"float", "v", 0, 100}}};
    std::vector<char> s = data_test::packTypes({t, h});
    return types->loadFromStream(s.data(), s.size());
  }();
  if (!done) std::abort();
}

// A record whose 20 fields all hold values; `variant` changes every one of them.
void fill(BrennicData& r, int variant) {
  r.PutValue("u1", 4000000000u + variant);
  r.PutValue("u2", 7u + variant);
  r.PutValue("i1", -123456 - variant);
  r.PutValue("i2", 42 + variant);
  r.PutValue("w1", static_cast<unsigned short>(65000 + variant));
  r.PutValue("w2", static_cast<unsigned short>(3 + variant));
  r.PutValue("s1", static_cast<short>(-300 - variant));
  r.PutValue("s2", static_cast<short>(300 + variant));
  r.PutValue("b1", static_cast<unsigned char>(17 + variant));
  r.PutValue("c1", static_cast<unsigned char>(48 + variant));
  r.PutValue("wc", static_cast<unsigned short>(900 + variant));
  r.PutValue("t1", 1700000000 + variant);
  r.PutValue("t2", 1700000000123LL + variant);
  r.PutValue("f1", 3.25f + variant);
  r.PutValue("f2", -0.1f - variant);
  r.PutValue("d1", 1480.5 + variant);
  r.PutValue("d2", 1.0 / (3 + variant));
  r.PutValue("d3", -2.5e-300 * (1 + variant));
  r.PutValue("text", variant == 0 ? "pump station north" : "pump station south");
  r.PutValue("wtext", variant == 0 ? L"Förderpumpe" : L"Umwälzpumpe");
}

void BM_GetMetaDataList(benchmark::State& state) {
  registerTypes();
  BrennicData r("B_Twenty", 0);
  fill(r, 0);
  AllocationScope allocs(state);
  for (auto _ : state) {
    BrennicMetaList list;
    r.GetMetaDataList(list);
    benchmark::DoNotOptimize(list.items);
  }
}
BENCHMARK(BM_GetMetaDataList);

// The same 20 fields read binary, by path: what the text costs on top.
void BM_TypedReadsOfTheSameFields(benchmark::State& state) {
  registerTypes();
  BrennicData r("B_Twenty", 0);
  fill(r, 0);
  AllocationScope allocs(state);
  for (auto _ : state) {
    for (const Field& f : twenty()) benchmark::DoNotOptimize(r.GetValue(f.name));
    benchmark::DoNotOptimize(r.GetRawValue());
  }
}
BENCHMARK(BM_TypedReadsOfTheSameFields);

// Every item differs from the record: each PutMetaDataList parses and writes all 20.
void BM_PutMetaDataList(benchmark::State& state) {
  registerTypes();
  BrennicData a("B_Twenty", 0);
  BrennicData b("B_Twenty", 0);
  fill(a, 0);
  fill(b, 1);
  BrennicMetaList lists[2];
  a.GetMetaDataList(lists[0]);
  b.GetMetaDataList(lists[1]);
  BrennicData r("B_Twenty", 0);
  int i = 0;
  AllocationScope allocs(state);
  for (auto _ : state) {
    r.PutMetaDataList(lists[i ^= 1]);
    benchmark::DoNotOptimize(r.GetRawValue());
  }
}
BENCHMARK(BM_PutMetaDataList);

// Putting back what was read: every item is found unchanged and nothing is written.
void BM_PutMetaDataListUnchanged(benchmark::State& state) {
  registerTypes();
  BrennicData r("B_Twenty", 0);
  fill(r, 0);
  BrennicMetaList list;
  r.GetMetaDataList(list);
  AllocationScope allocs(state);
  for (auto _ : state) {
    r.PutMetaDataList(list);
    benchmark::DoNotOptimize(r.GetRawValue());
  }
}
BENCHMARK(BM_PutMetaDataListUnchanged);

// The same 20 fields written binary, by path.
void BM_TypedWritesOfTheSameFields(benchmark::State& state) {
  registerTypes();
  BrennicData r("B_Twenty", 0);
  int i = 0;
  AllocationScope allocs(state);
  for (auto _ : state) {
    fill(r, i ^= 1);
    benchmark::DoNotOptimize(r.GetRawValue());
  }
}
BENCHMARK(BM_TypedWritesOfTheSameFields);

// What a partial write or query does per record: the listed names and each field's bytes.
void BM_EnabledFieldsAndStoreValues(benchmark::State& state) {
  registerTypes();
  BrennicPartialData r("B_Hundred", 0);
  for (int k = 0; k < 100; ++k) r.PutValue(("v[" + std::to_string(k) + "]").c_str(), 0.5f * k);
  std::vector<char> out(400);
  AllocationScope allocs(state);
  for (auto _ : state) {
    ObjectNames names;
    r.enabledFields(&names);
    char* at = out.data();
    for (int k = 0; k < names.count; ++k) {
      char* bytes = nullptr;
      int length = 0;
      r.getStoreValue(names.names[k], &bytes, length);
      std::memcpy(at, bytes, length);
      at += length;
    }
    Ostrel::DeatoryNameSeq(&names);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EnabledFieldsAndStoreValues);

// The same 100 fields copied by known offsets: the floor.
void BM_MemcpyOfTheSameFields(benchmark::State& state) {
  registerTypes();
  BrennicPartialData r("B_Hundred", 0);
  for (int k = 0; k < 100; ++k) r.PutValue(("v[" + std::to_string(k) + "]").c_str(), 0.5f * k);
  std::vector<char> out(400);
  AllocationScope allocs(state);
  for (auto _ : state) {
    for (int k = 0; k < 100; ++k) std::memcpy(out.data() + 4 * k, r.GetRawValue() + 4 * k, 4);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MemcpyOfTheSameFields);

}  // namespace

BENCHMARK_MAIN();
