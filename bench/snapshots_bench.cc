// What snapshots cost: a named snapshot of 100,000 points of 64 bytes taken and loaded on the
// embedded server (server:0) and on tarnd over loopback (server:1), beside writing the same
// number of bytes as one file with write and fsync and reading it back with read (the floor of
// any safe file); and the download of a 65 MiB snapshot file over loopback in blocks of 64 KiB
// and 1 MiB through BrennicRemoteFile, beside a raw ORB loop of FileHandle::read of the same block.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

constexpr int kPoints = 100000;
constexpr unsigned kCell = 64;
constexpr unsigned kSlab = 65000;  // the largest type size is 65535

struct Servers {
  std::string folder = "snapshots_bench.data";
  std::unique_ptr<TarndProcess> tarnd;
  std::unique_ptr<ScopedSettings> settings;
  long long snapshotBytes = 0;
  Servers() {
    std::system(("rm -rf " + folder + " && mkdir -p " + folder + "/tarnd " + folder + "/embedded").c_str());
    const std::string types = folder + "/types.xml";
    FILE* out = std::fopen(types.c_str(), "w");
    std::fputs("<types><type name=\"Cell\" size=\"64\"><element name=\"b\" type=\"byte\" offset=\"0\" count=\"64\"/></type>"
               "<type name=\"Slab\" size=\"65000\"><element name=\"b\" type=\"byte\" offset=\"0\" count=\"65000\"/></type></types>",
               out);
    std::fclose(out);
    ::setenv("TARN_TYPES", types.c_str(), 1);
    ::setenv("TARN_EMBEDDED_DATA", (folder + "/embedded").c_str(), 1);
    tarnd.reset(new TarndProcess("plant", freePort(),
                                 {"--types", types, "--data", folder + "/tarnd", "--journal-sync", "os"}));
    tarnd->start();
    settings.reset(new ScopedSettings({{"plant", "own", {tarnd->address()}}, {"local", "others", {}, true}}));
    const std::string cell(kCell, 'c'), slab(kSlab, 's');
    for (const char* server : {"local", "plant"}) {
      Ostrel::ConnectTarn(server);
      for (int i = 0; i < kPoints; ++i)
        kx_create_set(("p" + std::to_string(i)).c_str(), "Cell", cell.data(), kCell, server, nullptr);
    }
    for (int i = 0; i < 1040; ++i) kx_create_set(("s" + std::to_string(i)).c_str(), "Slab", slab.data(), kSlab, "plant", "big");
    kx_make_dtp_snapshot("big.snapshot", "big");
    kx_make_dtp_snapshot("points.snapshot", "");
    snapshotBytes = fileSize(folder + "/tarnd/points.snapshot");
  }
  static long long fileSize(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const long long size = fd < 0 ? 0 : ::lseek(fd, 0, SEEK_END);
    if (fd >= 0) ::close(fd);
    return size;
  }
};

Servers& servers() {
  static Servers started;
  return started;
}

const char* serverOf(benchmark::State& state) { return state.range(0) ? "plant" : "local"; }

void BM_CreateSnapshot(benchmark::State& state) {
  const char* server = serverOf(state);
  servers();
  for (auto _ : state)
    if (Ostrel::CreateDTPSnapShut("bench", server, nullptr) != 0) state.SkipWithError("create failed");
  state.SetBytesProcessed(state.iterations() * servers().snapshotBytes);
}
BENCHMARK(BM_CreateSnapshot)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadSnapshot(benchmark::State& state) {
  const char* server = serverOf(state);
  servers();
  Ostrel::CreateDTPSnapShut("bench", server, nullptr);
  for (auto _ : state)
    if (Ostrel::LoadDTPSnapShut("bench", server, nullptr) != 0) state.SkipWithError("load failed");
  state.SetBytesProcessed(state.iterations() * servers().snapshotBytes);
}
BENCHMARK(BM_LoadSnapshot)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the snapshot's bytes written with write and fsync (mode 0), read with read (1).
void BM_PlainFile(benchmark::State& state) {
  const std::string path = servers().folder + "/plain.bin";
  std::vector<char> bytes(static_cast<std::size_t>(servers().snapshotBytes), 'x');
  for (auto _ : state) {
    if (state.range(0) == 0) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) state.SkipWithError("write");
      ::fsync(fd);
      ::close(fd);
    } else {
      const int fd = ::open(path.c_str(), O_RDONLY);
      if (::read(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) state.SkipWithError("read");
      ::close(fd);
    }
  }
  state.SetBytesProcessed(state.iterations() * servers().snapshotBytes);
}
BENCHMARK(BM_PlainFile)->ArgName("read")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Download(benchmark::State& state) {
  servers();
  const unsigned block = static_cast<unsigned>(state.range(0));
  std::vector<char> buffer(block);
  long long total = 0;
  for (auto _ : state) {
    BrennicRemoteFile* file = OstrelExt::openDTPSnapShot("plant", "big");
    if (!file) {
      state.SkipWithError("open failed");
      break;
    }
    for (bool end = false; !end;) {
      const int n = file->read(buffer.data(), block, &end);
      if (n < 0) break;
      total += n;
    }
    OstrelExt::closeRemoteFile(&file);
  }
  state.SetBytesProcessed(total);
}
BENCHMARK(BM_Download)->ArgName("block")->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the same file through FileHandle::read on the remote reference itself.
void BM_RawOrbDownload(benchmark::State& state) {
  servers();
  const CORBA::ULong block = static_cast<CORBA::ULong>(state.range(0));
  kxTarn::DT_Point_Factory_var points = kxReferenceContainer::instance()->GetDptReferenceWithServerName("plant", "big");
  long long total = 0;
  for (auto _ : state) {
    kxTarn::FileHandle_var file = points->open_snapshot_file();
    for (CORBA::Long end = 0; !end;) {
      kxTarn::DATA_BUFFER_var data;
      file->read(block, end, data.out());
      total += data->length();
    }
    file->close();
  }
  state.SetBytesProcessed(total);
}
BENCHMARK(BM_RawOrbDownload)->ArgName("block")->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
