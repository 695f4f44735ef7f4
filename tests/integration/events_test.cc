// Event boxes end to end, on the embedded server and on tarnd.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "tests/support/each_server.h"

namespace {

using namespace testing_support;

class Events : public OnEachServer {
 protected:
  unsigned count(const std::string& box, const char* position = nullptr) {
    unsigned int n = 0;
    EXPECT_EQ(0, Ostrel::EventCount(box.c_str(), n, server, position));
    return n;
  }
  // A receive connection to `box`, closed with the test.
  unsigned int receiver(const std::string& box) {
    unsigned int handle = 0;
    EXPECT_EQ(0, Ostrel::ConnectPortForRecv(box.c_str(), handle, server, nullptr));
    return handle;
  }
};

TEST_P(Events, SelfDescribingBatchKeepsEachType) {
  const std::string box = unique("alarms");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 71, 100, server, nullptr));
  BrennicData a = analog(4.5), d("DigitalPoint", 0), alarm("Alarm", 0);
  d.PutValue("state", static_cast<unsigned char>(1));
  alarm.PutValue("text", "pump 3 tripped");
  a.SetFullName("feeder.flow");
  ASSERT_EQ(0, Ostrel::SendUndefinedEventEventN(71, {&a, &d, &alarm}, server, nullptr));

  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::ReceiveUndefinedEventN(receiver(box), list, 10, 1000, server, nullptr));
  ASSERT_EQ(3, list.count);
  const char* const types[] = {"AnalogPoint", "DigitalPoint", "Alarm"};
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(types[i], list.items[i]->GetTypeName());
  EXPECT_STREQ("feeder.flow", list.items[0]->GetDataName());
  EXPECT_EQ(4.5, list.items[0]->GetDoubleValue("value"));
  EXPECT_EQ(1, list.items[1]->GetUnSignedCharValue("state"));
  EXPECT_STREQ("pump 3 tripped", list.items[2]->GetStringValue("text"));
  Ostrel::DestoryBrennicDataList(&list);
}

TEST_P(Events, TypedBatchOfAWrongSizeLeavesNothingBehind) {
  const std::string box = unique("measurements");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 72, 100, server, nullptr));
  std::vector<BrennicData> batch = {analog(1), analog(2), BrennicData("DigitalPoint", 0), analog(4), analog(5)};
  ASSERT_EQ(0, Ostrel::SendEventN(72, batch, server, nullptr));
  BrennicDataList list;
  EXPECT_EQ(2012, Ostrel::ReceiveEventN(box.c_str(), list, "AnalogPoint", 10, 1000, server, nullptr));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(nullptr, list.items) << "no record made before the odd one is left (LeakSanitizer checks)";
  EXPECT_EQ(5u, count(box)) << "a refused typed receive takes nothing from the box";

  EXPECT_EQ(4000, Ostrel::ReceiveEventN(box.c_str(), list, "NoSuchType", 10, 0, server, nullptr));
  EXPECT_EQ(0, list.count);
  EXPECT_EQ(5u, count(box)) << "an unknown type takes nothing from the box";
  ASSERT_EQ(0, Ostrel::ReceiveEventN(box.c_str(), list, nullptr, 10, 0, server, nullptr));
  ASSERT_EQ(5, list.count) << "without a type name: raw records of each event's bytes";
  EXPECT_EQ(nullptr, list.items[0]->GetTypeName());
  EXPECT_EQ(32u, list.items[0]->GetBufferSize());
  EXPECT_EQ(16u, list.items[2]->GetBufferSize());
  Ostrel::DestoryBrennicDataList(&list);
}

TEST_P(Events, DeclareReachesTheBoxesOfItsCodeAllOrNone) {
  const std::string a = unique("a"), b = unique("b"), c = unique("c");
  ASSERT_EQ(0, Ostrel::CreateEventBox(a.c_str(), 1, 3, server, nullptr));
  ASSERT_EQ(0, Ostrel::CreateEventBox(b.c_str(), 1, 100, server, nullptr));
  ASSERT_EQ(0, Ostrel::AddEventCode(b.c_str(), 2, server, nullptr));
  ASSERT_EQ(0, Ostrel::CreateEventBox(c.c_str(), 2, 100, server, nullptr));
  EXPECT_EQ(2005, Ostrel::CreateEventBox(c.c_str(), 2, 100, server, nullptr));

  BrennicData one = analog(1), two = analog(2), three = analog(3), four = analog(4);
  ASSERT_EQ(0, Ostrel::SendEvent(1, one, server, nullptr));
  ASSERT_EQ(0, Ostrel::SendUndefinedEvent(2, two, server, nullptr));
  EXPECT_EQ((std::vector<unsigned>{1, 2, 1}), (std::vector<unsigned>{count(a), count(b), count(c)}));

  ASSERT_EQ(0, Ostrel::SendEvent(a.c_str(), two, 0, server, nullptr)) << "to one box, whatever its codes";
  ASSERT_EQ(0, Ostrel::SendEvent(a.c_str(), three, 0, server, nullptr));
  EXPECT_EQ(2019, Ostrel::SendEvent(a.c_str(), four, 0, server, nullptr)) << "a full box refuses";
  EXPECT_EQ(2019, Ostrel::SendEvent(1, four, server, nullptr)) << "a declare that one box cannot take";
  EXPECT_EQ(3u, count(a));
  EXPECT_EQ(2u, count(b)) << "reaches no box at all";

  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::ReceiveEventN(receiver(a), list, "AnalogPoint", 10, 0, server, nullptr));
  ASSERT_EQ(3, list.count) << "nothing queued was lost";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(i + 1.0, list.items[i]->GetDoubleValue("value"));
  Ostrel::DestoryBrennicDataList(&list);

  ASSERT_EQ(0, Ostrel::ClearEventBox(b.c_str(), server, nullptr));
  EXPECT_EQ(0u, count(b));
  ASSERT_EQ(0, Ostrel::DeleteEventBox(c.c_str(), server, nullptr));
  EXPECT_EQ(2003, Ostrel::DeleteEventBox(c.c_str(), server, nullptr));
}

TEST_P(Events, BatchesComeInSlicesOfMaxCount) {
  const std::string box = unique("burst");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 73, 1000, server, nullptr));
  std::vector<BrennicData> batch;
  for (int i = 0; i < 250; ++i) batch.push_back(analog(i));
  std::vector<BrennicData*> pointers;
  for (BrennicData& record : batch) pointers.push_back(&record);
  ASSERT_EQ(0, Ostrel::SendEventN(73, pointers.data(), 250, 0, server, nullptr));

  const unsigned int handle = receiver(box);
  int next = 0;
  for (int expected : {100, 100, 50}) {
    BrennicDataList list;
    ASSERT_EQ(0, Ostrel::ReceiveEventN(handle, list, "AnalogPoint", 100, 1000, server, nullptr));
    ASSERT_EQ(expected, list.count);
    for (int i = 0; i < list.count; ++i) ASSERT_EQ(next++, list.items[i]->GetDoubleValue("value"));
    Ostrel::DestoryBrennicDataList(&list);
  }
  BrennicData untouched = analog(-1);
  EXPECT_EQ(2008, Ostrel::ReceiveEvent(box.c_str(), untouched, 20, server, nullptr));
  EXPECT_EQ(-1.0, untouched.GetDoubleValue("value"));

  BrennicData one = analog(7);
  ASSERT_EQ(0, Ostrel::SendEvent(box.c_str(), one, 0, server, nullptr));
  BrennicData got("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::ReceiveEvent(static_cast<int>(handle), got, 1000, server, nullptr));
  EXPECT_EQ(7.0, got.GetDoubleValue("value"));
}

TEST_P(Events, RefusedInputSendsNothing) {
  const std::string box = unique("guarded");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 74, 100, server, nullptr));
  BrennicData good = analog(1), empty;
  BrennicData* withNull[] = {&good, nullptr};
  BrennicDataList list;
  unsigned int n = 0;
  struct Case { const char* what; int expected, rc; };
  const Case cases[] = {
      {"a null entry in the pointer batch", 3014, Ostrel::SendEventN(74, withNull, 2, 0, server, nullptr)},
      {"a null entry in the self-describing batch", 3014,
       Ostrel::SendUndefinedEventEventN(74, {&good, nullptr}, server, nullptr)},
      {"a negative count", 3015, Ostrel::SendEventN(74, withNull, -1, 0, server, nullptr)},
      {"a null array", 3016, Ostrel::SendEventN(74, nullptr, 1, 0, server, nullptr)},
      {"an empty record declared", 3014, Ostrel::SendEvent(74, empty, server, nullptr)},
      {"an empty record self-described", 3014, Ostrel::SendUndefinedEvent(74, empty, server, nullptr)},
      {"a null box name to count", 2010, Ostrel::EventCount(nullptr, n, server, nullptr)},
      {"a null box name to receive", 2010, Ostrel::ReceiveEventN(static_cast<const char*>(nullptr), list, nullptr, 1, 0, server, nullptr)},
      {"a null box name to delete", 2003, Ostrel::DeleteEventBox(nullptr, server, nullptr)},
      {"a zero box size", 2010, Ostrel::CreateEventBox(unique("zero").c_str(), 74, 0, server, nullptr)},
      {"a batch to a server not connected", 2015, Ostrel::SendEventN(74, std::vector<BrennicData>{}, "nowhere", nullptr)},
      // The connection guard comes before every check of the input, as in every guarded operation.
      {"a negative count to a server not connected", 2015, Ostrel::SendEventN(74, withNull, -1, 0, "nowhere", nullptr)},
      {"a null entry to a server not connected", 2015,
       Ostrel::SendUndefinedEventEventN(74, {&good, nullptr}, "nowhere", nullptr)},
      {"an empty batch", 0, Ostrel::SendEventN(74, std::vector<BrennicData>{}, server, nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.rc) << c.what;
  EXPECT_EQ(0u, count(box));
}

TEST_P(Events, RefusedRecordsTakeAndSendNothing) {
  const std::string box = unique("kept");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 78, 100, server, nullptr));
  BrennicData digital("DigitalPoint", 0), empty;
  ASSERT_EQ(0, Ostrel::SendEvent(box.c_str(), digital, 0, server, nullptr));
  ASSERT_EQ(0, Ostrel::SendEvent(box.c_str(), empty, 0, server, nullptr)) << "an empty record is an empty event";
  const unsigned int handle = receiver(box);

  // A typed record takes only an event of its type's size; a shorter one stays in the box.
  BrennicData typed = analog(5);
  EXPECT_EQ(2012, Ostrel::ReceiveEvent(static_cast<int>(handle), typed, 0, server, nullptr));
  EXPECT_EQ(2012, Ostrel::ReceiveEvent(box.c_str(), typed, 0, server, nullptr));
  EXPECT_EQ(5.0, typed.GetDoubleValue("value")) << "no old and new bytes mixed";

  // A record that claims bytes it does not hold refuses every send before anything goes out.
  BrennicData cast, destroyed = analog(1);
  cast.CastType("AnalogPoint");
  destroyed.Destory();
  std::vector<BrennicData> values(2);
  values[1].CastType("AnalogPoint");
  for (BrennicData* odd : {&cast, &destroyed}) {
    BrennicData* pointers[] = {&typed, odd};
    EXPECT_EQ(3014, Ostrel::SendEventN(78, pointers, 2, 0, server, nullptr));
    EXPECT_EQ(3014, Ostrel::SendEvent(box.c_str(), *odd, 0, server, nullptr));
    EXPECT_EQ(3014, Ostrel::SendEvent(78, *odd, server, nullptr));
  }
  EXPECT_EQ(3014, Ostrel::SendEventN(78, values, server, nullptr));
  EXPECT_EQ(2u, count(box));

  // Events that are not one whole stream form come back as raw records of their own bytes.
  BrennicDataList list;
  ASSERT_EQ(0, Ostrel::ReceiveUndefinedEventN(handle, list, 10, 0, server, nullptr));
  ASSERT_EQ(2, list.count);
  EXPECT_EQ(nullptr, list.items[0]->GetTypeName());
  EXPECT_EQ(16u, list.items[0]->GetBufferSize());
  EXPECT_EQ(0u, list.items[1]->GetBufferSize());
  Ostrel::DestoryBrennicDataList(&list);
}

TEST_P(Events, NullPositionFollowsTheDivertedRealm) {
  const std::string box = unique("diverted");
  ASSERT_EQ(0, Ostrel::DivertReleam(server, "north"));
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 75, 10, server, nullptr));
  BrennicData one = analog(1);
  ASSERT_EQ(0, Ostrel::SendEvent(75, one, server, nullptr));
  EXPECT_EQ(1u, count(box)) << "counted in the realm the box was made in";
  EXPECT_EQ(1u, count(box, "north"));
  EXPECT_EQ(0, Ostrel::ClearEventBox(box.c_str(), server, nullptr));
  EXPECT_EQ(0u, count(box, "north"));
  Ostrel::DivertReleam(server, nullptr);
  unsigned int n = 0;
  EXPECT_EQ(2003, Ostrel::EventCount(box.c_str(), n, server, nullptr)) << "the default realm never had it";
}

TEST_P(Events, DeletingABoxWakesItsReceiver) {
  const std::string box = unique("doomed");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 76, 10, server, nullptr));
  const unsigned int handle = receiver(box);
  auto waiting = std::async(std::launch::async, [&] {
    BrennicDataList list;
    return Ostrel::ReceiveEventN(handle, list, nullptr, 10, 20000, server, nullptr);
  });
  ASSERT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(200)));
  ASSERT_EQ(0, Ostrel::DeleteEventBox(box.c_str(), server, nullptr));
  EXPECT_EQ(2003, waiting.get());
}

TEST_P(Events, RemoteFailuresGiveCodesLogLinesAndAFreshReference) {
  const std::string box = unique("faulty");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 77, 100, server, nullptr));
  const unsigned int handle = receiver(box);
  const std::string log = ::testing::TempDir() + "events_test_" + std::to_string(processId()) + ".log";
  std::remove(log.c_str());
  setEnvironment("TARN_LOG", log.c_str());

  BrennicData one = analog(1);
  BrennicData* pointers[] = {&one};
  std::vector<BrennicData> values = {one};
  BrennicDataList list;
  struct Case { const char* operation; std::function<int()> call; const char* logged; };  // logged: the line's start
  const Case cases[] = {
      {"send_events", [&] { return Ostrel::SendEventN(77, pointers, 1, 0, server, nullptr); }, "SendEventN M/W Error "},
      {"send_events", [&] { return Ostrel::SendEventN(77, values, server, nullptr); }, nullptr},
      {"send_events", [&] { return Ostrel::SendUndefinedEventEventN(77, {&one}, server, nullptr); }, nullptr},
      {"receive_tagged", [&] { return Ostrel::ReceiveEventN(handle, list, nullptr, 1, 0, server, nullptr); },
       "ReceiveEventN M/W Error "},
      {"receive_tagged", [&] { return Ostrel::ReceiveUndefinedEventN(handle, list, 1, 0, server, nullptr); },
       "ReceiveUndefinedEventN M/W Error "},
      {"delete_box", [&] { return Ostrel::DeleteEventBox("no.such.box", server, nullptr); }, nullptr},
  };
  for (const Case& c : cases) {
    std::remove(log.c_str());
    // Held across the failure, so that a new reference cannot reuse its address.
    kxTarn::Port_Factory_var before = kxReferenceContainer::instance()->GetPortReferenceWithServerName(server, "");
    planFault(server, c.operation, 0, 1, "COMM_FAILURE");
    EXPECT_EQ(123, c.call()) << c.operation;
    kxTarn::Port_Factory_var after = kxReferenceContainer::instance()->GetPortReferenceWithServerName(server, "");
    // The embedded server hands out one local reference per service; tarnd's are proxies.
    if (GetParam()) {
      EXPECT_NE(before.in(), after.in()) << c.operation << ": the cached reference was dropped";
    }
    std::ifstream in(log);
    std::string line;
    int lines = 0;
    for (; std::getline(in, line); ++lines)
      EXPECT_TRUE(c.logged && line.find(std::string(c.logged) + "COMM_FAILURE") != std::string::npos) << line;
    EXPECT_EQ(c.logged ? 1 : 0, lines) << c.operation;
    const int again = c.call();
    EXPECT_TRUE(again == 0 || again == 2003 || again == 2008) << c.operation << " then " << again;
    Ostrel::DestoryBrennicDataList(&list);
  }
  unsetEnvironment("TARN_LOG");
  std::remove(log.c_str());
}

// Threads that share one receive handle each get their own events: every event reaches exactly
// one of them, whatever the batches and time-outs.
TEST_P(Events, ThreadsSharingAHandleGetEachEventOnce) {
  const std::string box = unique("shared");
  constexpr int kEvents = 600;
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 79, kEvents, server, nullptr));
  const unsigned int handle = receiver(box);
  std::vector<BrennicData> sent;
  for (int i = 0; i < kEvents; ++i) sent.push_back(analog(i));
  ASSERT_EQ(0, Ostrel::SendEventN(79, sent, server, nullptr));
  std::vector<std::future<std::vector<int>>> threads;
  for (int t = 0; t < 3; ++t)
    threads.push_back(std::async(std::launch::async, [&, t] {
      std::vector<int> seen;
      for (int empty = 0; empty < 2;) {
        BrennicDataList list;
        const int rc = Ostrel::ReceiveEventN(handle, list, "AnalogPoint", 1 + t * 2, 100, server, nullptr);
        for (int i = 0; rc == 0 && i < list.count; ++i) seen.push_back(static_cast<int>(list.items[i]->GetDoubleValue("value")));
        Ostrel::DestoryBrennicDataList(&list);
        empty = rc == 0 ? 0 : empty + 1;
      }
      return seen;
    }));
  std::vector<int> all;
  for (auto& thread : threads) {
    const std::vector<int> seen = thread.get();
    all.insert(all.end(), seen.begin(), seen.end());
  }
  std::sort(all.begin(), all.end());
  std::vector<int> expected(kEvents);
  for (int i = 0; i < kEvents; ++i) expected[i] = i;
  EXPECT_EQ(all, expected);
}

// A receive whose answer is lost on the way (here: the server answers after the caller gave up
// on that call) loses nothing and takes nothing twice: the wait tries again with its tag and gets
// the same events, within its limit and the call margin. A wait that ends before the server
// took anything leaves the events to the next receive.
TEST_P(Events, EventsWhoseAnswerWasLostComeAgain) {
  if (!GetParam()) GTEST_SKIP() << "calls into the process's own server have no time-out to miss";
  const std::string box = unique("inbox");
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 78, 100, server, nullptr));
  std::vector<BrennicData> sent = {analog(1), analog(2), analog(3)};
  BrennicDataList list;
  std::vector<double> seen;
  auto keep = [&](int rc) {
    for (int i = 0; rc == 0 && i < list.count; ++i) seen.push_back(list.items[i]->GetDoubleValue("value"));
    Ostrel::DestoryBrennicDataList(&list);
    return rc;
  };
  const unsigned int handle = receiver(box);
  auto receive = [&](bool byName, int timeout) {
    return keep(byName ? Ostrel::ReceiveEventN(box.c_str(), list, "AnalogPoint", 10, timeout, server, nullptr)
                       : Ostrel::ReceiveEventN(handle, list, "AnalogPoint", 10, timeout, server, nullptr));
  };
  for (bool byName : {false, true}) {
    seen.clear();
    ASSERT_EQ(0, Ostrel::SendEventN(78, sent, server, nullptr));
    // Taken at once, answered after the call's time-out (100 ms and the 2 s margin).
    planFault(server, "receive_tagged_answer", 2, 1, "", 0, 2600);
    EXPECT_EQ(0, receive(byName, 100)) << "the retry got the answer";
    EXPECT_EQ(seen, (std::vector<double>{1, 2, 3})) << (byName ? "by name" : "by handle");
    EXPECT_EQ(2008, receive(byName, 0)) << "and only once";

    seen.clear();
    ASSERT_EQ(0, Ostrel::SendEventN(78, sent, server, nullptr));
    // The server runs the receive only after the wait and its margin have passed.
    planFault(server, "receive_tagged", 2, 1, "", 0, 2600);
    receive(byName, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the late call has run
    receive(byName, 0);
    EXPECT_EQ(seen, (std::vector<double>{1, 2, 3})) << (byName ? "by name" : "by handle") << ": each once";
    EXPECT_EQ(2008, receive(byName, 0));
  }
}

OSTREL_ON_EACH_SERVER(Events);

}  // namespace
