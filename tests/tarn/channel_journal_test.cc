// Persistent channels in the journal, without a server: what a fresh table replays from it.
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tarn/client/codes.h"
#include "tarn/server/journal.h"
#include "tests/support/env_faults.h"
#include "tests/support/environment.h"

namespace {

using tarn::Journal;
using tarn::JournalRecord;
using tarn::RealmState;

tarn::SharedBytes bytes(const std::string& text) { return std::make_shared<const tarn::Bytes>(text.begin(), text.end()); }

std::string text(const tarn::Message& message) { return std::string(message.bytes->begin(), message.bytes->end()); }

// A receipt of a receive: a batch or one message, with a tag (0: taken for good at once).
tarn::Receipt receipt(bool batch, tarn::Tag tag = 0) {
  tarn::Receipt made;
  made.batch = batch;
  made.tag = tag;
  return made;
}

class ChannelJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tarn::platformEnv().makeTempFolder("channel_journal_test");
    ASSERT_FALSE(dir_.empty());
    open();
  }
  void TearDown() override { journal_.reset(); std::filesystem::remove_all(dir_); }
  // A new journal and realm on the folder, as a restarted server makes them.
  void open() {
    close();
    journal_ = std::make_unique<Journal>(dir_, false);
    realm_ = std::make_shared<RealmState>();
    realm_->name = "r";
    journal_->replay([this](const JournalRecord& record) {
      if (record.forChannel() && record.realm == "r") realm_->ports.replay(record);
    });
    journal_->attach(realm_);
    realm_->ports.keepIn(journal_.get(), "r");
  }
  void close() {
    realm_.reset();
    journal_.reset();
  }
  tarn::PortTable& ports() { return realm_->ports; }
  static long fileSize(const std::string& path) { return static_cast<long>(std::filesystem::file_size(path)); }
  // Every message of `channel` in order, taken through a receive connection.
  std::vector<std::string> drain(const std::string& channel) {
    unsigned handle = 0;
    std::vector<tarn::Message> taken;
    std::vector<std::string> seen;
    if (ports().connect(channel, tarn::kReceiveDirection, "", handle) != tarn::kOk) return {"<none>"};
    ports().receive(handle, receipt(true), 1000000, tarn::Fit(), 0, taken);
    for (const tarn::Message& message : taken) seen.push_back(text(message));
    ports().disconnect(handle);
    return seen;
  }
  testing_support::FullDiskEnv disk_;  // the server's Env while the test runs
  std::string dir_;
  std::unique_ptr<Journal> journal_;
  std::shared_ptr<RealmState> realm_;
};

TEST_F(ChannelJournalTest, AReplayedTableHoldsWhatThePersistentChannelsHeld) {
  ASSERT_EQ(ports().create("box", tarn::kBoxKind, 6), tarn::kOk);
  ASSERT_EQ(ports().create("port", tarn::kPortKind, 0), tarn::kOk);
  for (const char* name : {"scratch", "unmarked", "deleted", "emptied"}) ports().create(name, tarn::kBoxKind, 9);
  ports().addCode("box", 7);
  ports().addCode("scratch", 7);
  ports().sendEvent("box", bytes("before the mark"));  // kept: the mark writes the queue whole
  for (const char* name : {"box", "port", "unmarked", "deleted", "emptied"})
    ASSERT_EQ(ports().setPersistent(name, true), tarn::kOk);
  ports().addCode("box", 8);  // the shape changes, the queue stays
  ports().declare(7, {bytes("e1"), bytes("e2")});
  ports().sendEvent("box", bytes("e3"));
  for (const char* name : {"unmarked", "deleted", "emptied"}) ports().sendEvent(name, bytes("x"));
  ports().setPersistent("unmarked", false);
  ports().deleteBox("deleted");
  ports().clear("emptied");
  unsigned taker = 0, sender = 0;
  std::vector<tarn::Message> taken;
  ports().connect("box", tarn::kReceiveDirection, "", taker);
  ASSERT_EQ(ports().receive(taker, receipt(true), 2, tarn::Fit(), 0, taken), tarn::kOk);
  ports().connect("port", tarn::kSendDirection, "", sender);
  for (const char* packet : {"p1", "p2"}) ports().sendPacket(sender, bytes(packet), false);
  ports().sendPacket(sender, bytes("p0"), true);
  for (const char* name : {"scratch", "unmarked"}) ports().deleteBox(name);
  const std::string kept = ports().image();

  open();
  EXPECT_EQ(ports().channelNames(), (std::vector<std::string>{"box", "emptied", "port"}))
      << "channels without the mark, or that lost it, are not kept";
  EXPECT_EQ(ports().image(), kept) << "the same shapes, codes, marks and queues";
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"e2", "e3"})) << "taken events do not come back";
  EXPECT_EQ(drain("port"), (std::vector<std::string>{"p0", "p1", "p2"}));
  const std::vector<tarn::SharedBytes> six = {bytes("a"), bytes("b"), bytes("c"), bytes("d"), bytes("e"), bytes("f")};
  EXPECT_EQ(ports().declare(8, six), tarn::kOk) << "codes and box size came back";
  EXPECT_EQ(ports().declare(7, {bytes("g")}), tarn::kBoxFull);
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"})) << "only the batch after the drain";
}

TEST_F(ChannelJournalTest, ALoadedSnapshotIsKeptAsLoaded) {
  tarn::PortTable source;  // a snapshot's channels: a kept box, an unkept box, a kept port
  source.create("a", tarn::kBoxKind, 5);
  source.create("b", tarn::kBoxKind, 5);
  source.create("c", tarn::kPortKind, 0);
  for (const char* name : {"a", "c"}) source.setPersistent(name, true);
  source.sendEvent("a", bytes("snap"));
  ports().create("a", tarn::kBoxKind, 5);
  ports().create("b", tarn::kBoxKind, 5);
  ports().setPersistent("b", true);
  for (const char* name : {"a", "b"}) ports().sendEvent(name, bytes("live"));
  ASSERT_EQ(ports().restore(source.image()), tarn::kOk);
  open();
  EXPECT_EQ(ports().channelNames(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(drain("a"), std::vector<std::string>{"snap"});
}

TEST_F(ChannelJournalTest, ConcurrentSendersAndTakersReplayToTheSameQueue) {
  ports().create("box", tarn::kBoxKind, 100000);
  ports().setPersistent("box", true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      unsigned handle = 0;
      ports().connect("box", tarn::kReceiveDirection, "", handle);
      for (int i = 0; i < 500; ++i) {
        std::vector<tarn::Message> taken;
        ports().sendEvent("box", bytes(std::to_string(t) + "." + std::to_string(i)));
        if (i % 3 == 0) ports().receive(handle, receipt(true), 2, tarn::Fit(), 0, taken);
      }
    });
  for (std::thread& thread : threads) thread.join();
  const std::string held = ports().image();
  open();
  EXPECT_EQ(ports().image(), held) << "records reached the journal in the order of the changes";
}

TEST_F(ChannelJournalTest, ATornChannelRecordIsCutAndCompactionKeepsTheQueue) {
  ports().create("box", tarn::kBoxKind, 100);
  ports().setPersistent("box", true);
  ports().sendEvent("box", bytes("whole"));
  const std::string file = dir_ + "/points.journal";
  const long whole = fileSize(file);
  const std::string manifest = file + ".manifest", before = dir_ + "/manifest.before";
  std::filesystem::copy_file(manifest, before);
  ports().sendEvent("box", bytes("torn"));
  close();
  // A crash in the middle of the last write: never acknowledged, so not in the manifest.
  std::filesystem::resize_file(file, whole + 10);  // the last send loses its tail
  std::filesystem::remove(manifest);  // (overwrite_existing fails on Windows' libstdc++)
  std::filesystem::copy_file(before, manifest);
  open();
  EXPECT_EQ(fileSize(file), whole) << "cut back to the last whole record";
  EXPECT_EQ(drain("box"), std::vector<std::string>{"whole"});

  // Sends and takes until the file passes the compaction size: the file shrinks to the live queue.
  const std::string big(64 * 1024, 'x');
  unsigned handle = 0;
  ports().connect("box", tarn::kReceiveDirection, "", handle);
  for (std::size_t i = 0; i * big.size() < Journal::kCompactBytes + 4 * big.size(); ++i) {
    ASSERT_EQ(ports().sendEvent("box", bytes(big + std::to_string(i))), tarn::kOk);
    std::vector<tarn::Message> taken;
    ASSERT_EQ(ports().receive(handle, receipt(true), 1, tarn::Fit(), 0, taken), tarn::kOk);
  }
  ports().sendEvent("box", bytes("last"));
  open();
  EXPECT_LT(fileSize(file), 1L << 20) << "compacted";
  EXPECT_EQ(drain("box"), std::vector<std::string>{"last"});
}

TEST_F(ChannelJournalTest, ABatchTakesOnlyWhatItsAnswerHoldsAndTheRestStays) {
  ASSERT_EQ(ports().create("box", tarn::kBoxKind, 10), tarn::kOk);
  ASSERT_EQ(ports().setPersistent("box", true), tarn::kOk);
  for (const char* event : {"aaaa", "bbbb", "cccc", "dd", "eeee"}) ports().sendEvent("box", bytes(event));
  unsigned handle = 0;
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "", handle), tarn::kOk);
  tarn::Fit fit;
  fit.answerBytes = 30;  // two 4-byte events with their 8 bytes of framing fit, a third does not
  std::vector<tarn::Message> taken;
  ASSERT_EQ(ports().receive(handle, receipt(true), 10, fit, 0, taken), tarn::kOk);
  EXPECT_EQ(taken.size(), 2u);
  fit.answerBytes = 1;
  ASSERT_EQ(ports().receive(handle, receipt(true), 10, fit, 0, taken), tarn::kOk);
  EXPECT_EQ(taken.size(), 3u) << "one message always goes, whatever its size";
  fit = tarn::Fit();
  fit.least = fit.most = 4;
  EXPECT_EQ(ports().receive(handle, receipt(true), 10, fit, 0, taken), tarn::kSizeMismatch) << "dd is not of the asked size";
  EXPECT_EQ(ports().receive(handle, receipt(true), 1, fit, 0, taken), tarn::kSizeMismatch);
  fit.most = 1;
  EXPECT_EQ(ports().receive(handle, receipt(false), 1, fit, 0, taken), tarn::kBufferTooSmall);
  EXPECT_EQ(ports().receive(handle, receipt(true), 1, fit, 0, taken), tarn::kSizeMismatch)
      << "a batch of one refuses a longer value as any batch does";
  EXPECT_EQ(taken.size(), 3u);
  ports().disconnect(handle);
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"dd", "eeee"})) << "what was refused stays, across a restart";
}

// A tagged receive keeps what it took in flight until its tag is settled: asked again it answers
// the same, acknowledged it is gone (a late copy of it takes nothing), released it goes back to
// the front, and whatever is still in flight comes back after a restart, a disconnect or an idle
// close. Replies of a send connection follow the same rules.
TEST_F(ChannelJournalTest, WhatIsInFlightStaysUntilItsTagIsSettled) {
  testing_support::setEnvironment("TARN_IDLE_CONNECTION_S", "1");  // for every table this test opens
  open();
  ASSERT_EQ(ports().create("box", tarn::kBoxKind, 10), tarn::kOk);
  ASSERT_EQ(ports().setPersistent("box", true), tarn::kOk);
  for (const char* event : {"a", "b", "c", "d"}) ports().sendEvent("box", bytes(event));
  unsigned handle = 0;
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "p", handle), tarn::kOk);
  auto receive = [&](tarn::Tag tag, std::size_t most, std::vector<tarn::Tag> acks = {},
                     std::vector<tarn::Tag> released = {}) {
    tarn::Receipt made = receipt(true, tag);
    made.acks = std::move(acks);
    made.released = std::move(released);
    std::vector<tarn::Message> taken;
    const int rc = ports().receive(handle, made, most, tarn::Fit(), 0, taken);
    std::string seen;
    for (const tarn::Message& message : taken) seen += text(message);
    return rc == tarn::kOk ? seen : "code " + std::to_string(rc);
  };
  const std::string nothing = "code " + std::to_string(tarn::kNothingReceived);
  EXPECT_EQ(receive(7, 2), "ab");
  EXPECT_EQ(receive(7, 2), "ab") << "the same tag again: its answer was lost";
  EXPECT_EQ(receive(8, 1), "c") << "another tag takes what follows";
  EXPECT_EQ(ports().settle(handle, {7}, {}), tarn::kOk);
  ports().sendEvent("box", bytes("e"));
  EXPECT_EQ(receive(7, 5), nothing) << "a late copy of a settled receive takes nothing";
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"c", "d", "e"})) << "in flight at the restart: queued again";

  for (const char* event : {"f", "g", "h"}) ports().sendEvent("box", bytes(event));
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "p", handle), tarn::kOk);
  EXPECT_EQ(receive(9, 1), "f");
  EXPECT_EQ(receive(10, 1, {}, {9}), "f") << "released, it is at the front again";
  EXPECT_EQ(receive(11, 1, {10}), "g");
  EXPECT_EQ(ports().disconnect(handle), tarn::kOk);
  EXPECT_EQ(ports().settle(handle, {11}, {}), tarn::kBadHandle);
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"g", "h"})) << "a disconnect puts back what is unsettled";

  ports().sendEvent("box", bytes("i"));
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "p", handle), tarn::kOk);
  EXPECT_EQ(receive(12, 1), "i");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ports().connections();  // closes the idle connection
  EXPECT_EQ(drain("box"), std::vector<std::string>{"i"}) << "an abandoned answer goes back";

  ASSERT_EQ(ports().create("port", tarn::kPortKind, 1), tarn::kOk);
  unsigned sender = 0, receiver = 0;
  ASSERT_EQ(ports().connect("port", tarn::kSendDirection, "p", sender), tarn::kOk);
  ASSERT_EQ(ports().connect("port", tarn::kReceiveDirection, "p", receiver), tarn::kOk);
  ASSERT_EQ(ports().sendPacket(sender, bytes("ask"), false), tarn::kOk);
  std::vector<tarn::Message> request, reply;
  ASSERT_EQ(ports().receive(receiver, receipt(false, 1), 1, tarn::Fit(), 0, request), tarn::kOk);
  EXPECT_EQ(request.front().sender, sender);
  ASSERT_EQ(ports().reply(sender, bytes("answer")), tarn::kOk);
  tarn::Receipt forReply = receipt(false, 2);
  forReply.replies = true;
  EXPECT_EQ(ports().receive(receiver, forReply, 1, tarn::Fit(), 0, reply), tarn::kBadHandle) << "not a send connection";
  ASSERT_EQ(ports().receive(sender, forReply, 1, tarn::Fit(), 0, reply), tarn::kOk);
  reply.clear();
  ASSERT_EQ(ports().receive(sender, forReply, 1, tarn::Fit(), 0, reply), tarn::kOk);
  EXPECT_EQ(text(reply.front()), "answer") << "a reply whose answer was lost comes again";
  testing_support::unsetEnvironment("TARN_IDLE_CONNECTION_S");
}

// Connections count per client as well as in all; a client's own send connection asked for again
// is that connection.
TEST_F(ChannelJournalTest, OneClientAtItsShareOfConnectionsLeavesTheOthersTheirs) {
  tarn::Budgets budgets;
  budgets.connections = 10;
  budgets.connectionsPerClient = 3;
  tarn::BudgetBook book(budgets);
  tarn::PortTable table;
  table.useBudget(book);
  ASSERT_EQ(table.create("port", tarn::kPortKind, 1), tarn::kOk);
  unsigned handle = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(table.connect("port", tarn::kReceiveDirection, "greedy", handle), tarn::kOk);
  EXPECT_EQ(table.connect("port", tarn::kReceiveDirection, "greedy", handle), tarn::kOverBudget);
  unsigned mine = 0;
  EXPECT_EQ(table.connect("port", tarn::kSendDirection, "steady", mine), tarn::kOk) << "another client is served";
  unsigned again = mine;
  EXPECT_EQ(table.connect("port", tarn::kSendDirection, "steady", again), tarn::kOk);
  EXPECT_EQ(again, mine) << "its own send connection, not a new one";
  again = mine;
  EXPECT_EQ(table.connect("port", tarn::kSendDirection, "greedy", again), tarn::kOverBudget)
      << "another client's handle is no way round its share";
  EXPECT_EQ(table.disconnect(handle), tarn::kOk);
  EXPECT_EQ(table.connect("port", tarn::kReceiveDirection, "greedy", handle), tarn::kOk) << "a close gives the share back";
}

// What is in flight stays counted against the queued bytes until it is acknowledged or gone with
// its connection, replies included.
TEST_F(ChannelJournalTest, InFlightMessagesAndRepliesGiveTheirBytesBack) {
  tarn::Budgets budgets;
  tarn::BudgetBook book(budgets);
  tarn::PortTable table;
  table.useBudget(book);
  ASSERT_EQ(table.create("port", tarn::kPortKind, 1), tarn::kOk);
  unsigned sender = 0, receiver = 0;
  ASSERT_EQ(table.connect("port", tarn::kSendDirection, "p", sender), tarn::kOk);
  ASSERT_EQ(table.connect("port", tarn::kReceiveDirection, "p", receiver), tarn::kOk);
  ASSERT_EQ(table.sendPacket(sender, bytes("ask"), false), tarn::kOk);
  ASSERT_EQ(table.sendPacket(sender, bytes("again"), false), tarn::kOk);
  tarn::Batch taken;
  ASSERT_EQ(table.receive(receiver, receipt(false, 1), 1, tarn::Fit(), 0, taken), tarn::kOk);
  ASSERT_EQ(table.reply(sender, bytes("answer")), tarn::kOk);
  tarn::Receipt forReply = receipt(false, 2);
  forReply.replies = true;
  ASSERT_EQ(table.receive(sender, forReply, 1, tarn::Fit(), 0, taken), tarn::kOk);
  EXPECT_GT(book.queuedBytes.used(), 0u);
  EXPECT_EQ(table.disconnect(sender), tarn::kOk) << "its reply in flight goes with it";
  EXPECT_EQ(table.disconnect(receiver), tarn::kOk) << "its packet in flight goes back to the port";
  ASSERT_EQ(table.connect("port", tarn::kReceiveDirection, "p", receiver), tarn::kOk);
  ASSERT_EQ(table.receive(receiver, receipt(true, 3), 10, tarn::Fit(), 0, taken), tarn::kOk);
  EXPECT_EQ(taken->size(), 2u);
  EXPECT_EQ(table.settle(receiver, {3}, {}), tarn::kOk);
  EXPECT_EQ(book.queuedBytes.used(), 0u);
}

TEST_F(ChannelJournalTest, AddingACodeJournalsThatCodeAlone) {
  ASSERT_EQ(ports().create("box", tarn::kBoxKind, 4), tarn::kOk);
  ASSERT_EQ(ports().setPersistent("box", true), tarn::kOk);
  const std::string file = dir_ + "/points.journal";
  auto growth = [&](int code) {
    const long before = fileSize(file);
    EXPECT_EQ(ports().addCode("box", code), tarn::kOk);
    return fileSize(file) - before;
  };
  const long first = growth(1);
  for (int code = 2; code < 5000; ++code) ports().addCode("box", code);
  EXPECT_EQ(growth(5000), first) << "a record that grows with the codes the box holds";
  open();
  EXPECT_EQ(ports().declare(1, {bytes("a")}), tarn::kOk);
  EXPECT_EQ(ports().declare(5000, {bytes("b")}), tarn::kOk);
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"a", "b"})) << "the added codes came back";
}

// A take answered kNotKept takes nothing; a send answered kNotKept is in effect. Once the file may
// grow again the journal catches up whole: the next change is kept, and so is everything before.
TEST_F(ChannelJournalTest, ATakeThatCannotBeKeptLeavesTheMessagesQueuedAndTheJournalRecovers) {
  ports().create("box", tarn::kBoxKind, 10);
  ports().setPersistent("box", true);
  ports().sendEvent("box", bytes("a"));
  ports().sendEvent("box", bytes("b"));
  unsigned handle = 0;
  ports().connect("box", tarn::kReceiveDirection, "", handle);
  // The journal's next write fails: the disk is full.
  disk_.full = true;
  std::vector<tarn::Message> taken;
  EXPECT_EQ(ports().receive(handle, receipt(true), 1, tarn::Fit(), 0, taken), tarn::kNotKept);
  EXPECT_EQ(ports().sendEvent("box", bytes("c")), tarn::kNotKept);
  disk_.full = false;
  EXPECT_TRUE(taken.empty());
  unsigned count = 0;
  ports().count("box", count);
  EXPECT_EQ(count, 3u) << "a handed back, c held though not kept";
  const std::string image = ports().image();
  const std::size_t a = image.find(std::string("\1\0\0\0a", 5)), c = image.find(std::string("\1\0\0\0c", 5));
  EXPECT_TRUE(a != std::string::npos && c != std::string::npos && a < c) << "a back at the front";

  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // past the pause between repairs
  EXPECT_EQ(ports().sendEvent("box", bytes("d")), tarn::kOk) << "writes are kept again once the file may grow";
  ports().disconnect(handle);
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"a", "b", "c", "d"})) << "c, answered kNotKept, is kept after all";
}

}  // namespace
