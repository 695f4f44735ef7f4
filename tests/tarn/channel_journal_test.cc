// Persistent channels in the journal, without a server: what a fresh table replays from it.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tarn/client/codes.h"
#include "tarn/server/journal.h"

namespace {

using tarn::Journal;
using tarn::JournalRecord;
using tarn::RealmState;

tarn::SharedBytes bytes(const std::string& text) { return std::make_shared<const tarn::Bytes>(text.begin(), text.end()); }

std::string text(const tarn::Message& message) { return std::string(message.bytes->begin(), message.bytes->end()); }

class ChannelJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/channel_journal_test.XXXXXX";
    dir_ = mkdtemp(pattern);
    open();
  }
  void TearDown() override { journal_.reset(); std::filesystem::remove_all(dir_); }
  // A new journal and realm on the folder, as a restarted server makes them.
  void open() {
    realm_.reset();
    journal_.reset();
    journal_ = std::make_unique<Journal>(dir_, false);
    realm_ = std::make_shared<RealmState>();
    realm_->name = "r";
    journal_->replay([this](const JournalRecord& record) {
      if (record.forChannel() && record.realm == "r") realm_->ports.replay(record);
    });
    journal_->attach(realm_);
    realm_->ports.keepIn(journal_.get(), "r");
  }
  tarn::PortTable& ports() { return realm_->ports; }
  static long fileSize(const std::string& path) { return static_cast<long>(std::filesystem::file_size(path)); }
  // Every message of `channel` in order, taken through a receive connection.
  std::vector<std::string> drain(const std::string& channel) {
    unsigned handle = 0;
    std::vector<tarn::Message> taken;
    std::vector<std::string> seen;
    if (ports().connect(channel, tarn::kReceiveDirection, "", handle) != tarn::kOk) return {"<none>"};
    ports().receive(handle, 1000000, tarn::Fit(), 0, taken);
    for (const tarn::Message& message : taken) seen.push_back(text(message));
    ports().disconnect(handle);
    return seen;
  }
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
  ASSERT_EQ(ports().receive(taker, 2, tarn::Fit(), 0, taken), tarn::kOk);
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
        if (i % 3 == 0) ports().receive(handle, 2, tarn::Fit(), 0, taken);
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
  ports().sendEvent("box", bytes("torn"));
  ASSERT_EQ(::truncate(file.c_str(), whole + 10), 0) << "the last send loses its tail";
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
    ASSERT_EQ(ports().receive(handle, 1, tarn::Fit(), 0, taken), tarn::kOk);
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
  ASSERT_EQ(ports().receive(handle, 10, fit, 0, taken), tarn::kOk);
  EXPECT_EQ(taken.size(), 2u);
  fit.answerBytes = 1;
  ASSERT_EQ(ports().receive(handle, 10, fit, 0, taken), tarn::kOk);
  EXPECT_EQ(taken.size(), 3u) << "one message always goes, whatever its size";
  fit = tarn::Fit();
  fit.least = fit.most = 4;
  EXPECT_EQ(ports().receive(handle, 10, fit, 0, taken), tarn::kSizeMismatch) << "dd is not of the asked size";
  EXPECT_EQ(ports().receive(handle, 1, fit, 0, taken), tarn::kSizeMismatch);
  fit.most = 1;
  EXPECT_EQ(ports().receive(handle, 1, fit, 0, taken), tarn::kBufferTooSmall);
  EXPECT_EQ(taken.size(), 3u);
  ports().disconnect(handle);
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"dd", "eeee"})) << "what was refused stays, across a restart";
}

// A confirmed receive whose answer did not arrive is taken again: a receive that names an older
// batch puts the kept one back at the front first (on the disk too), one that names it drops it;
// a disconnect drops what was answered, closing an idle connection puts it back.
TEST_F(ChannelJournalTest, AnAnswerThatDidNotArriveIsTakenAgain) {
  ::setenv("TARN_IDLE_CONNECTION_S", "1", 1);  // for every table this test opens
  open();
  ASSERT_EQ(ports().create("box", tarn::kBoxKind, 10), tarn::kOk);
  ASSERT_EQ(ports().setPersistent("box", true), tarn::kOk);
  for (const char* event : {"a", "b", "c"}) ports().sendEvent("box", bytes(event));
  unsigned handle = 0;
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "", handle), tarn::kOk);
  auto receive = [&](std::uint32_t delivered, std::size_t most, tarn::Fit fit, std::uint32_t& batch) {
    tarn::PortTable::Confirmation confirmation;
    confirmation.delivered = delivered;
    std::vector<tarn::Message> taken;
    const int rc = ports().receive(handle, most, fit, 0, taken, &confirmation);
    batch = confirmation.batch;
    std::string seen;
    for (const tarn::Message& message : taken) seen += text(message);
    if (rc == tarn::kOk) ports().keep(handle, batch, std::move(taken));  // as the service does once it answered
    return rc == tarn::kOk ? seen : "code " + std::to_string(rc);
  };
  std::uint32_t first = 0, second = 0, none = 0;
  EXPECT_EQ(receive(0, 2, tarn::Fit(), first), "ab");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(receive(0, 10, tarn::Fit(), second), "abc") << "the first answer was not confirmed";
  EXPECT_NE(second, first);
  EXPECT_EQ(receive(second, 10, tarn::Fit(), none), "code " + std::to_string(tarn::kNothingReceived));
  for (const char* event : {"d", "e"}) ports().sendEvent("box", bytes(event));
  EXPECT_EQ(receive(second, 1, tarn::Fit(), first), "d");
  tarn::Fit five;
  five.least = 5;
  EXPECT_EQ(receive(0, 10, five, none), "code " + std::to_string(tarn::kSizeMismatch));
  ports().disconnect(handle);
  open();
  EXPECT_EQ(drain("box"), (std::vector<std::string>{"d", "e"})) << "put back on the disk too";

  for (const char* event : {"f", "g"}) ports().sendEvent("box", bytes(event));
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "", handle), tarn::kOk);
  EXPECT_EQ(receive(0, 1, tarn::Fit(), first), "f");
  ports().disconnect(handle);
  EXPECT_EQ(drain("box"), std::vector<std::string>{"g"}) << "a disconnect confirms";
  ports().sendEvent("box", bytes("h"));
  ASSERT_EQ(ports().connect("box", tarn::kReceiveDirection, "", handle), tarn::kOk);
  EXPECT_EQ(receive(0, 1, tarn::Fit(), first), "h");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ports().connections();  // closes the idle connection
  EXPECT_EQ(drain("box"), std::vector<std::string>{"h"}) << "an abandoned answer goes back";
  ::unsetenv("TARN_IDLE_CONNECTION_S");
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
  // The journal's next write fails: the file may not grow any more.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::vector<tarn::Message> taken;
  EXPECT_EQ(ports().receive(handle, 1, tarn::Fit(), 0, taken), tarn::kNotKept);
  EXPECT_EQ(ports().sendEvent("box", bytes("c")), tarn::kNotKept);
  ::setrlimit(RLIMIT_FSIZE, &saved);
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
