// How costs grow with the work: each case at sizes spanning three orders of magnitude, the
// library's call beside the raw ORB call of the same remote operation at the same size, all
// over loopback to tarnd processes. `make bench-scale` runs it (scripts/bench-scale.sh) and
// plots the curves; `make bench` does not, since one run takes minutes.
//
// Curves (the benchmark's argument is the size):
//   Points*        one read, one write and a read of 1,000 points, against a realm of N points;
//   AllNames, Create  listing and creating N points;
//   Journal        tarnd --data start-up with N points journaled (replay), its resident memory
//                  per point, and the pause of a journal compaction;
//   Events*        sending and receiving a batch of 100 events with N events already queued;
//   Clients        N client processes reading and writing one point each against one tarnd;
//   Types          building the type tables of a server with N types.
//
// The client processes are this program started again as `scale_curves --client lib|raw ...`.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/build_types.h"
#include "bench/sample_data.h"

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "tarn/client/orb.h"
#include "tests/support/tarn_fixture.h"

extern char** environ;

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr int kReadCount = 1000;     // points of one GetDataPointN
constexpr int kEventBatch = 100;     // events of one SendEventN / ReceiveEventN
constexpr int kEventBytes = 64;
constexpr int kEventCode = 7100;     // + log10 of the queue depth: one box per depth
constexpr int kCreateChunk = 100000;  // points per create_points when a realm is filled untimed
constexpr int kBlobBytes = 65000;     // the point whose writes grow the journal to a compaction

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string scratch() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrel-scale-" + std::to_string(::getpid());
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// The types of every tarnd here: the plant's analog point and a blob of nearly the largest size.
const std::string& typesFile() {
  static const std::string path = [] {
    const std::string p = scratch() + "/types.xml";
    std::ofstream(p) << "<types>\n<type name=\"AnalogPoint\" size=\"32\">"
                        "<element name=\"value\" type=\"double\" offset=\"0\"/>"
                        "<element name=\"quality\" type=\"unsigned_int\" offset=\"8\"/>"
                        "<element name=\"stamp\" type=\"kx_time\" offset=\"12\"/>"
                        "<element name=\"unit\" type=\"char\" offset=\"16\" count=\"16\"/></type>\n"
                        "<type name=\"Blob\" size=\"" << kBlobBytes << "\">"
                        "<element name=\"bytes\" type=\"char\" offset=\"0\" count=\"" << kBlobBytes
                     << "\"/></type>\n</types>\n";
    return p;
  }();
  return path;
}

std::string pointName(int i) { return "p." + std::to_string(i); }
std::string realmOf(int points) { return "n" + std::to_string(points); }

using bench::analog;

std::vector<BrennicData> records(int count) { return bench::namedAnalogs(count, "p."); }

// The same points as the remote sequence a raw caller builds.
kxTarn::CreationParameterSeq rawPoints(int first, int count) {
  const BrennicData value = analog(0);
  kxTarn::CreationParameterSeq seq;
  seq.length(count);
  for (int i = 0; i < count; ++i) {
    seq[i].name = pointName(first + i).c_str();
    seq[i].typeName = "AnalogPoint";
    seq[i].value.length(32);
    std::memcpy(seq[i].value.get_buffer(), const_cast<BrennicData&>(value).GetRawValue(), 32);
  }
  return seq;
}

// Creates points p.0 .. p.(count-1) through raw calls in chunks (untimed set-up).
bool fill(kxTarn::DT_Point_Factory_ptr points, int count) {
  for (int first = 0; first < count; first += kCreateChunk)
    if (points->create_points(rawPoints(first, std::min(kCreateChunk, count - first))) != 0) return false;
  return true;
}

kxTarn::DT_Point_Factory_ptr pointService(kxTarn::kxTarnServiceManager_ptr manager, const std::string& realm) {
  CORBA::Object_var object = manager->get_service("dtp", realm.c_str());
  return kxTarn::DT_Point_Factory::_narrow(object);
}

// --- The shared server: realms of 1 k .. 1 M points, event boxes of every depth ----------------

const int kDepths[] = {10, 100, 1000, 10000, 100000};

int codeOf(int depth) {
  int code = kEventCode;
  for (int d = depth; d >= 10; d /= 10) ++code;
  return code;
}

struct Plant {
  // Realms of 1 k .. 1 M points at once and 1 M points in one request: past the default budgets.
  TarndProcess tarnd{"plant", freePort(), {"--types", typesFile(), "--max-box-size", "1000000", "--max-points", "0",
                                           "--max-point-bytes", "0", "--max-request-bytes", "536870912"}};
  std::unique_ptr<ScopedSettings> settings;
  Plant() {
    tarnd.start();
    settings.reset(new ScopedSettings({{"plant", "own", {tarnd.address()}}}));
    Ostrel::ConnectTarn("plant");
  }
  // The realm of `count` points, filled on first use.
  const char* realm(int count) {
    static std::map<int, std::string> names;
    std::string& name = names[count];
    if (name.empty()) {
      name = realmOf(count);
      kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
      kxTarn::DT_Point_Factory_var points = pointService(manager, name);
      if (!fill(points, count)) std::fprintf(stderr, "scale_curves: filling %s failed\n", name.c_str());
    }
    return name.c_str();
  }
};

Plant& plant() {
  static Plant servers;
  return servers;
}

// CPU seconds the process has used so far (user and system), from /proc: the server's share of
// a call, at the kernel's tick resolution.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i >= 14) ticks += std::atof(field.c_str());
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Reports the plant's CPU time per iteration of the loop that `run` makes.
template <typename Run>
void withServerCpu(benchmark::State& state, Run run) {
  const double before = cpuSeconds(plant().tarnd.pid());
  run();
  state.counters["server_cpu_s"] = benchmark::Counter(cpuSeconds(plant().tarnd.pid()) - before,
                                                      benchmark::Counter::kAvgIterations);
}

kxTarn::DT_Point_Factory_ptr plantPoints(const char* realm) {
  return kxReferenceContainer::instance()->GetDptReferenceWithServerName("plant", realm);
}

// Point indexes spread over the whole table, so that a read does not find its neighbour warm.
int spread(std::int64_t step, int count) { return static_cast<int>((step * 7919) % count); }

void BM_GetDataPoint_Library(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const char* realm = plant().realm(count);
  BrennicData record("AnalogPoint", 0);
  std::int64_t step = 0;
  for (auto _ : state)
    if (Ostrel::GetDataPoint(pointName(spread(++step, count)).c_str(), record, "plant", realm))
      state.SkipWithError("read failed");
}

void BM_GetDataPoint_RawOrb(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  kxTarn::DT_Point_Factory_var points = plantPoints(plant().realm(count));
  std::int64_t step = 0;
  for (auto _ : state) {
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var value;
    if (points->get_point(pointName(spread(++step, count)).c_str(), type.out(), value.out()))
      state.SkipWithError("read failed");
  }
}

void BM_PutDataPoint_Library(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const char* realm = plant().realm(count);
  BrennicData record = analog(7);
  std::int64_t step = 0;
  for (auto _ : state)
    if (Ostrel::PutDataPoint(pointName(spread(++step, count)).c_str(), record, "plant", realm))
      state.SkipWithError("write failed");
}

void BM_PutDataPoint_RawOrb(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  kxTarn::DT_Point_Factory_var points = plantPoints(plant().realm(count));
  BrennicData record = analog(7);
  kxTarn::DATA_BUFFER value;
  value.length(32);
  std::memcpy(value.get_buffer(), record.GetRawValue(), 32);
  std::int64_t step = 0;
  for (auto _ : state)
    if (points->set_point(pointName(spread(++step, count)).c_str(), value)) state.SkipWithError("write failed");
}

std::vector<std::string> spreadNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < kReadCount; ++i) names.push_back(pointName(spread(i + 1, count)));
  return names;
}

void BM_GetDataPointN_Library(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const char* realm = plant().realm(count);
  const std::vector<std::string> names = spreadNames(count);
  for (auto _ : state) {
    BrennicDataList list;
    if (Ostrel::GetDataPointN(names, list, "plant", realm) || list.count != kReadCount) state.SkipWithError("read failed");
    Ostrel::DestoryBrennicDataList(&list);
  }
}

void BM_GetDataPointN_RawOrb(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  kxTarn::DT_Point_Factory_var points = plantPoints(plant().realm(count));
  const std::vector<std::string> names = spreadNames(count);
  for (auto _ : state) {
    if (bench::rawGetPoints(points, names, kReadCount) != 0) state.SkipWithError("read failed");
  }
}

void BM_AllNames_Library(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const char* realm = plant().realm(count);
  withServerCpu(state, [&] {
    for (auto _ : state) {
      ObjectNames names;
      if (Ostrel::GetAllPointName(&names, "plant", realm) || names.count != count) state.SkipWithError("listing failed");
      Ostrel::DeatoryNameSeq(&names);
    }
  });
}

void BM_AllNames_RawOrb(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  kxTarn::DT_Point_Factory_var points = plantPoints(plant().realm(count));
  withServerCpu(state, [&] {
    for (auto _ : state) {
      kxTarn::STRING_LIST_var names;
      if (points->get_all_point_names(names.out()) || names->length() != static_cast<CORBA::ULong>(count))
        state.SkipWithError("listing failed");
    }
  });
}

// Each iteration creates the points in a realm of its own, removed afterwards (untimed) by
// loading an empty snapshot file over it, so that the server does not grow with the iterations.
void emptyRealm(const char* realm) {
  static const bool made = [] {
    kxTarn::DT_Point_Factory_var empty = plantPoints("empty");
    return empty->make_snapshot_file("empty.points", "") == 0;
  }();
  kxTarn::DT_Point_Factory_var points = plantPoints(realm);
  if (!made || points->load_snapshot_file("empty.points", "") != 0 || kx_delete_releam("plant", realm) != 0)
    std::fprintf(stderr, "scale_curves: realm %s was not removed\n", realm);
}

template <typename Create>
void creates(benchmark::State& state, const char* prefix, Create create) {
  plant();
  static int round = 0;
  for (auto _ : state) {
    const std::string realm = prefix + std::to_string(++round);
    if (!create(realm.c_str())) {
      state.SkipWithError("create failed");
      break;
    }
    state.PauseTiming();
    emptyRealm(realm.c_str());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Create_Library(benchmark::State& state) {
  const std::vector<BrennicData> batch = records(static_cast<int>(state.range(0)));
  creates(state, "lib", [&](const char* realm) { return Ostrel::CreateDataPoints(batch, "plant", realm) == 0; });
}

// The raw caller sends the same request the library sends: every point in one call.
void BM_Create_RawOrb(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<BrennicData> batch = records(count);
  creates(state, "raw", [&](const char* realm) {
    kxTarn::DT_Point_Factory_var points = plantPoints(realm);
    kxTarn::CreationParameterSeq seq;
    seq.length(count);
    for (int i = 0; i < count; ++i) {
      BrennicData& record = const_cast<BrennicData&>(batch[i]);
      seq[i].name = record.GetDataName();
      seq[i].typeName = record.GetTypeName();
      seq[i].value.length(record.GetBufferSize());
      std::memcpy(seq[i].value.get_buffer(), record.GetRawValue(), record.GetBufferSize());
    }
    return points->create_points(seq) == 0;
  });
}

// --- Events: a batch sent to and taken from a box that already holds N events ---------------------

struct Box {
  int code;
  unsigned int handle = 0;
  kxTarn::Port_Factory_var service;
  kxTarn::DATA_BUFFER_SEQ batch;
};

Box& box(int depth) {
  static std::map<int, std::unique_ptr<Box>> boxes;
  std::unique_ptr<Box>& made = boxes[depth];
  if (made) return *made;
  plant();
  made.reset(new Box);
  made->code = codeOf(depth);
  const std::string name = "depth" + std::to_string(depth);
  Ostrel::CreateEventBox(name.c_str(), made->code, depth + 2 * kEventBatch, "plant", nullptr);
  Ostrel::ConnectPortForRecv(name.c_str(), made->handle, "plant", nullptr);
  made->service = kxReferenceContainer::instance()->GetPortReferenceWithServerName("plant", "");
  made->batch.length(kEventBatch);
  for (CORBA::ULong i = 0; i < kEventBatch; ++i) {
    made->batch[i].length(kEventBytes);
    std::memset(made->batch[i].get_buffer(), static_cast<int>(i), kEventBytes);
  }
  for (int queued = 0; queued < depth; queued += kEventBatch) {
    kxTarn::DATA_BUFFER_SEQ part(made->batch);
    part.length(std::min(kEventBatch, depth - queued));
    made->service->send_events(made->code, part, 0);
  }
  return *made;
}

std::vector<BrennicData> eventRecords() {
  std::vector<BrennicData> all(kEventBatch);
  char bytes[kEventBytes];
  for (int i = 0; i < kEventBatch; ++i) {
    std::memset(bytes, i, sizeof bytes);
    all[i].SetRawValue(bytes, kEventBytes);
  }
  return all;
}

bool takeBatch(Box& b) {
  kxTarn::DATA_BUFFER_SEQ_var values;
  return b.service->receive_events(b.handle, values.out(), kEventBatch, 0) == 0 && values->length() == kEventBatch;
}

// A send, then (untimed) the same number taken from the front: the depth stays N.
template <typename Send>
void sends(benchmark::State& state, Send send) {
  Box& b = box(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!send(b)) {
      state.SkipWithError("send failed");
      break;
    }
    state.PauseTiming();
    takeBatch(b);
    state.ResumeTiming();
  }
}

void BM_EventsSend_Library(benchmark::State& state) {
  const std::vector<BrennicData> batch = eventRecords();
  sends(state, [&](Box& b) { return Ostrel::SendEventN(b.code, batch, "plant", nullptr) == 0; });
}

void BM_EventsSend_RawOrb(benchmark::State& state) {
  sends(state, [](Box& b) { return b.service->send_events(b.code, b.batch, 0) == 0; });
}

// A take from the front with N events behind it, then (untimed) the same number sent again.
template <typename Receive>
void receives(benchmark::State& state, Receive receive) {
  Box& b = box(static_cast<int>(state.range(0)));
  b.service->send_events(b.code, b.batch, 0);
  for (auto _ : state) {
    if (!receive(b)) {
      state.SkipWithError("receive failed");
      break;
    }
    state.PauseTiming();
    b.service->send_events(b.code, b.batch, 0);
    state.ResumeTiming();
  }
  takeBatch(b);
}

void BM_EventsReceive_Library(benchmark::State& state) {
  receives(state, [](Box& b) {
    BrennicDataList list;
    const bool all = Ostrel::ReceiveEventN(b.handle, list, nullptr, kEventBatch, 0, "plant", nullptr) == 0 &&
                     list.count == kEventBatch;
    Ostrel::DestoryBrennicDataList(&list);
    return all;
  });
}

void BM_EventsReceive_RawOrb(benchmark::State& state) { receives(state, takeBatch); }

// --- tarnd --data: start-up (journal replay), memory per point, compaction pause ----------------

// A tarnd started here with its standard output on a pipe, so that the moment it is ready (its
// journal replayed, its services up) is the moment its "ready" line arrives.
struct Started {
  pid_t pid = -1;
  double seconds = 0;
  int port = 0;
};

Started startTarnd(const std::string& data, const std::vector<std::string>& extra = {}) {
  Started started;
  started.port = freePort();
  std::vector<std::string> args = {TARND_PATH, "--port", std::to_string(started.port), "--types", typesFile(),
                                   "--data", data, "--journal-sync", "os", "--max-points", "0",
                                   "--max-point-bytes", "0", "--max-request-bytes", "536870912"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return started;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const auto begin = Clock::now();
  if (posix_spawn(&started.pid, TARND_PATH, &actions, nullptr, argv.data(), environ) != 0) started.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string line;
  char c;
  while (started.pid > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  started.seconds = seconds(Clock::now() - begin);
  ::close(out[0]);  // later lines find a closed pipe: tarnd ignores SIGPIPE
  if (line.find("ready") == std::string::npos) {
    std::fprintf(stderr, "scale_curves: tarnd on %s did not start (%s)\n", data.c_str(), line.c_str());
    if (started.pid > 0) ::kill(started.pid, SIGKILL), ::waitpid(started.pid, nullptr, 0);
    started.pid = -1;
  }
  return started;
}

void stopTarnd(Started& started) {
  if (started.pid <= 0) return;
  ::kill(started.pid, SIGTERM);
  ::waitpid(started.pid, nullptr, 0);
  started.pid = -1;
}

long residentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6) * 1024;
  return 0;
}

kxTarn::kxTarnServiceManager_ptr managerAt(int port) {
  CORBA::Object_var object =
      tarn::orb()->string_to_object(("corbaloc::127.0.0.1:" + std::to_string(port) + "/ServiceManager").c_str());
  return kxTarn::kxTarnServiceManager::_unchecked_narrow(object);
}

// A data folder whose journal holds `count` points and the blob, made once.
std::string journaled(int count) {
  const std::string folder = scratch() + "/data" + std::to_string(count);
  if (std::filesystem::exists(folder)) return folder;
  std::filesystem::create_directories(folder);
  Started tarnd = startTarnd(folder);
  kxTarn::kxTarnServiceManager_var manager = managerAt(tarnd.port);
  kxTarn::DT_Point_Factory_var points = pointService(manager, "");
  kxTarn::CreationParameterSeq blob;
  blob.length(1);
  blob[0].name = "blob";
  blob[0].typeName = "Blob";
  blob[0].value.length(kBlobBytes);
  std::memset(blob[0].value.get_buffer(), 0, kBlobBytes);
  if (!fill(points, count) || points->create_points(blob) != 0)
    std::fprintf(stderr, "scale_curves: journaling %d points failed\n", count);
  stopTarnd(tarnd);
  return folder;
}

double medianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Writes the blob until the journal is compacted (its file shrinks): the write that compacts
// it is the pause, against the median of the writes before it. Meanwhile another client writes
// a point of its own in a loop: `other` is its longest write while the compacting write ran.
// False when no compaction came.
bool compactionPause(int port, const std::string& folder, double& pause, double& median, double& other) {
  kxTarn::kxTarnServiceManager_var manager = managerAt(port);
  kxTarn::DT_Point_Factory_var points = pointService(manager, "");
  kxTarn::DATA_BUFFER value;
  value.length(kBlobBytes);
  const std::string journal = folder + "/points.journal";
  std::vector<double> times;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> writes;  // the other client's
  std::thread writer([&] {
    kxTarn::DT_Point_Factory_var mine = pointService(managerAt(port), "");
    kxTarn::DATA_BUFFER small;
    small.length(32);
    std::memset(small.get_buffer(), 0, 32);
    while (!stop) {
      const auto begin = Clock::now();
      mine->set_point(pointName(0).c_str(), small);
      std::lock_guard<std::mutex> hold(mutex);
      writes.emplace_back(begin, Clock::now());
    }
  });
  std::uintmax_t before = std::filesystem::file_size(journal);
  bool compacted = false;
  Clock::time_point from, to;
  for (int i = 0; i < 100000 && !compacted; ++i) {
    std::memset(value.get_buffer(), i & 0xFF, 64);
    from = Clock::now();
    if (points->set_point("blob", value) != 0) break;
    to = Clock::now();
    const double took = seconds(to - from);
    const std::uintmax_t now = std::filesystem::file_size(journal);
    if (now < before) {
      pause = took;
      median = medianOf(times);
      compacted = true;
    }
    times.push_back(took);
    before = now;
  }
  stop = true;
  writer.join();
  other = 0;
  for (const auto& write : writes)
    if (write.second > from && write.first < to) other = std::max(other, seconds(write.second - write.first));
  return compacted;
}

// Manual time: the start-up with N points journaled, the median of three. Beside it, the
// start-up of an empty folder; counters give the memory per point and the compaction pause
// (each the median of three).
void BM_Journal(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string full = journaled(count);
  const std::string empty = scratch() + "/data-empty";
  std::filesystem::create_directories(empty);
  ::sync();  // the journal on disk, not still being written back while tarnd reads it
  std::vector<double> starts, emptyStarts, perPoint, pauses, writes, others;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      Started blank = startTarnd(empty);
      const bool blankUp = blank.pid > 0;
      const long blankBytes = residentBytes(blank.pid);
      stopTarnd(blank);
      Started tarnd = startTarnd(full);
      if (tarnd.pid <= 0 || !blankUp) return state.SkipWithError("tarnd did not start");
      starts.push_back(tarnd.seconds);
      emptyStarts.push_back(blank.seconds);
      // The blob and the journal's buffers count in both: the difference is the points.
      perPoint.push_back(static_cast<double>(residentBytes(tarnd.pid) - blankBytes) / count);
      double pause = 0, write = 0, other = 0;
      const bool compacted = compactionPause(tarnd.port, full, pause, write, other);
      stopTarnd(tarnd);
      if (!compacted) return state.SkipWithError("no compaction");
      pauses.push_back(pause);
      writes.push_back(write);
      others.push_back(other);
    }
    state.SetIterationTime(medianOf(starts));
  }
  state.counters["empty_start_s"] = medianOf(emptyStarts);
  state.counters["rss_per_point"] = medianOf(perPoint);
  state.counters["compaction_s"] = medianOf(pauses);
  state.counters["blob_write_s"] = medianOf(writes);
  state.counters["other_client_s"] = medianOf(others);
}

// --- Client processes -------------------------------------------------------------------------

constexpr double kClientSeconds = 2.0;

// One client process: reads and writes its own point until kClientSeconds have passed from
// the moment its standard input closes (all clients start together), then writes the count
// and every call's time in microseconds to `out`.
int client(const std::string& how, int index, const std::string& out) {
  if (Ostrel::ConnectTarn("plant")) return 3;
  const std::string name = pointName(index);
  BrennicData record = analog(index);
  kxTarn::DT_Point_Factory_var points = plantPoints("clients");
  kxTarn::DATA_BUFFER value;
  value.length(32);
  std::memcpy(value.get_buffer(), record.GetRawValue(), 32);
  auto call = [&](bool write) {
    if (how == "lib")
      return write ? Ostrel::PutDataPoint(name.c_str(), record, "plant", "clients")
                   : Ostrel::GetDataPoint(name.c_str(), record, "plant", "clients");
    if (write) return static_cast<int>(points->set_point(name.c_str(), value));
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var got;
    return static_cast<int>(points->get_point(name.c_str(), type.out(), got.out()));
  };
  if (call(false)) return 4;
  if (::write(STDOUT_FILENO, "r", 1) != 1) return 5;  // ready
  char c;
  while (::read(STDIN_FILENO, &c, 1) > 0) {
  }
  std::vector<std::uint32_t> micros;
  micros.reserve(1 << 20);
  const auto end = Clock::now() + std::chrono::duration<double>(kClientSeconds);
  for (bool write = false; Clock::now() < end; write = !write) {
    const auto begin = Clock::now();
    if (call(write)) return 6;
    micros.push_back(static_cast<std::uint32_t>(seconds(Clock::now() - begin) * 1e6));
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(micros.data()), micros.size() * sizeof(std::uint32_t));
  return file ? 0 : 7;
}

void clients(benchmark::State& state, const char* how) {
  const int count = static_cast<int>(state.range(0));
  plant();
  static bool made = false;
  if (!made) {
    kxTarn::DT_Point_Factory_var points = plantPoints("clients");
    made = fill(points, 256);
  }
  char self[4096] = {0};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return state.SkipWithError("no executable");
  for (auto _ : state) {
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) return state.SkipWithError("no pipe");
    std::vector<pid_t> pids;
    std::vector<std::string> outs;
    for (int i = 0; i < count; ++i) {
      outs.push_back(scratch() + "/client-" + std::to_string(i));
      std::vector<std::string> args = {self, "--client", how, std::to_string(i), outs.back()};
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
      posix_spawn_file_actions_adddup2(&actions, go[0], STDIN_FILENO);
      posix_spawn_file_actions_addclose(&actions, ready[0]);
      posix_spawn_file_actions_addclose(&actions, go[1]);
      pid_t pid = -1;
      if (posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) == 0) pids.push_back(pid);
      posix_spawn_file_actions_destroy(&actions);
    }
    ::close(ready[1]);
    ::close(go[0]);
    int readyCount = 0;
    char c;
    while (readyCount < count && ::read(ready[0], &c, 1) == 1) ++readyCount;
    const double serverBefore = cpuSeconds(plant().tarnd.pid());
    ::close(go[1]);  // everybody starts
    bool failed = readyCount < count;
    for (pid_t pid : pids) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    const double serverCpu = cpuSeconds(plant().tarnd.pid()) - serverBefore;
    ::close(ready[0]);
    std::vector<std::uint32_t> all;
    for (const std::string& out : outs) {
      std::ifstream file(out, std::ios::binary | std::ios::ate);
      const std::streamsize bytes = file.tellg();
      if (bytes <= 0) continue;
      std::vector<std::uint32_t> part(static_cast<std::size_t>(bytes) / sizeof(std::uint32_t));
      file.seekg(0);
      file.read(reinterpret_cast<char*>(part.data()), bytes);
      all.insert(all.end(), part.begin(), part.end());
      std::filesystem::remove(out);
    }
    if (failed || all.empty()) {
      state.SkipWithError("a client failed");
      break;
    }
    std::sort(all.begin(), all.end());
    state.SetIterationTime(kClientSeconds);
    state.counters["calls_per_s"] = static_cast<double>(all.size()) / kClientSeconds;
    state.counters["p50_us"] = all[all.size() / 2];
    state.counters["p99_us"] = all[all.size() * 99 / 100];
    state.counters["server_us_per_call"] = serverCpu * 1e6 / static_cast<double>(all.size());
  }
}

void BM_Clients_Library(benchmark::State& state) { clients(state, "lib"); }
void BM_Clients_RawOrb(benchmark::State& state) { clients(state, "raw"); }

// --- The type build ---------------------------------------------------------------------------

std::string typesOf(int count) {
  const std::string path = scratch() + "/types" + std::to_string(count) + ".xml";
  std::ofstream(path) << bench::manyTypesXml(count);
  return path;
}

using bench::BuildTypes;

// A tarnd serving `count` types for the length of a benchmark.
template <typename Build>
void typeBuilds(benchmark::State& state, Build build) {
  const int count = static_cast<int>(state.range(0));
  TarndProcess tarnd("types", freePort(), {"--types", typesOf(count)});
  if (!tarnd.start()) return state.SkipWithError("tarnd did not start");
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  const std::string last = "Gen" + std::to_string(count - 1);
  for (auto _ : state)
    if (!build(manager.in(), last)) state.SkipWithError("build failed");
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_Types_Library(benchmark::State& state) {
  typeBuilds(state, [](kxTarn::kxTarnServiceManager_ptr manager, const std::string& last) {
    BuildTypes types(manager);
    types.BuildTarnDataType();
    return types.CheckDataType(last.c_str()) != nullptr;
  });
}

// The stream's remote call alone: what any build must at least wait for.
void BM_Types_RawOrb(benchmark::State& state) {
  typeBuilds(state, [](kxTarn::kxTarnServiceManager_ptr manager, const std::string&) {
    CORBA::Object_var object = manager->get_service("dt", "");
    kxTarn::DT_manager_var types = kxTarn::DT_manager::_narrow(object);
    kxTarn::DATA_BUFFER_var stream;
    return types->get_type_stream(stream.out()) == 0 && stream->length() > 0;
  });
}

void pointSizes(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 10000, 100000, 1000000}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

void depths(benchmark::internal::Benchmark* b) {
  for (int n : kDepths) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_GetDataPoint_RawOrb)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_GetDataPoint_Library)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_PutDataPoint_RawOrb)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_PutDataPoint_Library)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_GetDataPointN_RawOrb)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_GetDataPointN_Library)->Apply(pointSizes)->UseRealTime();
BENCHMARK(BM_AllNames_RawOrb)->Apply(pointSizes)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_AllNames_Library)->Apply(pointSizes)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_Create_RawOrb)->Apply(pointSizes)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_Create_Library)->Apply(pointSizes)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_EventsSend_RawOrb)->Apply(depths)->UseRealTime();
BENCHMARK(BM_EventsSend_Library)->Apply(depths)->UseRealTime();
BENCHMARK(BM_EventsReceive_RawOrb)->Apply(depths)->UseRealTime();
BENCHMARK(BM_EventsReceive_Library)->Apply(depths)->UseRealTime();
BENCHMARK(BM_Journal)->Apply(pointSizes)->Iterations(1)->UseManualTime();
BENCHMARK(BM_Clients_RawOrb)->Arg(1)->Arg(8)->Arg(64)->Arg(256)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clients_Library)->Arg(1)->Arg(8)->Arg(64)->Arg(256)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Types_RawOrb)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Types_Library)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--client") == 0) {
    const int rc = client(argv[2], std::atoi(argv[3]), argv[4]);
    Ostrel::ExitOstrel();
    return rc;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  Ostrel::ExitOstrel();
  std::error_code ignored;
  std::filesystem::remove_all(scratch(), ignored);
  return 0;
}
