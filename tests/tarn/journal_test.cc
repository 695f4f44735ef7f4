// The data point journal on its own.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "tarn/server/journal.h"

namespace {

using tarn::Journal;
using tarn::JournalRecord;

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/journal_test.XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string file() const { return dir_ + "/points.journal"; }
  std::string bytes() const {
    std::ifstream in(file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Every record a fresh journal on the folder replays, as "realm/name=value" or "-name" / "*realm".
  std::vector<std::string> replayed() {
    std::vector<std::string> seen;
    Journal journal(dir_);
    journal.replay([&](const JournalRecord& r) {
      if (r.kind == JournalRecord::kPoint)
        seen.push_back(r.realm + "/" + r.name + "=" + std::string(r.point.value.begin(), r.point.value.end()) +
                       (r.point.written ? "" : "?"));
      else
        seen.push_back((r.kind == JournalRecord::kRemoved ? "-" + r.name : "*" + r.realm));
    });
    return seen;
  }
  static JournalRecord point(const std::string& realm, const std::string& name, const std::string& value,
                             bool written = true) {
    JournalRecord record;
    record.realm = realm;
    record.name = name;
    record.point.type = "T";
    record.point.value.assign(value.begin(), value.end());
    record.point.written = written;
    return record;
  }
  std::string dir_;
};

TEST_F(JournalTest, SyncedRecordsComeBackInOrderAndATornTailIsCutOff) {
  {
    Journal journal(dir_);
    EXPECT_EQ(journal.replay([](const JournalRecord&) {}), 0u) << "a new journal";
    JournalRecord removed, emptied;
    removed.kind = JournalRecord::kRemoved;
    removed.name = "b";
    emptied.kind = JournalRecord::kRealmEmptied;
    emptied.realm = "east";
    journal.append(point("", "a", "1"));
    journal.append(point("east", "b", "", false));
    journal.append(removed);
    const auto last = journal.append(emptied);
    ASSERT_TRUE(journal.sync(last));
  }
  const std::vector<std::string> whole = {"/a=1", "east/b=?", "-b", "*east"};
  EXPECT_EQ(replayed(), whole);
  const std::string good = bytes();

  // A crash's torn tail (half a frame, half a payload, a bad checksum) is dropped and cut off.
  std::string corrupt = tarn::encodeJournalRecord(point("", "c", "3"));
  corrupt.back() ^= 0x01;
  const std::string tails[] = {std::string("\x05\x00", 2), tarn::encodeJournalRecord(point("", "c", "3")).substr(0, 12),
                               corrupt};
  for (const std::string& tail : tails) {
    std::ofstream(file(), std::ios::binary | std::ios::app) << tail;
    EXPECT_EQ(replayed(), whole);
    EXPECT_EQ(bytes(), good) << "the torn tail stays in the file";
  }
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    ASSERT_TRUE(journal.sync(journal.append(point("", "d", "4"))));
  }
  EXPECT_EQ(replayed().back(), "/d=4");

  std::ofstream(file(), std::ios::binary | std::ios::trunc) << "NOTAJOURNAL";
  Journal foreign(dir_);
  EXPECT_THROW(foreign.replay([](const JournalRecord&) {}), std::runtime_error) << "never overwritten";
}

// One flipped byte in any record but the last is damage, not a torn tail: refused and left as it
// is, or salvaged on request keeping every other record. In the last record it is a torn tail.
TEST_F(JournalTest, DamageBeforeWholeRecordsIsRefusedOrSalvagedNeverCut) {
  constexpr int kRecords = 6;
  std::vector<std::size_t> starts;
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    std::uint64_t ticket = 0;
    for (int i = 0; i < kRecords; ++i) {
      starts.push_back(bytes().size());
      ticket = journal.append(point("", "p" + std::to_string(i), std::string(20, static_cast<char>('a' + i))));
      ASSERT_TRUE(journal.sync(ticket));
    }
  }
  const std::string good = bytes();
  struct Flip {
    const char* what;
    int record;
    std::size_t offset;  // within the record: 0-3 length, 4-7 checksum, 8.. payload
  };
  for (const Flip& flip : std::vector<Flip>{{"first record's length", 0, 1},
                                            {"a middle record's checksum", 2, 5},
                                            {"a middle record's payload", 3, 20},
                                            {"the last but one record's length", kRecords - 2, 0}}) {
    SCOPED_TRACE(flip.what);
    std::string damaged = good;
    const std::size_t at = starts[flip.record] + flip.offset;
    damaged[at] ^= 0x40;
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << damaged;
    const std::size_t after = kRecords - flip.record - 1;
    try {
      Journal journal(dir_);
      journal.replay([](const JournalRecord&) {});
      ADD_FAILURE() << "a damaged journal was taken";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(file()), std::string::npos) << message;
      EXPECT_NE(message.find("offset " + std::to_string(starts[flip.record])), std::string::npos) << message;
      EXPECT_NE(message.find(std::to_string(after) + " whole record"), std::string::npos) << message;
    }
    EXPECT_EQ(bytes(), damaged) << "the refused file is left as it is";

    std::vector<std::string> salvaged;
    {
      Journal journal(dir_);
      journal.replay([&](const JournalRecord& r) { salvaged.push_back(r.name); }, true);
      EXPECT_NE(journal.replayNote().find("dropped"), std::string::npos) << journal.replayNote();
    }
    std::vector<std::string> expected;
    for (int i = 0; i < kRecords; ++i)
      if (i != flip.record) expected.push_back("p" + std::to_string(i));
    EXPECT_EQ(salvaged, expected) << "every record but the damaged one";
    EXPECT_EQ(replayed().size(), expected.size()) << "the salvaged journal starts clean";
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().filename().string().rfind("points.journal.damaged-", 0) != 0) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), damaged) << "the damaged file kept whole";
      std::filesystem::remove(entry.path());
      ++aside;
    }
    EXPECT_EQ(aside, 1);
  }

  // The same flip in the last record: nothing whole follows, so it is a torn tail and is cut.
  std::string torn = good;
  torn[starts.back() + 12] ^= 0x40;
  std::ofstream(file(), std::ios::binary | std::ios::trunc) << torn;
  Journal journal(dir_);
  EXPECT_EQ(journal.replay([](const JournalRecord&) {}), static_cast<std::size_t>(kRecords - 1));
  EXPECT_NE(journal.replayNote().find("torn"), std::string::npos);
  EXPECT_EQ(bytes(), good.substr(0, starts.back()));
}

TEST_F(JournalTest, CompactionKeepsTheStateAndShrinksTheFile) {
  auto realm = std::make_shared<tarn::RealmState>();
  realm->name = "west";
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    journal.attach(realm);
    // Two points rewritten past the compaction size as the service does: table, then append.
    const std::string big(4096, 'x');
    std::uint64_t ticket = 0;
    for (std::size_t i = 0; i * big.size() < Journal::kCompactBytes + big.size(); ++i) {
      std::lock_guard<std::mutex> hold(realm->points.mutex);
      const std::string name = i % 2 ? "odd" : "even";
      const std::string value = big + std::to_string(i);
      JournalRecord record = point("west", name, value);
      realm->points.points[name] = record.point;
      ticket = journal.append(record);
    }
    ASSERT_TRUE(journal.sync(ticket));
  }
  EXPECT_LT(bytes().size(), 64u * 1024) << "compacted to the two live points";
  const std::vector<std::string> state = replayed();
  ASSERT_EQ(state.size(), 2u);
  for (const std::string& entry : state) {
    const std::string name = entry.substr(5, entry.find('=') - 5);
    const tarn::Point& held = realm->points.points[name];
    EXPECT_EQ(entry.substr(entry.find('=') + 1), std::string(held.value.begin(), held.value.end()));
  }
}

TEST_F(JournalTest, ConcurrentWritersAllGetTheirRecordsKept) {
  constexpr int kThreads = 8, kEach = 200;
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
      writers.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i)
          ASSERT_TRUE(journal.sync(journal.append(point("", std::to_string(t), std::to_string(i)))));
      });
    for (std::thread& writer : writers) writer.join();
  }
  const std::vector<std::string> seen = replayed();
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const std::string& entry : seen) {
    const int writer = std::stoi(entry.substr(1, entry.find('=') - 1));
    EXPECT_EQ(std::stoi(entry.substr(entry.find('=') + 1)), next[writer]++) << "one writer's records in order";
  }
}

}  // namespace
