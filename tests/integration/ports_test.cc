// Packet ports end to end, on the embedded server and on tarnd.

#include <algorithm>
#include <cstring>
#include <future>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"
#include "tests/support/each_server.h"

namespace {

using namespace testing_support;

class Ports : public OnEachServer {
 protected:
  // A new port holding one AnalogPoint packet of `value`, sent through the connection `handle`.
  std::string portWithPacket(const char* base, double value, unsigned int& handle) {
    const std::string port = unique(base);
    EXPECT_EQ(0, Ostrel::CreatePort(port.c_str(), server, nullptr));
    BrennicData packet = analog(value, "x");
    EXPECT_EQ(0, Ostrel::SendPacket(port.c_str(), packet, handle, 0, server, nullptr));
    return port;
  }
  // The open connections of `port` in the default realm.
  int connectionsOf(const std::string& port) {
    ConnectionSequence connections;
    EXPECT_EQ(0, Ostrel::GetConnectSeq(&connections, server, nullptr));
    int found = 0;
    for (int i = 0; i < connections.count; ++i) found += port == connections.items[i].portName;
    Ostrel::DestoryConnectSeq(&connections);
    return found;
  }
};

TEST_P(Ports, RequestAndReplyBetweenTwoThreads) {
  const std::string port = unique("pump.commands");
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, nullptr));
  EXPECT_EQ(2005, Ostrel::CreatePort(port.c_str(), server, nullptr));

  // The receiver answers each request with its value doubled, as a DigitalPoint for the second.
  auto receiver = std::async(std::launch::async, [&] {
    for (int round = 0; round < 2; ++round) {
      unsigned int replyHandle = 0;
      BrennicData request("AnalogPoint", 0);
      if (int rc = Ostrel::ReceivePacket(port.c_str(), replyHandle, request, 5000, server, nullptr)) return rc;
      if (replyHandle == 0) return -100;
      BrennicData answer = round == 0 ? analog(request.GetDoubleValue("value") * 2, "ack") : BrennicData("DigitalPoint", 0);
      if (round == 1) answer.PutValue("state", static_cast<unsigned char>(7));
      if (int rc = Ostrel::ReplyPacket(replyHandle, answer, 0, server, nullptr)) return rc;
    }
    return 0;
  });

  unsigned int handle = 0;
  BrennicData request = analog(21.5, "bar");
  ASSERT_EQ(0, Ostrel::SendPacket(port.c_str(), request, handle, 0, server, nullptr));
  ASSERT_NE(0u, handle) << "the send connection's handle is handed back";
  BrennicData reply("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::WaitReply(handle, reply, 5000, server, nullptr));
  EXPECT_EQ(43.0, reply.GetDoubleValue("value"));
  EXPECT_STREQ("ack", reply.GetStringValue("unit"));

  ASSERT_EQ(0, Ostrel::SendPacket(handle, request, 0, server, nullptr)) << "the connection stays open";
  BrennicData undefined;
  ASSERT_EQ(0, Ostrel::WaitUndefinedReply(handle, undefined, 5000, server, nullptr));
  EXPECT_EQ(16u, undefined.GetBufferSize()) << "a reply of unknown length comes back whole";
  EXPECT_EQ(7, undefined.GetRawValue()[0]);
  EXPECT_EQ(0, receiver.get());
  Ostrel::DisConnect(static_cast<int>(handle), server, nullptr);
  EXPECT_EQ(2011, Ostrel::SendPacket(handle, request, 0, server, nullptr)) << "a closed handle is refused";
}

TEST_P(Ports, ReceivesByNameKeepOrderSizeAndConnection) {
  const std::string port = unique("orders");
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, nullptr));

  // A timed-out receive leaves the record as it was and its connection open.
  BrennicData untouched = analog(5, "m");
  EXPECT_EQ(2008, Ostrel::ReceivePacket(port.c_str(), untouched, 50, server, nullptr));
  EXPECT_EQ(5.0, untouched.GetDoubleValue("value"));
  EXPECT_EQ(1, connectionsOf(port));

  unsigned int handle = 0;
  BrennicData first = analog(1, "a"), second = analog(2, "b"), urgent = analog(3, "c");
  ASSERT_EQ(0, Ostrel::SendPacket(port.c_str(), first, handle, 0, server, nullptr));
  ASSERT_EQ(0, Ostrel::SendPacket(handle, second, 0, server, nullptr));
  ASSERT_EQ(0, Ostrel::SendPacketFront(port.c_str(), urgent, handle, 0, server, nullptr));

  // Urgent went to the head; a smaller record keeps its size unless a reply handle is asked for.
  BrennicData small("DigitalPoint", 0);
  ASSERT_EQ(0, Ostrel::ReceivePacket(port.c_str(), small, 1000, server, nullptr));
  EXPECT_EQ(16u, small.GetBufferSize());
  double value = 0;
  std::memcpy(&value, small.GetRawValue(), sizeof value);
  EXPECT_EQ(3.0, value);
  BrennicData whole;
  unsigned int replyHandle = 0;
  ASSERT_EQ(0, Ostrel::ReceivePacket(port.c_str(), replyHandle, whole, 1000, server, nullptr));
  EXPECT_EQ(32u, whole.GetBufferSize());
  EXPECT_EQ(handle, replyHandle) << "the packet names the connection it came through";

  // By handle, through a connection of its own.
  unsigned int receiving = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv(port.c_str(), receiving, server, nullptr));
  BrennicData last("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::ReceivePacket(receiving, last, 1000, server, nullptr));
  EXPECT_EQ(2.0, last.GetDoubleValue("value"));
  Ostrel::DisConnect(static_cast<int>(receiving), server, nullptr);
  EXPECT_EQ(2, connectionsOf(port)) << "both send connections remain; the receives by name took the timed-out "
                                       "receive's connection again and closed it";
}

// A process whose receives by name keep timing out holds a handful of connections, not one per
// attempt: it never uses up what the server grants (on the embedded server, what it grants the
// process itself).
TEST_P(Ports, ReceivesByNameThatTimeOutReuseTheirConnections) {
  const std::string port = unique("empty");
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, nullptr));
  BrennicData record;
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(2008, Ostrel::ReceivePacket(port.c_str(), record, 0, server, nullptr)) << i;
  EXPECT_LE(connectionsOf(port), 4);
  unsigned int handle = 0;
  EXPECT_EQ(0, Ostrel::ConnectPortForSend(port.c_str(), handle, server, nullptr));
  BrennicData packet = analog(5, "x");
  ASSERT_EQ(0, Ostrel::SendPacket(handle, packet, 0, server, nullptr));
  EXPECT_EQ(0, Ostrel::ReceivePacket(port.c_str(), record, 0, server, nullptr)) << "the kept connection receives";
  Ostrel::DisConnect(static_cast<int>(handle), server, nullptr);
}

TEST_P(Ports, RefusalsAreCodesAndChangeNothing) {
  unsigned int handle = 0;
  const std::string port = portWithPacket("refusals", 1, handle);
  BrennicData request = analog(1, "x");

  // A reply longer than the waiting record is refused and stays queued for a longer wait.
  unsigned int replyHandle = 0;
  BrennicData got;
  ASSERT_EQ(0, Ostrel::ReceivePacket(port.c_str(), replyHandle, got, 1000, server, nullptr));
  BrennicData longReply = analog(9, "long");
  ASSERT_EQ(0, Ostrel::ReplyPacket(replyHandle, longReply, 0, server, nullptr));
  BrennicData shortRecord("DigitalPoint", 0);
  EXPECT_EQ(2017, Ostrel::WaitReply(handle, shortRecord, 0, server, nullptr));
  EXPECT_TRUE(shortRecord.IsNull()) << "the refused reply wrote nothing";
  BrennicData fits("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::WaitReply(handle, fits, 0, server, nullptr));
  EXPECT_EQ(9.0, fits.GetDoubleValue("value"));

  struct Case { const char* what; int expected, rc; };
  unsigned int otherRealm = 0;
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, "east"));
  ASSERT_EQ(0, Ostrel::ConnectPortForSend(port.c_str(), otherRealm, server, "east"));
  unsigned int unused = 0;
  const Case cases[] = {
      {"a handle of another realm", 2011, Ostrel::SendPacket(otherRealm, request, 0, server, nullptr)},
      {"a reply to a handle of another realm", 2011, Ostrel::ReplyPacket(otherRealm, request, 0, server, nullptr)},
      {"a null port name", 2010, Ostrel::CreatePort(nullptr, server, nullptr)},
      {"a null name to connect", 2010, Ostrel::ConnectPortForRecv(nullptr, unused, server, nullptr)},
      {"a null name to receive", 2010, Ostrel::ReceivePacket(static_cast<const char*>(nullptr), got, 0, server, nullptr)},
      {"an unknown port", 2003, Ostrel::ConnectPortForSend("no.such.port", unused, server, nullptr)},
      {"a receive on a send handle", 2011, Ostrel::ReceivePacket(handle, got, 0, server, nullptr)},
      {"a server not connected", 2015, Ostrel::CreatePort(port.c_str(), "nowhere", nullptr)},
      {"no wait and nothing queued", 2008, Ostrel::WaitReply(handle, fits, 0, server, nullptr)},
      {"a port marked persistent", 0, Ostrel::SetPersistent(port.c_str(), true, server, nullptr)},
      {"persistence of an unknown channel", 2003, Ostrel::SetPersistent("no.such.port", true, server, nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.rc) << c.what;
}

// A look at a port's or box's queue answers what it holds, with positions, and takes nothing.
TEST_P(Ports, ALookAtAQueueTakesNothing) {
  unsigned int handle = 0;
  const std::string port = portWithPacket("looked.at", 1, handle);
  for (double v : {2.0, 3.0}) {
    BrennicData packet = analog(v, "x");
    ASSERT_EQ(0, Ostrel::SendPacket(handle, packet, 0, server, nullptr));
  }
  auto valueAt = [](const kxPeekedValue& item) {
    double value = 0;
    if (item.length >= sizeof value) std::memcpy(&value, item.buffer, sizeof value);
    return value;
  };
  for (int look = 0; look < 2; ++look) {
    kxPeekedValues seen;
    ASSERT_EQ(0, kx_peek_channel(port.c_str(), 30005, 0, 2, &seen, server, nullptr));
    ASSERT_EQ(2, seen.count) << "look " << look;
    EXPECT_EQ(3u, seen.held);
    EXPECT_EQ(0u, seen.items[0].position);
    EXPECT_EQ(32u, seen.items[0].length);
    EXPECT_EQ(1.0, valueAt(seen.items[0]));
    EXPECT_EQ(1u, seen.items[1].position);
    EXPECT_EQ(2.0, valueAt(seen.items[1]));
    kx_destory_peeked(&seen);
    EXPECT_EQ(0, seen.count);
    EXPECT_EQ(nullptr, seen.items);
  }
  kxPeekedValues tail;
  ASSERT_EQ(0, kx_peek_channel(port.c_str(), 30005, 2, KX_PEEK_MOST, &tail, server, nullptr));
  ASSERT_EQ(1, tail.count);
  EXPECT_EQ(2u, tail.items[0].position);
  EXPECT_EQ(3.0, valueAt(tail.items[0]));
  kx_destory_peeked(&tail);
  ASSERT_EQ(0, kx_peek_channel(port.c_str(), 30005, 9, 5, &tail, server, nullptr));
  EXPECT_EQ(0, tail.count);
  EXPECT_EQ(3u, tail.held);
  kx_destory_peeked(&tail);

  // The receiver still gets every packet, in order; a look then starts at the new front.
  BrennicData first("AnalogPoint", 0);
  ASSERT_EQ(0, Ostrel::ReceivePacket(port.c_str(), first, 1000, server, nullptr));
  EXPECT_EQ(1.0, first.GetDoubleValue("value"));
  kxPeekedValues after;
  ASSERT_EQ(0, kx_peek_channel(port.c_str(), 30005, 0, 1, &after, server, nullptr));
  ASSERT_EQ(1, after.count);
  EXPECT_EQ(2u, after.held);
  EXPECT_EQ(2.0, valueAt(after.items[0]));
  kx_destory_peeked(&after);

  const std::string box = port + ".box";
  ASSERT_EQ(0, Ostrel::CreateEventBox(box.c_str(), 5, 10, server, nullptr));
  BrennicData event = analog(7, "e");
  ASSERT_EQ(0, Ostrel::SendEvent(box.c_str(), event, 0, server, nullptr));
  kxPeekedValues events;
  ASSERT_EQ(0, kx_peek_channel(box.c_str(), 30006, 0, 10, &events, server, nullptr));
  ASSERT_EQ(1, events.count);
  kx_destory_peeked(&events);
  unsigned int held = 0;
  EXPECT_EQ(0, Ostrel::EventCount(box.c_str(), held, server, nullptr));
  EXPECT_EQ(1u, held) << "the box keeps its event";

  struct Case { const char* what; int expected; const char* name; int kind; int count; bool list; };
  const Case cases[] = {
      {"a port looked at as a box", 2003, port.c_str(), 30006, 1, true},
      {"a box looked at as a port", 2003, box.c_str(), 30005, 1, true},
      {"an unknown channel", 2003, "no.such.box", 30006, 1, true},
      {"a null name", 2010, nullptr, 30006, 1, true},
      {"a kind that is neither", 2010, box.c_str(), 7, 1, true},
      {"no count", 2010, box.c_str(), 30006, 0, true},
      {"a negative count", 2010, box.c_str(), 30006, -1, true},
      {"a count past the most", 2010, box.c_str(), 30006, KX_PEEK_MOST + 1, true},
      {"no list to fill", 2010, box.c_str(), 30006, 1, false},
  };
  for (const Case& c : cases) {
    kxPeekedValues list;
    EXPECT_EQ(c.expected, kx_peek_channel(c.name, c.kind, 0, c.count, c.list ? &list : nullptr, server, nullptr)) << c.what;
    EXPECT_EQ(0, list.count) << c.what;
    kx_destory_peeked(&list);
  }
  kx_destory_peeked(nullptr);
  Ostrel::DisConnect(static_cast<int>(handle), server, nullptr);
}

// A record with a block of `size` bytes from ::operator new under a type of `typeName`.
BrennicData shortBlock(const char* typeName, unsigned size) {
  BrennicData record(typeName, 0);
  char* block = static_cast<char*>(::operator new(size));
  std::memset(block, 0x5a, size);
  record.SwellSetRawValue(block, static_cast<int>(size));
  return record;
}

TEST_P(Ports, NoRecordIsReadOrWrittenPastItsBlock) {
  const std::string port = unique("short");
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, nullptr));
  unsigned int handle = 0;
  BrennicData digital("DigitalPoint", 0);  // 16 bytes, where an AnalogPoint has 32
  ASSERT_EQ(0, Ostrel::SendPacket(port.c_str(), digital, handle, 0, server, nullptr));
  unsigned int receiving = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv(port.c_str(), receiving, server, nullptr));

  // A typed record takes no packet shorter than its type, by any receive; the packet stays.
  unsigned int replyHandle = 0;
  BrennicData typed = analog(5);
  const int shortReceives[] = {
      Ostrel::ReceivePacket(port.c_str(), replyHandle, typed, 0, server, nullptr),
      Ostrel::ReceivePacket(port.c_str(), typed, 0, server, nullptr),
      Ostrel::ReceivePacket(receiving, replyHandle, typed, 0, server, nullptr),
      Ostrel::ReceivePacket(receiving, typed, 0, server, nullptr),
  };
  for (int rc : shortReceives) EXPECT_EQ(2012, rc);
  char* held = nullptr;
  unsigned int length = 0;
  EXPECT_EQ(0, typed.heldValue(held, length)) << "the record still holds its whole type";
  EXPECT_EQ(5.0, typed.GetDoubleValue("value"));
  BrennicData raw;
  ASSERT_EQ(0, Ostrel::ReceivePacket(receiving, replyHandle, raw, 0, server, nullptr)) << "the packet was kept";
  EXPECT_EQ(16u, raw.GetBufferSize());

  // A record that claims more than it holds is refused before anything is sent or written.
  BrennicData cast, destroyed = analog(1), cut = shortBlock("AnalogPoint", 16);
  cast.CastType("AnalogPoint");
  destroyed.Destory();
  for (BrennicData* odd : {&cast, &destroyed, &cut}) {
    unsigned int send = handle;
    const int refusals[] = {
        Ostrel::SendPacket(handle, *odd, 0, server, nullptr),
        Ostrel::SendPacket(port.c_str(), *odd, send, 0, server, nullptr),
        Ostrel::SendPacketFront(port.c_str(), *odd, handle, 0, server, nullptr),
        Ostrel::ReplyPacket(replyHandle, *odd, 0, server, nullptr),
        Ostrel::WaitReply(handle, *odd, 0, server, nullptr),
    };
    for (int rc : refusals) EXPECT_EQ(3014, rc);
  }
  EXPECT_EQ(2008, Ostrel::ReceivePacket(receiving, raw, 0, server, nullptr)) << "nothing was sent";

  // One reply per received packet; a stray reply is refused and never answers a later request.
  BrennicData reply = analog(9, "ok");
  EXPECT_EQ(0, Ostrel::ReplyPacket(replyHandle, reply, 0, server, nullptr));
  EXPECT_EQ(2024, Ostrel::ReplyPacket(replyHandle, reply, 0, server, nullptr)) << "the packet is answered";
  unsigned int idle = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForSend(port.c_str(), idle, server, nullptr));
  EXPECT_EQ(2024, Ostrel::ReplyPacket(idle, reply, 0, server, nullptr)) << "nothing was received from it";

  // A reply is never cut: a record of another size refuses it and it stays queued; a reply of
  // unknown length comes back whole, whatever the record held before.
  BrennicData smaller("DigitalPoint", 0);
  EXPECT_EQ(2017, Ostrel::WaitReply(handle, smaller, 0, server, nullptr));
  BrennicData larger("Alarm", 0);
  EXPECT_EQ(2012, Ostrel::WaitReply(handle, larger, 0, server, nullptr)) << "a shorter reply is not mixed in";
  BrennicData four;
  four.SetRawValue(const_cast<char*>("abcd"), 4);
  ASSERT_EQ(0, Ostrel::WaitUndefinedReply(handle, four, 0, server, nullptr));
  ASSERT_EQ(32u, four.GetBufferSize());
  double value = 0;
  std::memcpy(&value, four.GetRawValue(), sizeof value);
  EXPECT_EQ(9.0, value);
}

TEST_P(Ports, ReceiveByNameTriesARefusedConnectionOnceMore) {
  unsigned int handle = 0;
  const std::string port = portWithPacket("flaky", 8, handle);
  const int connections = connectionsOf(port);
  for (int refusals : {1, 2}) {
    planFault(server, "connect_port", 1, refusals, "", 2004);
    BrennicData got("AnalogPoint", 0);
    const int rc = Ostrel::ReceivePacket(port.c_str(), got, 1000, server, nullptr);
    clearFaults(server);
    EXPECT_EQ(refusals == 1 ? 0 : 2004, rc) << refusals << " refusals";
    EXPECT_EQ(refusals == 1 ? 8.0 : 0.0, got.GetDoubleValue("value"));
    EXPECT_EQ(connections, connectionsOf(port)) << "a successful receive closes its connection";
  }
}

TEST_P(Ports, RealmsChannelsAndConnectionsAreListed) {
  const std::string port = unique("listed");
  ASSERT_EQ(0, Ostrel::CreatePort(port.c_str(), server, "west"));
  ASSERT_EQ(0, Ostrel::CreateEventBox((port + ".box").c_str(), 5, 10, server, "west"));
  unsigned int handle = 0;
  ASSERT_EQ(0, Ostrel::ConnectPortForRecv(port.c_str(), handle, server, "west"));
  EXPECT_EQ(0, Ostrel::CreateReleam(server, "anything"));
  const std::string empty = unique("empty.realm");
  ObjectNames none;
  EXPECT_EQ(std::vector<std::string>{}, takeNames(Ostrel::GetCommChennelSeq(&none, server, empty.c_str()), none));
  // The library's delete does nothing, whatever it is given; the server's own call removes an
  // empty realm at once.
  for (const char* realm : {"west", empty.c_str(), static_cast<const char*>(nullptr), "no.such.realm"})
    EXPECT_EQ(0, Ostrel::DeleteReleam(server, realm));
  const std::vector<std::string> kept = takeNames(Ostrel::GetCommChennelSeq(&none, server, "west"), none);
  EXPECT_NE(kept.end(), std::find(kept.begin(), kept.end(), port + ".box")) << "west keeps its channels";
  EXPECT_EQ(2023, kx_delete_releam(server, "west")) << "a realm that holds channels stays";
  EXPECT_EQ(0, kx_delete_releam(server, empty.c_str())) << "an empty realm goes";
  EXPECT_EQ(2003, kx_delete_releam(server, empty.c_str()));
  EXPECT_EQ(2010, kx_delete_releam(server, nullptr)) << "the default realm stays";

  ObjectNames realms;
  const std::vector<std::string> listed = takeNames(Ostrel::GetReleamNames(&realms, server), realms);
  EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "west")) << "a realm in use is listed";
  EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), empty)) << "a deleted realm is not";

  // After a divert, a null position lists the diverted realm.
  ASSERT_EQ(0, Ostrel::DivertReleam(server, "west"));
  ObjectNames channels;
  EXPECT_EQ((std::vector<std::string>{port, port + ".box"}), takeNames(Ostrel::GetCommChennelSeq(&channels, server, nullptr), channels));
  Ostrel::DivertReleam(server, nullptr);

  // Without a position the connection listing takes the null server's realm, whatever it lists.
  ASSERT_EQ(0, Ostrel::DivertReleam(nullptr, "west"));
  ConnectionSequence connections;
  ASSERT_EQ(0, Ostrel::GetConnectSeq(&connections, server, nullptr));
  Ostrel::DivertReleam(nullptr, nullptr);
  ASSERT_EQ(1, connections.count);
  const ConnectionEntry& entry = connections.items[0];
  EXPECT_EQ(handle, entry.handle);
  EXPECT_EQ(30004, entry.direction);
  EXPECT_EQ(port, entry.portName);
  EXPECT_NE(nullptr, std::strstr(entry.process, (":" + std::to_string(processId())).c_str())) << entry.process;
  EXPECT_GT(entry.reclaimSeconds, 0u);
  Ostrel::DestoryConnectSeq(&connections);
  EXPECT_EQ(0, connections.count);
}

OSTREL_ON_EACH_SERVER(Ports);

#if !defined(_WIN32)  // the idle time is tarnd's environment, which the Windows launcher does not pass
// tarnd reclaims a realm that has held nothing for the idle time; one with a box stays. A client
// that still holds a service of the reclaimed realm is served at its next call (a new service).
TEST(IdleRealms, ARealmThatHeldNothingForTheIdleTimeGoesAndItsClientsAreServed) {
  ::setenv("TARN_IDLE_CONNECTION_S", "1", 1);
  TarndProcess tarnd("plant", freePort());
  const bool started = tarnd.start();
  ::unsetenv("TARN_IDLE_CONNECTION_S");
  ASSERT_TRUE(started);
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  ASSERT_EQ(0, Ostrel::CreateEventBox("held", 5, 10, "plant", "kept"));
  ASSERT_EQ(0, Ostrel::CreateEventBox("passing", 6, 10, "plant", "passing"));
  ASSERT_EQ(0, Ostrel::DeleteEventBox("passing", "plant", "passing"));
  auto listed = [] {
    ObjectNames realms;
    return takeNames(Ostrel::GetReleamNames(&realms, "plant"), realms);
  };
  auto has = [](const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  ASSERT_TRUE(has(listed(), "passing"));
  bool gone = false;
  for (int i = 0; i < 40 && !gone; ++i) {  // looked at once a second, after a second of nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    gone = !has(listed(), "passing");
  }
  EXPECT_TRUE(gone) << "an empty realm is reclaimed";
  EXPECT_TRUE(has(listed(), "kept")) << "a realm with a box stays";
  ObjectNames channels;
  EXPECT_EQ(std::vector<std::string>{}, takeNames(Ostrel::GetCommChennelSeq(&channels, "plant", "passing"), channels))
      << "the client's kept service of the realm is replaced, not failed";
  EXPECT_EQ(std::vector<std::string>{"held"}, takeNames(Ostrel::GetCommChennelSeq(&channels, "plant", "kept"), channels));
}
#endif

}  // namespace
