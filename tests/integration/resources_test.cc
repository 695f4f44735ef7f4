// One client tries to exhaust a tarnd, one pattern after another, while a second client reads and
// writes a data point every 100 ms: the attacker meets each budget and gets its code, the second
// client never fails or waits a second, and tarnd's resident memory stays within the queued-bytes
// budget plus kMarginMiB (the server's own footprint, the ORB's buffers and the counted objects).
#include <climits>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/codes.h"
#include "tarn/server/port_table.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::freePort;
using testing_support::TarndProcess;
using Clock = std::chrono::steady_clock;

constexpr long kQueuedMiB = 48;
constexpr long kMarginMiB = 64;
constexpr int kCount = 1500;  // ports, boxes and connections each
constexpr int kRealms = 100;

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
                      "--max-realms", std::to_string(kRealms), "--max-box-size", "10000"});
  ASSERT_TRUE(tarnd.start());
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  auto service = [&](const char* kind, const std::string& realm) {
    CORBA::Object_var object = manager->get_service(kind, realm.c_str());
    return object._retn();
  };
  kxTarn::Port_Factory_var ports = kxTarn::Port_Factory::_narrow(CORBA::Object_var(service("port", "attack")));
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
  const std::vector<Pattern> patterns = {
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
      {"contenders (the default budget)",
       [&](int i) {
         return contenders->regist_contender_from(("h" + std::to_string(i)).c_str(), "pump", kxTarn::DATA_BUFFER(), "",
                                                  1, "attacker:1");
       },
       tarn::kOverBudget},
      {"a box of INT_MAX", [&](int) { return ports->create_port("huge", tarn::kBoxKind, INT_MAX); }, tarn::kOverBudget},
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
#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer keeps freed blocks in quarantine
  EXPECT_LT(peakKiB, (kQueuedMiB + kMarginMiB) * 1024) << "tarnd's peak resident size, KiB";
  RecordProperty("tarnd_peak_kib", static_cast<int>(peakKiB));
#else
  (void)peakKiB;
#endif
}

}  // namespace
