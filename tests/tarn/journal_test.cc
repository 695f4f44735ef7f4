// The data point journal on its own.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "tarn/server/env.h"
#include "tarn/server/file_io.h"
#include "tarn/server/journal.h"

namespace {

using tarn::Journal;
using tarn::JournalRecord;

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tarn::platformEnv().makeTempFolder("journal_test");
    ASSERT_FALSE(dir_.empty());
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

TEST_F(JournalTest, SyncedRecordsComeBackInOrderAndAnIncompleteLastUnitIsCutOff) {
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

  // A crash's torn tail (part of a header, a whole header and part of the body) is cut off.
  const std::string next = tarn::encodeJournalUnit({point("", "c", "3"), point("", "d", "4")}, 5);
  for (const std::string& tail : {next.substr(0, 2), next.substr(0, 30), next.substr(0, next.size() - 1)}) {
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

// The records of one unit come back all or none, wherever a crash cut the file.
TEST_F(JournalTest, AUnitIsAppliedWholeOrNotAtAll) {
  std::size_t before = 0;
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    ASSERT_TRUE(journal.sync(journal.append(point("", "first", "1"))));
    before = bytes().size();
    std::filesystem::copy_file(file() + ".manifest", dir_ + "/manifest.before");  // as a crash leaves it
    std::mutex table;
    std::lock_guard<std::mutex> hold(table);
    Journal::Unit unit(&journal);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(journal.append(point("", "p" + std::to_string(i), "v")), 0u);
    const std::uint64_t ticket = unit.commit();
    EXPECT_EQ(ticket, 2u) << "one unit, one number";
    ASSERT_TRUE(journal.sync(ticket));
  }
  const std::string good = bytes();
  for (std::size_t cut = before; cut < good.size(); cut += 97) {
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << good.substr(0, cut);
    std::filesystem::remove(file() + ".manifest");  // (overwrite_existing fails on Windows' libstdc++)
    std::filesystem::copy_file(dir_ + "/manifest.before", file() + ".manifest");
    EXPECT_EQ(replayed().size(), 1u) << "cut at " << cut;
  }
  std::ofstream(file(), std::ios::binary | std::ios::trunc) << good;
  EXPECT_EQ(replayed().size(), 301u);
}

// Damage anywhere (a flipped byte in any field of any unit, the last one included, a zeroed or
// overwritten tail) is refused and left as it is, or salvaged on request keeping every other
// unit; so are units out of sequence (a repeat, a step back, a gap).
TEST_F(JournalTest, DamageAndUnitsOutOfSequenceAreRefusedOrSalvagedNeverCut) {
  constexpr int kUnits = 6;
  std::vector<std::size_t> starts;
  for (int i = 0; i < kUnits; ++i) starts.push_back(8 + i * tarn::encodeJournalUnit({point("", "p0", std::string(20, 'a'))}, 1).size());
  std::string good = "TARNJNL2";
  std::vector<std::string> units;
  for (int i = 0; i < kUnits; ++i) {
    units.push_back(tarn::encodeJournalUnit({point("", "p" + std::to_string(i), std::string(20, static_cast<char>('a' + i)))},
                                            static_cast<std::uint64_t>(i + 1)));
    good += units.back();
  }
  std::ofstream(file(), std::ios::binary | std::ios::trunc) << good;
  ASSERT_EQ(replayed().size(), static_cast<std::size_t>(kUnits));

  struct Case {
    std::string what;
    std::string content;
    std::string said;                   // in the refusal
    std::vector<std::string> salvaged;  // the points a salvage keeps
  };
  auto names = [](std::initializer_list<int> kept) {
    std::vector<std::string> out;
    for (int i : kept) out.push_back("p" + std::to_string(i));
    return out;
  };
  auto flipped = [&](int unit, std::size_t offset) {
    std::string damaged = good;
    damaged[starts[unit] + offset] ^= 0x40;
    return damaged;
  };
  std::vector<Case> cases;
  const char* fields[] = {"length", "body checksum", "number", "count", "header checksum", "payload"};
  const std::size_t offsets[] = {1, 5, 9, 17, 21, 30};
  for (int unit : {0, 2, kUnits - 1})
    for (int f = 0; f < 6; ++f) {
      std::vector<std::string> kept;
      for (int i = 0; i < kUnits; ++i)
        if (i != unit) kept.push_back("p" + std::to_string(i));
      const std::size_t after = kUnits - unit - 1;
      cases.push_back({std::string("unit ") + std::to_string(unit) + "'s " + fields[f], flipped(unit, offsets[f]),
                       "offset " + std::to_string(starts[unit]) + " with " + std::to_string(after) + " whole unit",
                       kept});
    }
  cases.push_back({"the last 40 bytes zeroed", good.substr(0, good.size() - 40) + std::string(40, '\0'), "damaged at",
                   names({0, 1, 2, 3, 4})});
  std::vector<std::string> firstHalf;
  for (int i = 0; i < kUnits; ++i)
    if (starts[i] + units[i].size() <= good.size() / 2) firstHalf.push_back("p" + std::to_string(i));
  cases.push_back({"the last half zeroed", good.substr(0, good.size() / 2) + std::string(good.size() - good.size() / 2, '\0'),
                   "damaged at", firstHalf});
  cases.push_back({"a unit repeated", good + units.back(), "repeats the one before it", names({0, 1, 2, 3, 4, 5})});
  cases.push_back({"two units swapped", "TARNJNL2" + units[0] + units[2] + units[1] + units[3],
                   "skips 1 change", names({0, 2, 3})});
  cases.push_back({"an older unit again", "TARNJNL2" + units[0] + units[1] + units[2] + units[1],
                   "steps back from 3", names({0, 1, 2})});
  cases.push_back({"a unit missing", "TARNJNL2" + units[0] + units[2], "skips 1 change", names({0, 2})});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << c.content;
    try {
      Journal journal(dir_);
      journal.replay([](const JournalRecord&) {});
      ADD_FAILURE() << "taken";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(file()), std::string::npos) << message;
      EXPECT_NE(message.find(c.said), std::string::npos) << message;
      EXPECT_NE(message.find("--salvage"), std::string::npos) << message;
    }
    EXPECT_EQ(bytes(), c.content) << "the refused file is left as it is";

    std::vector<std::string> salvaged;
    {
      Journal journal(dir_);
      journal.replay([&](const JournalRecord& r) { salvaged.push_back(r.name); }, true);
      EXPECT_NE(journal.replayNote().find("salvaged"), std::string::npos) << journal.replayNote();
    }
    EXPECT_EQ(salvaged, c.salvaged);
    EXPECT_EQ(replayed().size(), c.salvaged.size()) << "the salvaged journal starts clean";
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().filename().string().rfind("points.journal.damaged-", 0) != 0) continue;
      {
        std::ifstream in(entry.path(), std::ios::binary);  // closed before the remove (Windows)
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.content) << "the damaged file kept whole";
      }
      std::filesystem::remove(entry.path());
      ++aside;
    }
    EXPECT_EQ(aside, 1);
    std::filesystem::remove(file() + ".manifest");  // the next case's file is a new history
  }
}

// The manifest tells a journal that lost committed units (deleted, cut below its tag, cut at a
// unit boundary, replaced by an older copy) from a new one; --salvage starts anyway and says so.
TEST_F(JournalTest, AJournalShorterThanTheManifestIsRefused) {
  std::vector<std::size_t> ends;
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(journal.sync(journal.append(point("", "p" + std::to_string(i), "v"))));
      ends.push_back(bytes().size());
    }
  }
  const std::string good = bytes();
  const std::pair<const char*, std::string> shortened[] = {
      {"deleted", ""}, {"cut below its tag", good.substr(0, 5)}, {"cut at a unit", good.substr(0, ends[1])}};
  for (const auto& c : shortened) {
    SCOPED_TRACE(c.first);
    if (c.second.empty())
      std::filesystem::remove(file());
    else
      std::ofstream(file(), std::ios::binary | std::ios::trunc) << c.second;
    try {
      Journal journal(dir_);
      journal.replay([](const JournalRecord&) {});
      ADD_FAILURE() << "taken";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("records change 4 as committed"), std::string::npos) << e.what();
    }
    {
      Journal journal(dir_);
      journal.replay([](const JournalRecord&) {}, true);
      EXPECT_NE(journal.replayNote().find("started anyway"), std::string::npos) << journal.replayNote();
    }
    EXPECT_NO_THROW(replayed()) << "after a salvage the manifest follows the journal";
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << good;
    std::filesystem::remove(file() + ".manifest");
    ASSERT_EQ(replayed().size(), 4u);
  }
}

// A journal of the earlier format (checksummed records, no units) is read and rewritten as units.
TEST_F(JournalTest, AJournalOfTheEarlierFormatIsReadAndRewritten) {
  std::string earlier = "TARNJNL1";
  for (const char* name : {"a", "b"}) {
    std::string payload(1, '\x01');
    tarn::putBytes(payload, "", 0);
    tarn::putBytes(payload, name, 1);
    tarn::putBytes(payload, "T", 1);
    payload.push_back(1);
    tarn::putBytes(payload, "xy", 2);
    tarn::putU32(earlier, static_cast<std::uint32_t>(payload.size()));
    tarn::putU32(earlier, tarn::crc32(payload.data(), payload.size()));
    earlier += payload;
  }
  std::ofstream(file(), std::ios::binary | std::ios::trunc) << earlier + "\x05";  // and a torn tail
  const std::vector<std::string> expected = {"/a=xy", "/b=xy"};
  EXPECT_EQ(replayed(), expected);
  EXPECT_EQ(bytes().substr(0, 8), "TARNJNL2");
  EXPECT_EQ(replayed(), expected);
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

// Writers go on while compactions write aside: the journal that results replays, in sequence,
// to what the tables hold.
TEST_F(JournalTest, WritersDuringCompactionsKeepTheirChangesInSequence) {
  auto realm = std::make_shared<tarn::RealmState>();
  realm->name = "west";
  {
    Journal journal(dir_);
    journal.replay([](const JournalRecord&) {});
    journal.attach(realm);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
      writers.emplace_back([&, t] {
        const std::string big(8192, static_cast<char>('a' + t));
        for (std::size_t i = 0; i * big.size() * 4 < 3 * Journal::kCompactBytes; ++i) {
          std::uint64_t ticket = 0;
          {
            std::lock_guard<std::mutex> hold(realm->points.mutex);
            const std::string name = std::to_string(t) + "." + std::to_string(i % 3);
            JournalRecord record = point("west", name, big + std::to_string(i));
            realm->points.points[name] = record.point;
            ticket = journal.append(record);
          }
          ASSERT_TRUE(journal.sync(ticket));
        }
      });
    for (std::thread& writer : writers) writer.join();
  }
  EXPECT_LT(bytes().size(), 2 * Journal::kCompactBytes) << "compacted";
  std::map<std::string, std::string> state;
  for (const std::string& entry : replayed()) state[entry.substr(5, entry.find('=') - 5)] = entry.substr(entry.find('=') + 1);
  ASSERT_EQ(state.size(), 12u);
  for (const auto& entry : realm->points.points)
    EXPECT_EQ(state[entry.first], std::string(entry.second.value.begin(), entry.second.value.end())) << entry.first;
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
