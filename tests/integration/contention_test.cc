// Heartbeat contention end to end, on the embedded server and on tarnd.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "ostrel/platform/host.h"
#include "ostrel/redundancy/contender_lists.h"
#include "ostrel/redundancy/dispatcher_contender.h"
#include "tarn/client/codes.h"
#include "tests/support/contenders.h"
#include "tests/support/each_server.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class Contention : public OnEachServer {
 protected:
  void TearDown() override {
    DispatcherContender::instance()->leaveAll();
    OnEachServer::TearDown();
  }
  bool listed(const std::string& host, const std::string& name) {
    return contenderRole(server, host, name) != "absent";
  }
  bool active(const std::string& host, const std::string& name) {
    return contenderRole(server, host, name) == "active";
  }

  const std::string me = ostrel::platform::hostName();
};

TEST_P(Contention, WhichCallsStartTasks) {
  DispatcherContender& dispatcher = *DispatcherContender::instance();
  const std::string byName = unique("by.name"), byRecord = unique("by.record");
  void* first = Ostrel::ContendHeartBit(byName.c_str(), "m", 1, server, nullptr);
  void* second = Ostrel::ContendHeartBit(byName.c_str(), "m", 1, server, nullptr);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second) << "the name form starts one more task each time";
  EXPECT_EQ(2u, dispatcher.count(byName.c_str()));

  BrennicData record("AnalogPoint", 0);
  record.PutValue("value", 1.5);
  EXPECT_EQ(0, Ostrel::ContendHeartBit(byRecord.c_str(), record, server, nullptr));
  record.PutValue("value", 9.0);
  EXPECT_EQ(0, Ostrel::ContendHeartBit(byRecord.c_str(), record, server, nullptr));
  EXPECT_EQ(1u, dispatcher.count(byRecord.c_str())) << "the record form runs one task per name";

  BrennicData empty;
  int local = 0;
  EXPECT_EQ(nullptr, Ostrel::ContendHeartBit(nullptr, "m", 1, server, nullptr));
  EXPECT_EQ(3020, Ostrel::ContendHeartBit(nullptr, record, server, nullptr));
  EXPECT_EQ(3014, Ostrel::ContendHeartBit(byRecord.c_str(), empty, server, nullptr));
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(&local, server, nullptr)) << "an unknown handle";
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(static_cast<void*>(nullptr), server, nullptr));
  EXPECT_EQ(3u, dispatcher.count(nullptr)) << "refused calls and unknown handles change nothing";

  ASSERT_TRUE(eventually([&] { return listed(me, byRecord); }, 3s));
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(first, server, nullptr));
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(second, server, nullptr));
  EXPECT_EQ(1u, dispatcher.count(nullptr));
  EXPECT_FALSE(listed(me, byName)) << "the leave reached the service";
}

TEST_P(Contention, RecordFormJoinsOnceUnderConcurrentCalls) {
  const std::string name = unique("crowd");
  BrennicData record("AnalogPoint", 0);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      Ostrel::ContendHeartBit(name.c_str(), record, server, nullptr);
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(1u, DispatcherContender::instance()->count(name.c_str()));
}

TEST_P(Contention, ListingCopiesWhatTheServiceReports) {
  BrennicData record("AnalogPoint", 0);
  record.PutValue("value", 42.25);
  record.PutValue("unit", "bar");
  std::string longHost, longName;
  for (int i = 0; i < 100; ++i) longHost += "\xc3\xa9";      // é: 200 bytes
  for (int i = 0; i < 200; ++i) longName += "\xe2\x82\xac";  // €: 600 bytes
  struct Row { std::string host, name; bool withRecord; int startTime; };
  const std::vector<Row> rows = {
      {"h.raw", unique("norecord"), false, 100},
      {"h.rec", unique("withrecord"), true, 200},
      {longHost, longName, false, 300},
      {"h.gone", unique("gone"), false, 400},
  };
  BrennicData none;
  for (const Row& row : rows) {
    BrennicData& sent = row.withRecord ? record : none;
    ASSERT_EQ(0, kx_regist_contender(row.host.c_str(), row.name.c_str(), sent.GetRawValue(), sent.GetBufferSize(),
                                     sent.GetTypeName(), row.startTime, server, nullptr));
  }
  ASSERT_EQ(0, kx_out_contend("h.gone", rows[3].name.c_str(), "", server, nullptr));

  ContenderInHostSequence list;
  ASSERT_EQ(0, Ostrel::GetContenderList(list, server, nullptr));
  auto host = [&](const std::string& name) -> ContenderInHost* {
    for (int i = 0; i < list.count; ++i)
      if (std::strncmp(list.items[i]->hostName, name.c_str(), 127) == 0) return list.items[i];
    return nullptr;
  };
  ContenderInHost* gone = host("h.gone");
  ASSERT_TRUE(gone) << "a host whose contenders left stays listed for the expiry";
  EXPECT_EQ(nullptr, gone->programs);

  ContenderInHost* raw = host("h.raw");
  ASSERT_TRUE(raw && raw->programs && raw->programs->count == 1);
  EXPECT_EQ(nullptr, raw->programs->items[0]->data);
  EXPECT_EQ(100, raw->programs->items[0]->value1);
  EXPECT_EQ(1, raw->programs->items[0]->value3) << "the only contender of its name is active";

  ContenderInHost* rec = host("h.rec");
  ASSERT_TRUE(rec && rec->programs && rec->programs->items[0]->data);
  BrennicData* back = rec->programs->items[0]->data;
  ASSERT_STREQ("AnalogPoint", back->GetTypeName());
  ASSERT_EQ(record.GetBufferSize(), back->GetBufferSize());
  EXPECT_EQ(0, std::memcmp(record.GetRawValue(), back->GetRawValue(), record.GetBufferSize()));

  ContenderInHost* cut = host(longHost.substr(0, 126));
  ASSERT_TRUE(cut && cut->programs);
  EXPECT_EQ(longHost.substr(0, 126), cut->hostName) << "cut before the character that does not fit";
  EXPECT_EQ(longName.substr(0, 510), cut->programs->items[0]->name);

  Ostrel::DestoryContenderInHostSequence(&list);
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items);
  Ostrel::DestoryContenderInHostSequence(&list);  // a second release does nothing
  ContenderInHostSequence nullHosts;
  nullHosts.count = 3;  // a count without an array is released without a look at the array
  nullHosts.items = nullptr;
  Ostrel::DestoryContenderInHostSequence(&nullHosts);
  ProgramStatusSequence nullPrograms;
  nullPrograms.count = 2;
  nullPrograms.items = nullptr;
  Ostrel::DestoryProgramStatusSequence(&nullPrograms);
  EXPECT_EQ(0, nullHosts.count + nullPrograms.count);
  for (const Row& row : rows) kx_out_contend(row.host.c_str(), row.name.c_str(), "", server, nullptr);
}

TEST_P(Contention, LeaveHandsOverAtOnceAndAnOlderReturnDoesNotTakeOver) {
  const std::string name = unique("pump");
  void* handle = Ostrel::ContendHeartBit(name.c_str(), "m", 1, server, nullptr);
  ASSERT_TRUE(eventually([&] { return active(me, name); }, 3s));
  ASSERT_EQ(0, kx_regist_contender("h.standby", name.c_str(), nullptr, 0, nullptr, 0x7fffffff, server, nullptr));
  EXPECT_FALSE(active("h.standby", name));

  ASSERT_EQ(0, Ostrel::OutContendHeartBit(handle, server, nullptr));
  EXPECT_TRUE(active("h.standby", name)) << "the leave hands the role over without waiting for the expiry";
  ASSERT_EQ(0, kx_regist_contender("h.older", name.c_str(), nullptr, 0, nullptr, 1, server, nullptr));
  EXPECT_TRUE(active("h.standby", name)) << "an older contender that joins does not take over";
  EXPECT_FALSE(active("h.older", name));
  kx_out_contend("h.standby", name.c_str(), "", server, nullptr);
  EXPECT_TRUE(active("h.older", name));
  kx_out_contend("h.older", name.c_str(), "", server, nullptr);
}

TEST_P(Contention, FiveNameLeaveTellsTheServiceOnlyAndTheTaskRegistersAgain) {
  const std::string name = unique("valve");
  void* handle = Ostrel::ContendHeartBit(name.c_str(), "mod", 1, server, nullptr);
  ASSERT_TRUE(eventually([&] { return listed(me, name); }, 3s));
  std::this_thread::sleep_for(500ms);  // past the thread's first pass, which registers once more
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(me.c_str(), name.c_str(), "mod", server, nullptr));
  EXPECT_FALSE(listed(me, name));
  EXPECT_EQ(1u, DispatcherContender::instance()->count(name.c_str())) << "the local task keeps beating";
  EXPECT_TRUE(eventually([&] { return listed(me, name); }, 8s)) << "its failed update made it register afresh";
  Ostrel::OutContendHeartBit(handle, server, nullptr);
}

// Two processes of one host under one name: the second is refused while the first lives, can
// neither beat for it nor end it, and takes over once it leaves.
TEST_P(Contention, TwoProcessesUnderOneNameOnOneHostNeverShareARegistration) {
  const std::string name = unique("twin");
  const char* host = "h.twins";
  kxTarn::contender_server_var service = kxReferenceContainer::instance()->GetContenerReferenceWithServerName(server, "");
  kxTarn::DATA_BUFFER none;
  ASSERT_EQ(0, service->regist_contender_from(host, name.c_str(), none, "", 10, "111-a"));
  EXPECT_EQ(2005, service->regist_contender_from(host, name.c_str(), none, "", 11, "222-b")) << "a second process";
  EXPECT_EQ(2003, service->update_contender_from(host, name.c_str(), "", "222-b"));
  EXPECT_EQ(2003, service->out_contend_from(host, name.c_str(), "", "222-b")) << "nor may it end the first's";
  EXPECT_TRUE(active(host, name));
  EXPECT_EQ(0, service->update_contender_from(host, name.c_str(), "", "111-a"));
  ASSERT_EQ(0, service->out_contend_from(host, name.c_str(), "", "111-a"));
  EXPECT_EQ(0, service->regist_contender_from(host, name.c_str(), none, "", 11, "222-b")) << "once the first left";
  EXPECT_TRUE(active(host, name));
  EXPECT_EQ(0, service->out_contend_from(host, name.c_str(), "", "222-b"));
  // A leave without the holder's instance is no wildcard: it ends another process's registration
  // only when it names the registration whole, module included, as a supervisor would.
  ASSERT_EQ(0, service->regist_contender_from(host, name.c_str(), none, "", 12, "333-c"));
  ASSERT_EQ(0, service->update_contender_from(host, name.c_str(), "m.c", "333-c"));
  EXPECT_EQ(2003, service->out_contend(host, name.c_str(), "")) << "an empty instance and module match nothing";
  EXPECT_EQ(2003, service->out_contend_from(host, name.c_str(), "", "")) << "nor through the instance form";
  EXPECT_EQ(2003, service->out_contend(host, name.c_str(), "m.other")) << "another module";
  EXPECT_EQ(2003, kx_out_contend(host, name.c_str(), "", server, nullptr)) << "this process holds none of it";
  ASSERT_TRUE(active(host, name));
  EXPECT_EQ(0, Ostrel::OutContendHeartBit(host, name.c_str(), "m.c", server, nullptr));
  EXPECT_FALSE(active(host, name)) << "another process's registration was left by naming it whole";
  ASSERT_EQ(0, service->regist_contender(host, name.c_str(), none, "", 13));
  EXPECT_EQ(0, service->out_contend(host, name.c_str(), "")) << "a registration of no process is left as ever";
}

TEST_P(Contention, ListingFailuresLeaveTheListEmpty) {
  ContenderInHostSequence list;
  EXPECT_EQ(2015, Ostrel::GetContenderList(list, "never.connected", nullptr));

  kxTarn::contender_server_var before =
      kxReferenceContainer::instance()->GetContenerReferenceWithServerName(server, "");
  kx_regist_contender("h.fault", "f", nullptr, 0, nullptr, 1, server, nullptr);
  planFault(server, "get_contenders", 0, 1, "COMM_FAILURE");
  EXPECT_EQ(100, Ostrel::GetContenderList(list, server, nullptr));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items);
  kxTarn::contender_server_var after =
      kxReferenceContainer::instance()->GetContenerReferenceWithServerName(server, "");
  // The embedded server hands out the same collocated reference again; only tarnd's shows the drop.
  if (GetParam()) {
    EXPECT_NE(before.in(), after.in()) << "the cached reference was dropped";
  }

  planFault(server, "get_contenders", 1, 1, "", 2030);
  EXPECT_EQ(2030, Ostrel::GetContenderList(list, server, nullptr));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(0, Ostrel::GetContenderList(list, server, nullptr));
  EXPECT_GT(list.count, 0);
  Ostrel::DestoryContenderInHostSequence(&list);
  kx_out_contend("h.fault", "f", "", server, nullptr);
}

OSTREL_ON_EACH_SERVER(Contention);

// A contender that beats more slowly than the expiry: the service learns its interval from the
// first late beat and from then on lists it at every moment between beats.
TEST(SlowContender, IsLearnedFromItsFirstLateBeatAndThenNeverDropped) {
  TarndProcess tarnd("plant", freePort(), {"--contender-expiry", "1"});
  ASSERT_TRUE(tarnd.start());
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  CORBA::Object_var object = manager->get_service("contender", "");
  kxTarn::contender_server_var service = kxTarn::contender_server::_narrow(object);
  auto listed = [&] {
    kxTarn::HEART_RESULT_SEQ_var report;
    service->get_contenders(report.out());
    for (CORBA::ULong h = 0; h < report->length(); ++h)
      if (std::strcmp(report[h].hostName, "h.slow") == 0) return report[h].programs.length() == 1;
    return false;
  };
  kxTarn::DATA_BUFFER none;
  ASSERT_EQ(0, service->regist_contender_from("h.slow", "slow", none, "", 1, "7-slow"));
  for (int beat = 0; beat < 3; ++beat) {
    for (int poll = 0; poll < 15; ++poll) {  // a beat every 1.5 s against an expiry of 1 s
      std::this_thread::sleep_for(100ms);
      if (beat > 0) {
        EXPECT_TRUE(listed()) << "dropped between beats " << beat << " and " << beat + 1;
      }
    }
    EXPECT_EQ(0, service->update_contender_from("h.slow", "slow", "", "7-slow")) << "beat " << beat + 1;
  }
}

// The contender budget: registrations past it are refused with 2022 in every realm and change
// nothing, while registrations held keep beating, registering again and handing over; a leave or
// an expiry gives its place back, and taking back an expired registration needs a place too.
TEST(ContenderBudget, RefusesPastItAndKeepsServingWhatItHolds) {
  constexpr int kBudget = 20;
  TarndProcess tarnd("plant", freePort(), {"--contender-expiry", "1", "--max-contenders", std::to_string(kBudget)});
  ASSERT_TRUE(tarnd.start());
  kxTarn::kxTarnServiceManager_var manager = tarnd.manager();
  auto contention = [&](const char* realm) {
    CORBA::Object_var object = manager->get_service("contender", realm);
    return kxTarn::contender_server::_narrow(object);
  };
  kxTarn::contender_server_var service = contention(""), other = contention("other");
  kxTarn::DATA_BUFFER none;
  auto roles = [&](const std::string& name) {  // "host:value3" of every program of that name, in report order
    kxTarn::HEART_RESULT_SEQ_var report;
    std::vector<std::string> found;
    if (service->get_contenders(report.out()) != 0) return found;
    for (CORBA::ULong h = 0; h < report->length(); ++h)
      for (CORBA::ULong p = 0; p < report[h].programs.length(); ++p)
        if (name == report[h].programs[p].name.in())
          found.push_back(std::string(report[h].hostName.in()) + ":" + std::to_string(report[h].programs[p].value3));
    return found;
  };
  auto attacker = [&](int i) { return ("h.a" + std::to_string(i)); };

  // The steady client holds "pump"; the attacker fills the rest, some under "pump" and earlier.
  ASSERT_EQ(0, service->regist_contender_from("h.steady", "pump", none, "", 50, "1-steady"));
  for (int i = 0; i < kBudget - 1; ++i)
    ASSERT_EQ(0, service->regist_contender_from(attacker(i).c_str(), i % 2 ? "pump" : "valve", none, "", 1, "2-a")) << i;
  EXPECT_EQ(tarn::kOverBudget, service->regist_contender_from("h.more", "pump", none, "", 1, "2-a"));
  EXPECT_EQ(tarn::kOverBudget, other->regist_contender_from("h.more", "pump", none, "", 1, "2-a"))
      << "the budget is the server's, not a realm's";
  EXPECT_EQ(tarn::kBadArgument, service->regist_contender_from("h.more", "", none, "", 1, "2-a"))
      << "a bad call still answers for itself";
  EXPECT_EQ(0, service->update_contender_from("h.steady", "pump", "m", "1-steady"));
  EXPECT_EQ(0, service->regist_contender_from("h.steady", "pump", none, "", 50, "1-steady"))
      << "registering again what one holds takes no place";
  std::vector<std::string> pump = roles("pump");
  EXPECT_EQ(pump.size(), static_cast<std::size_t>(kBudget / 2)) << "the refused ones are not listed";
  EXPECT_EQ(std::count(pump.begin(), pump.end(), "h.steady:1"), 1) << "still active";
  EXPECT_EQ(std::count_if(pump.begin(), pump.end(), [](const std::string& r) { return r.back() == '1'; }), 1);

  // A leave gives its place back, and hands the role over as ever.
  ASSERT_EQ(0, service->out_contend_from("h.steady", "pump", "", "1-steady"));
  EXPECT_EQ(roles("pump").front(), attacker(1) + ":1") << "the earliest start takes over";
  EXPECT_EQ(0, service->regist_contender_from("h.steady", "pump", none, "", 50, "1-steady"));
  EXPECT_EQ(tarn::kOverBudget, service->regist_contender_from("h.more", "pump", none, "", 1, "2-a"));

  // The attacker falls silent; the steady client beats on. Expiries give the places back.
  for (int beat = 0; beat < 8; ++beat) {
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(0, service->update_contender_from("h.steady", "pump", "", "1-steady")) << beat;
  }
  pump = roles("pump");
  EXPECT_EQ(pump, std::vector<std::string>{"h.steady:1"}) << "the others expired and the role came back";
  for (int i = 0; i < kBudget - 1; ++i)
    ASSERT_EQ(0, other->regist_contender_from(attacker(i).c_str(), "x", none, "", 1, "3-b")) << i;
  EXPECT_EQ(tarn::kOverBudget, service->update_contender_from(attacker(0).c_str(), "valve", "", "2-a"))
      << "an expired registration taken back needs a place";
  EXPECT_EQ(roles("valve"), std::vector<std::string>{});
  ASSERT_EQ(0, other->out_contend_from(attacker(0).c_str(), "x", "", "3-b"));
  EXPECT_EQ(0, service->update_contender_from(attacker(0).c_str(), "valve", "", "2-a")) << "once there is one";
  EXPECT_EQ(roles("valve"), std::vector<std::string>{attacker(0) + ":1"});
}

}  // namespace
