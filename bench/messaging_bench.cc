// Messaging against the raw ORB calls of the same remote operations with the same payload, in
// one run: a packet round trip over loopback; batches of 10,000 events of 64 bytes sent and
// received, on the embedded server (argument 0) and over loopback to tarnd (1); and sustained
// events per second between a producer process and this one through tarnd.
//
// The producer is this program started again as `messaging_bench --produce lib|raw`.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/support/tarn_fixture.h"

extern char** environ;

namespace {

using namespace testing_support;

constexpr int kEventBytes = 64;
constexpr int kBatch = 10000;
constexpr int kStreamBatch = 1000;
constexpr int kStreamEvents = 200000;
constexpr int kCode = 4242;

// The servers for the whole run: the embedded "local" at "own", tarnd "plant" at "others".
// The stream's box may hold every event of the run, so that a slow consumer never stops the
// producer: more than tarnd's default largest box, hence the flag.
struct Servers {
  TarndProcess tarnd{"plant", freePort(), {"--max-box-size", std::to_string(4 * kStreamEvents)}};
  std::unique_ptr<ScopedSettings> settings;
  Servers() {
    tarnd.start();
    settings.reset(new ScopedSettings({{"local", "own", {}, true}, {"plant", "others", {tarnd.address()}}}));
    for (const char* server : {"local", "plant"}) {
      Ostrel::ConnectTarn(server);
      Ostrel::CreateEventBox("bench", kCode, 4 * kBatch, server, nullptr);
      Ostrel::CreatePort("echo", server, nullptr);
    }
    Ostrel::CreateEventBox("stream", kCode + 1, 4 * kStreamEvents, "plant", nullptr);
  }
};

const char* serverOf(const benchmark::State& state) {
  static Servers servers;
  return state.range(0) ? "plant" : "local";
}

kxTarn::Port_Factory_ptr ports(const char* server) {
  return kxReferenceContainer::instance()->GetPortReferenceWithServerName(server, "");
}

std::vector<BrennicData> events(int count) {
  std::vector<BrennicData> all(count);
  char bytes[kEventBytes];
  for (int i = 0; i < count; ++i) {
    std::memset(bytes, i & 0xFF, sizeof bytes);
    all[i].SetRawValue(bytes, kEventBytes);
  }
  return all;
}

// The same payload as a remote sequence, built as a raw caller would.
kxTarn::DATA_BUFFER_SEQ rawBatch(const std::vector<BrennicData>& records) {
  kxTarn::DATA_BUFFER_SEQ values;
  values.length(static_cast<CORBA::ULong>(records.size()));
  for (CORBA::ULong i = 0; i < values.length(); ++i) {
    values[i].length(kEventBytes);
    std::memcpy(values[i].get_buffer(), const_cast<BrennicData&>(records[i]).GetRawValue(), kEventBytes);
  }
  return values;
}

unsigned int receiver(const char* server, const char* box) {
  unsigned int handle = 0;
  Ostrel::ConnectPortForRecv(box, handle, server, nullptr);
  return handle;
}

// --- A packet round trip: send, receive, reply, wait ------------------------------------------

// A send and a receive connection to the port "echo", closed at the end of the benchmark, and
// the port service with 64-byte request and 32-byte answer payloads for the raw calls.
struct Echo {
  const char* server;
  unsigned int sender = 0;
  unsigned int receiving;
  kxTarn::Port_Factory_var service;
  kxTarn::DATA_BUFFER request{kEventBytes}, answer{32};
  explicit Echo(const char* name) : server(name), receiving(receiver(name, "echo")), service(ports(name)) {
    Ostrel::ConnectPortForSend("echo", sender, server, nullptr);
    request.length(kEventBytes);
    answer.length(32);
  }
  ~Echo() {
    Ostrel::DisConnect(static_cast<int>(sender), server, nullptr);
    Ostrel::DisConnect(static_cast<int>(receiving), server, nullptr);
  }
};

void BM_PacketRoundTrip_Library(benchmark::State& state) {
  Echo echo(serverOf(state));
  std::vector<BrennicData> request = events(1);  // a copy of a record without a type holds nothing
  BrennicData got, reply("AnalogPoint", 0);
  BrennicData answer = reply;
  for (auto _ : state) {
    unsigned int replyHandle = 0;
    if (Ostrel::SendPacket(echo.sender, request[0], 0, echo.server, nullptr) ||
        Ostrel::ReceivePacket(echo.receiving, replyHandle, got, 1000, echo.server, nullptr) ||
        Ostrel::ReplyPacket(replyHandle, answer, 0, echo.server, nullptr) ||
        Ostrel::WaitReply(echo.sender, reply, 1000, echo.server, nullptr))
      state.SkipWithError("round trip failed");
  }
}

// The same four remote operations called straight on the port service.
void BM_PacketRoundTrip_RawOrb(benchmark::State& state) {
  Echo echo(serverOf(state));
  for (auto _ : state) {
    CORBA::ULong replyHandle = 0;
    kxTarn::DATA_BUFFER_var got, reply;
    if (echo.service->send_packet(echo.sender, echo.request, 0, false) ||
        echo.service->receive_packet(echo.receiving, replyHandle, got.out(), 1000) ||
        echo.service->reply_packet(replyHandle, echo.answer, 0) ||
        echo.service->receive_reply(echo.sender, reply.out(), 1000))
      state.SkipWithError("round trip failed");
  }
}

// Two plain round trips that carry the payload: the floor a request and its reply can reach.
void BM_TwoRawRoundTrips(benchmark::State& state) {
  Echo echo(serverOf(state));
  for (auto _ : state) {
    CORBA::ULong from = 0;
    kxTarn::DATA_BUFFER_var got;
    if (echo.service->send_packet(echo.sender, echo.request, 0, false) ||
        echo.service->receive_packet(echo.receiving, from, got.out(), 1000))
      state.SkipWithError("round trip failed");
  }
}

// --- 10,000 events of 64 bytes in one call ----------------------------------------------------

void BM_SendEventN_Library(benchmark::State& state) {
  const char* server = serverOf(state);
  const std::vector<BrennicData> batch = events(kBatch);
  for (auto _ : state) {
    if (Ostrel::SendEventN(kCode, batch, server, nullptr)) state.SkipWithError("send failed");
    state.PauseTiming();
    Ostrel::ClearEventBox("bench", server, nullptr);
    state.ResumeTiming();
  }
}

void BM_SendEventN_RawOrb(benchmark::State& state) {
  const char* server = serverOf(state);
  const std::vector<BrennicData> batch = events(kBatch);
  kxTarn::Port_Factory_var service = ports(server);
  for (auto _ : state) {
    if (service->send_events(kCode, rawBatch(batch), 0)) state.SkipWithError("send failed");
    state.PauseTiming();
    Ostrel::ClearEventBox("bench", server, nullptr);
    state.ResumeTiming();
  }
}

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Each iteration queues kBatch events untimed, then times `receive(service, handle)`, which
// takes all of them and answers whether it did.
template <typename Receive>
void receiveBatches(benchmark::State& state, Receive receive) {
  const char* server = serverOf(state);
  const kxTarn::DATA_BUFFER_SEQ batch = rawBatch(events(kBatch));
  kxTarn::Port_Factory_var service = ports(server);
  const unsigned int handle = receiver(server, "bench");
  // Page faults per iteration: a batch's records come in one block of about 3 MB, whose cost
  // depends on whether the allocator hands back warm heap or fresh pages.
  const long faultsBefore = minorFaults();
  for (auto _ : state) {
    state.PauseTiming();
    service->send_events(kCode, batch, 0);
    state.ResumeTiming();
    if (!receive(server, service.in(), handle)) state.SkipWithError("receive failed");
  }
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(minorFaults() - faultsBefore), benchmark::Counter::kAvgIterations);
  Ostrel::DisConnect(static_cast<int>(handle), server, nullptr);
}

void BM_ReceiveEventN_Library(benchmark::State& state) {
  receiveBatches(state, [](const char* server, kxTarn::Port_Factory_ptr, unsigned int handle) {
    BrennicDataList list;
    const bool all = Ostrel::ReceiveEventN(handle, list, nullptr, kBatch, 0, server, nullptr) == 0 && list.count == kBatch;
    Ostrel::DestoryBrennicDataList(&list);
    return all;
  });
}

void BM_ReceiveEventN_RawOrb(benchmark::State& state) {
  receiveBatches(state, [](const char*, kxTarn::Port_Factory_ptr service, unsigned int handle) {
    kxTarn::DATA_BUFFER_SEQ_var values;
    return service->receive_events(handle, values.out(), kBatch, 0) == 0 && values->length() == kBatch;
  });
}

// --- One event received by handle ---------------------------------------------------------------

// One event queued (untimed), then received by handle: the library's ReceiveEvent against the
// raw receive_packet, which takes the event for good without an acknowledgement.
template <typename Receive>
void receiveOne(benchmark::State& state, Receive receive) {
  const char* server = serverOf(state);
  kxTarn::Port_Factory_var service = ports(server);
  const unsigned int handle = receiver(server, "bench");
  kxTarn::DATA_BUFFER event(kEventBytes);
  event.length(kEventBytes);
  for (auto _ : state) {
    state.PauseTiming();
    service->send_event("bench", event);
    state.ResumeTiming();
    if (!receive(server, service.in(), handle)) state.SkipWithError("receive failed");
  }
  Ostrel::DisConnect(static_cast<int>(handle), server, nullptr);
}

void BM_ReceiveEvent_Library(benchmark::State& state) {
  std::vector<BrennicData> one = events(1);  // a copy of a record without a type holds nothing
  receiveOne(state, [&](const char* server, kxTarn::Port_Factory_ptr, unsigned int handle) {
    return Ostrel::ReceiveEvent(static_cast<int>(handle), one[0], 0, server, nullptr) == 0;
  });
}

void BM_ReceiveEvent_RawOrb(benchmark::State& state) {
  receiveOne(state, [](const char*, kxTarn::Port_Factory_ptr service, unsigned int handle) {
    CORBA::ULong sender = 0;
    kxTarn::DATA_BUFFER_var value;
    return service->receive_packet(handle, sender, value.out(), 0) == 0 && value->length() == kEventBytes;
  });
}

// --- Sustained: a producer process and this consumer, through tarnd ----------------------------

// The producer's side: kStreamEvents events in batches of kStreamBatch, by the library or raw.
int produce(const std::string& how) {
  const char* server = "plant";
  if (Ostrel::ConnectTarn(server)) return 3;
  const std::vector<BrennicData> batch = events(kStreamBatch);
  kxTarn::Port_Factory_var service = ports(server);
  for (int sent = 0; sent < kStreamEvents; sent += kStreamBatch) {
    const int rc = how == "lib" ? Ostrel::SendEventN(kCode + 1, batch, server, nullptr)
                                : service->send_events(kCode + 1, rawBatch(batch), 0);
    if (rc) return 4;
  }
  return 0;
}

pid_t startProducer(const char* how) {
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
  char* argv[] = {self, const_cast<char*>("--produce"), const_cast<char*>(how), nullptr};
  pid_t pid = -1;
  return posix_spawn(&pid, self, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// Timed from the first batch's arrival to the last, so that the producer's start-up (its ORB,
// its first ping of the server) is not counted.
template <typename Receive>
void sustained(benchmark::State& state, const char* how, Receive receive) {
  serverOf(state);
  Ostrel::ClearEventBox("stream", "plant", nullptr);
  const unsigned int handle = receiver("plant", "stream");
  std::int64_t timed = 0;
  for (auto _ : state) {
    const pid_t producer = startProducer(how);
    int received = receive(handle);
    const auto start = std::chrono::steady_clock::now();
    const int first = received;
    while (received >= 0 && received < kStreamEvents) {
      const int got = receive(handle);
      received = got < 0 ? -1 : received + got;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    timed += kStreamEvents - first;
    int status = 0;
    waitpid(producer, &status, 0);
    if (received < 0) state.SkipWithError("receive failed");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("the producer failed");
  }
  state.SetItemsProcessed(timed);
  Ostrel::DisConnect(static_cast<int>(handle), "plant", nullptr);
}

void BM_SustainedEvents_Library(benchmark::State& state) {
  sustained(state, "lib", [](unsigned int handle) {
    BrennicDataList list;
    const int rc = Ostrel::ReceiveEventN(handle, list, nullptr, kStreamBatch, 5000, "plant", nullptr);
    const int got = list.count;
    Ostrel::DestoryBrennicDataList(&list);
    return rc ? -1 : got;
  });
}

void BM_SustainedEvents_RawOrb(benchmark::State& state) {
  kxTarn::Port_Factory_var service = ports("plant");
  sustained(state, "raw", [&](unsigned int handle) {
    kxTarn::DATA_BUFFER_SEQ_var values;
    if (CORBA::is_nil(service.in())) service = ports("plant");
    const int rc = service->receive_events(handle, values.out(), kStreamBatch, 5000);
    return rc ? -1 : static_cast<int>(values->length());
  });
}

BENCHMARK(BM_TwoRawRoundTrips)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PacketRoundTrip_RawOrb)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PacketRoundTrip_Library)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendEventN_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendEventN_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveEventN_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveEventN_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveEvent_RawOrb)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReceiveEvent_Library)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SustainedEvents_RawOrb)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_SustainedEvents_Library)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--produce") == 0) {
    const int rc = produce(argv[2]);
    Ostrel::ExitOstrel();
    return rc;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  Ostrel::ExitOstrel();
  return 0;
}
