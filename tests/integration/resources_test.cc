// One client tries to exhaust a tarnd, one pattern after another, while a second client reads and
// writes a data point every 100 ms: the attacker meets each budget and gets its code, the second
// client never fails or waits a second, and tarnd's resident memory stays within the queued-bytes
// budget plus kMarginMiB (the server's own footprint, the ORB's buffers and the counted objects).
// A flood of raw connections meets the connection limits the same way.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/codes.h"
#include "tarn/server/port_table.h"
#include "tests/support/environment.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::freePort;
using testing_support::TarndProcess;
using Clock = std::chrono::steady_clock;

constexpr long kQueuedMiB = 48;
constexpr long kMarginMiB = 64;
constexpr int kCount = 1500;  // ports, boxes and connections each
constexpr int kRealms = 100;
constexpr int kPoints = 2000;
constexpr long kPointMiB = 4;
constexpr int kBoxCodes = 100;
constexpr long kRequestMiB = 8;
// What a call answers when the ORB refused its request (no code came back).
constexpr int kRefusedUnread = -1;

long residentKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, std::strlen(field), field) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

kxTarn::DATA_BUFFER bytes(std::size_t size) {
  kxTarn::DATA_BUFFER value(static_cast<CORBA::ULong>(size));
  value.length(static_cast<CORBA::ULong>(size));
  return value;
}

TEST(Resources, EachExhaustionPatternMeetsItsBudgetWhileAnotherClientIsServed) {
  TarndProcess tarnd("plant", freePort(),
                     {"--max-queued-bytes", std::to_string(kQueuedMiB << 20), "--max-ports", std::to_string(kCount),
                      "--max-boxes", std::to_string(kCount), "--max-connections", std::to_string(kCount),
                      "--max-realms", std::to_string(kRealms), "--max-box-size", "10000", "--max-points",
                      std::to_string(kPoints), "--max-point-bytes", std::to_string(kPointMiB << 20), "--max-box-codes",
                      std::to_string(kBoxCodes), "--max-request-bytes", std::to_string(kRequestMiB << 20)});
  ASSERT_TRUE(tarnd.start());
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  auto service = [&](const char* kind, const std::string& realm) {
    CORBA::Object_var object = manager->get_service(kind, realm.c_str());
    return object._retn();
  };
  kxTarn::Port_Factory_var ports = kxTarn::Port_Factory::_narrow(CORBA::Object_var(service("port", "attack")));
  kxTarn::DT_Point_Factory_var points =
      kxTarn::DT_Point_Factory::_narrow(CORBA::Object_var(service("dtp", "attack")));
  kxTarn::contender_server_var contenders =
      kxTarn::contender_server::_narrow(CORBA::Object_var(service("contender", "attack")));

  // The second client, on a connection of its own.
  std::atomic<bool> done{false};
  std::atomic<int> failures{0}, probes{0};
  std::atomic<long> slowestMs{0};
  std::thread other([&] {
    kxTarn::DT_Point_Factory_var points = kxTarn::DT_Point_Factory::_narrow(CORBA::Object_var(service("dtp", "")));
    if (points->create_point("probe", "AnalogPoint", true, bytes(32)) != tarn::kOk) ++failures;
    while (!done) {
      const auto start = Clock::now();
      try {
        CORBA::String_var type;
        kxTarn::DATA_BUFFER_var value;
        if (points->set_point("probe", bytes(32)) != tarn::kOk || points->get_point("probe", type.out(), value.out()) != tarn::kOk)
          ++failures;
      } catch (const CORBA::Exception&) {
        ++failures;
      }
      const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (ms > slowestMs) slowestMs = ms;
      ++probes;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  struct Pattern {
    const char* what;
    std::function<int(int)> step;  // the i-th attempt's code
    int code;                      // what the attacker gets once the budget is used up
    std::function<void()> after = {};
  };
  // What the byte patterns use is made before the count patterns use up the counts.
  CORBA::ULong handle = 0, sender = 0, extra = 0;
  ASSERT_EQ(ports->create_port("target", tarn::kBoxKind, 10), tarn::kOk);
  ASSERT_EQ(ports->create_port("deep", tarn::kBoxKind, 10000), tarn::kOk);
  ASSERT_EQ(ports->create_port("hose", tarn::kPortKind, 0), tarn::kOk);
  ASSERT_EQ(ports->connect_port("hose", tarn::kSendDirection, 0, sender, extra), tarn::kOk);
  const kxTarn::DATA_BUFFER big = bytes(64 * 1024);
  const std::string longName(tarn::kMaxNameBytes + 1, 'n');
  auto nameOf = [](const char* prefix, int i, std::size_t length) {
    std::string name = prefix + std::to_string(i);
    name.resize(std::max(length, name.size()), '.');
    return name;
  };
  // Requests past the ORB's limit, four at once: each is refused by its header, unread.
  auto oversized = [&](int) {
    static const kxTarn::DATA_BUFFER huge = bytes((kRequestMiB + 8) << 20);
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
      senders.emplace_back([&] {
        try {
          ports->send_event("deep", huge);
        } catch (const CORBA::SystemException&) {
          ++refused;
        }
      });
    for (std::thread& sender : senders) sender.join();
    return refused == 4 ? kRefusedUnread : tarn::kOk;
  };
  int made = 0;
  const std::vector<Pattern> patterns = {
      {"a realm name past 4 KiB (before the realms are used up)",
       [&](int) {
         CORBA::Object_var realm = service("port", longName);
         return CORBA::is_nil(realm) ? tarn::kBadArgument : tarn::kOk;
       },
       tarn::kBadArgument},
      {"ports", [&](int i) { return ports->create_port(("p" + std::to_string(i)).c_str(), tarn::kPortKind, 0); },
       tarn::kOverBudget},
      {"boxes", [&](int i) { return ports->create_port(("b" + std::to_string(i)).c_str(), tarn::kBoxKind, 1); },
       tarn::kOverBudget},
      {"realms",
       [&](int i) {
         CORBA::Object_var realm = service("port", "realm" + std::to_string(i));
         return CORBA::is_nil(realm) ? tarn::kOverBudget : tarn::kOk;
       },
       tarn::kOverBudget},
      {"connections",
       [&](int) {
         handle = 0;  // a handle of its own would be that connection again
         return ports->connect_port("target", tarn::kSendDirection, 0, handle, extra);
       },
       tarn::kOverBudget},
      {"a contender's record past 64 KiB",
       [&](int) {
         return contenders->regist_contender_from("h", "pump", bytes(64 * 1024 + 1), "", 1, "attacker:1");
       },
       tarn::kOverBudget},
      {"a contender name past 4 KiB",
       [&](int) { return contenders->regist_contender_from("h", longName.c_str(), kxTarn::DATA_BUFFER(), "", 1, "attacker:1"); },
       tarn::kBadArgument},
      {"contenders (the default budget)",
       [&](int i) {
         return contenders->regist_contender_from(("h" + std::to_string(i)).c_str(), "pump", kxTarn::DATA_BUFFER(), "",
                                                  1, "attacker:1");
       },
       tarn::kOverBudget},
      {"a box of INT_MAX", [&](int) { return ports->create_port("huge", tarn::kBoxKind, INT_MAX); }, tarn::kOverBudget},
      {"event codes of one box", [&](int i) { return ports->add_event("target", i); }, tarn::kOverBudget},
      {"points",
       [&](int i) {
         const int rc = points->create_point(nameOf("pt", i, 8).c_str(), "AnalogPoint", false, bytes(0));
         made += rc == tarn::kOk;
         return rc;
       },
       tarn::kOverBudget,
       [&] {  // removed points give their budget back
         for (int i = 0; i < made; ++i) ASSERT_EQ(points->remove_point(nameOf("pt", i, 8).c_str()), tarn::kOk);
         ASSERT_EQ(points->create_point("after", "AnalogPoint", false, bytes(0)), tarn::kOk);
         ASSERT_EQ(points->remove_point("after"), tarn::kOk);
       }},
      {"point bytes (names of 4 KiB)",
       [&](int i) {
         return points->create_point(nameOf("pb", i, tarn::kMaxNameBytes).c_str(), "AnalogPoint", false, bytes(0));
       },
       tarn::kOverBudget},
      {"a point name past 4 KiB",
       [&](int) { return points->create_point(longName.c_str(), "AnalogPoint", false, bytes(0)); }, tarn::kBadArgument},
      {"a batch with one name past 4 KiB",
       [&](int) {
         kxTarn::CreationParameterSeq batch;
         batch.length(2);
         batch[0].name = "fine";
         batch[1].name = longName.c_str();
         for (CORBA::ULong k = 0; k < 2; ++k) {
           batch[k].typeName = "AnalogPoint";
           batch[k].value = bytes(32);
         }
         return points->create_points(batch);
       },
       tarn::kBadArgument},
      {"a box name past 4 KiB", [&](int) { return ports->create_port(longName.c_str(), tarn::kBoxKind, 1); },
       tarn::kBadArgument},
      {"four requests past the ORB's limit at once", oversized, kRefusedUnread},
      {"64 KiB events into one box",
       [&](int) { return ports->send_event("deep", big); },
       tarn::kBoxFull, [&] { ports->clear_event("deep"); }},
      {"64 KiB packets into one port",
       [&](int) { return ports->send_packet(sender, big, 0, false); },
       tarn::kBoxFull},
  };
  for (const Pattern& pattern : patterns) {
    SCOPED_TRACE(pattern.what);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    int rc = tarn::kOk, attempts = 0;
    while (rc != pattern.code && Clock::now() < deadline && attempts < 100000) rc = pattern.step(attempts++);
    EXPECT_EQ(rc, pattern.code) << "after " << attempts << " attempts";
    // The attacker keeps pressing for a while, so the second client's calls meet the pressure.
    const auto until = Clock::now() + std::chrono::milliseconds(400);
    while (Clock::now() < until) ASSERT_EQ(pattern.step(attempts++), pattern.code) << "and again";
    if (pattern.after) pattern.after();
  }
  CORBA::ULong steady = 0;
  EXPECT_EQ(ports->connect_port_from("target", tarn::kSendDirection, 0, "steady:1", steady, extra), tarn::kOk)
      << "the attacker used up its own share of connections, not another client's";
  {
    testing_support::ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
    ObjectNames names;
    EXPECT_EQ(tarn::kOverBudget, kx_com_chennal_seq(&names, "plant", "one.realm.more"))
        << "the flat API tells a realm past the budget from a server that does not answer";
  }
  const long peakKiB = residentKiB(tarnd.pid(), "VmHWM:");
  done = true;
  other.join();

  EXPECT_EQ(failures, 0) << "the second client's calls";
  EXPECT_GT(probes, 15);
  EXPECT_LT(slowestMs, 1000) << "the second client's slowest call, ms";
// AddressSanitizer keeps freed blocks in quarantine, ThreadSanitizer keeps shadow memory.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peakKiB, (kQueuedMiB + kMarginMiB) * 1024) << "tarnd's peak resident size, KiB";
  RecordProperty("tarnd_peak_kib", static_cast<int>(peakKiB));
#else
  (void)peakKiB;
#endif
}

// An open TCP connection to 127.0.0.1:`port` from the loopback address `from`; -1 when refused.
int connectFrom(const char* from, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the server still holds the connection `fd`: no end of stream and no reset waiting.
bool stillOpen(int fd) {
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

std::size_t entries(const std::string& folder) {
  std::size_t n = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (::readdir(dir)) ++n;
    ::closedir(dir);
  }
  return n - 2;
}

TEST(Resources, AFloodOfConnectionsIsRefusedWhileOpenClientsAndOtherHostsAreServed) {
#if defined(__SANITIZE_THREAD__)
  constexpr int kFlood = 600;  // each connection's thread starts many times slower
#else
  constexpr int kFlood = 2000;
#endif
  constexpr int kTotal = 300, kPerHost = 100;
  TarndProcess tarnd("plant", freePort(),
                     {"--max-tcp-connections", std::to_string(kTotal), "--max-host-tcp-connections", std::to_string(kPerHost)});
  // This tarnd unwinds the stacks of its allocations the fast way: with the sanitizer build's
  // full unwinding (LSAN_OPTIONS fast_unwind_on_malloc=0) its 2,000 connection threads take
  // minutes to start, and the gate meets each connection only as its thread starts.
  const char* leaks = std::getenv("LSAN_OPTIONS");
  const std::string savedLeaks = leaks ? leaks : "";
  if (leaks) testing_support::setEnvironment("LSAN_OPTIONS", (savedLeaks + ":fast_unwind_on_malloc=1").c_str());
  const bool started = tarnd.start();
  if (leaks) testing_support::setEnvironment("LSAN_OPTIONS", savedLeaks.c_str());
  ASSERT_TRUE(started);
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  CORBA::Object_var object = manager->get_service("dtp", "");
  kxTarn::DT_Point_Factory_var points = kxTarn::DT_Point_Factory::_narrow(object);
  ASSERT_EQ(points->create_point("probe", "AnalogPoint", true, bytes(32)), tarn::kOk);

  // A client already connected reads and writes throughout.
  std::atomic<bool> done{false};
  std::atomic<int> failures{0}, probes{0};
  std::thread other([&] {
    while (!done) {
      try {
        CORBA::String_var type;
        kxTarn::DATA_BUFFER_var value;
        if (points->set_point("probe", bytes(32)) != tarn::kOk || points->get_point("probe", type.out(), value.out()) != tarn::kOk)
          ++failures;
      } catch (const CORBA::Exception&) {
        ++failures;
      }
      ++probes;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  const auto start = Clock::now();
  std::vector<int> flood;
  for (int i = 0; i < kFlood; ++i) {
    const int fd = connectFrom(i % 2 ? "127.0.0.2" : "127.0.0.3", tarnd.port());
    if (fd >= 0) flood.push_back(fd);
  }
  const long floodMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  // The server closes what it refuses as each connection's thread starts: within moments, or a
  // few seconds in a sanitizer build.
  long held = 0;
  for (const auto until = Clock::now() + std::chrono::seconds(20); Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    held = std::count_if(flood.begin(), flood.end(), stillOpen);
    if (held <= 2 * kPerHost) break;
  }
  EXPECT_LE(held, 2 * kPerHost) << "connections the two flooding hosts kept open";
  EXPECT_GE(held, kPerHost) << "each flooding host is refused only past its own share";
  const std::size_t fds = entries("/proc/" + std::to_string(tarnd.pid()) + "/fd");
  EXPECT_LT(fds, static_cast<std::size_t>(kTotal + 64)) << "tarnd's open files during the flood";

  // Another host is still served: new connections from 127.0.0.1 stay open, and calls that need
  // connections of their own (four at once) succeed.
  const int fresh = connectFrom("127.0.0.1", tarnd.port());
  ASSERT_GE(fresh, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(stillOpen(fresh)) << "a connection from a host that did not flood";
  ::close(fresh);
  std::vector<std::thread> pings;
  std::atomic<int> answered{0};
  for (int t = 0; t < 4; ++t)
    pings.emplace_back([&] {
      try {
        if (manager->ping() == tarn::kOk) ++answered;
      } catch (const CORBA::Exception&) {
      }
    });
  for (std::thread& ping : pings) ping.join();
  EXPECT_EQ(answered, 4);

  // Once the flood ends its share comes back.
  for (int fd : flood) ::close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<int> again;
  for (int i = 0; i < kPerHost; ++i) again.push_back(connectFrom("127.0.0.2", tarnd.port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(std::count_if(again.begin(), again.end(), stillOpen), kPerHost) << "a host's share after its connections closed";
  for (int fd : again) ::close(fd);

  done = true;
  other.join();
  EXPECT_EQ(failures, 0) << "the connected client's calls during the flood";
  EXPECT_GT(probes, 10);
  RecordProperty("flood_ms", static_cast<int>(floodMs));
  RecordProperty("tarnd_fds_in_flood", static_cast<int>(fds));
  RecordProperty("tarnd_threads_after", static_cast<int>(entries("/proc/" + std::to_string(tarnd.pid()) + "/task")));
}

}  // namespace
