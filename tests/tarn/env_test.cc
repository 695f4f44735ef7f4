// The server's file system on this platform (tarn/server/env.h): what the journal, the snapshot
// files and the folder lock rely on, the same under Linux and Windows.
#if defined(_WIN32)
#  include <windows.h>
#else
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tarn/server/env.h"
#include "tarn/server/snapshot_file.h"

namespace {

namespace fs = std::filesystem;
using tarn::Env;
using tarn::File;
using tarn::IoFault;
using tarn::OpenFor;

// The id of a process that ran and has ended.
unsigned long endedProcessId() {
#if defined(_WIN32)
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &start, &process))
    return 0;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return process.dwProcessId;
#else
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return static_cast<unsigned long>(child);
#endif
}

std::string contents(File& file) {
  std::uint64_t size = 0;
  EXPECT_TRUE(file.size(size));
  std::string bytes(static_cast<std::size_t>(size), '\0');
  EXPECT_TRUE(size == 0 || file.readAll(0, &bytes[0], bytes.size()));
  return bytes;
}

class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = env_.makeTempFolder("env_test");
    ASSERT_FALSE(dir_.empty()) << tarn::lastIoError().text;
  }
  void TearDown() override { EXPECT_TRUE(env_.removeAll(dir_)); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  Env& env_ = tarn::platformEnv();
  std::string dir_;
};

TEST_F(EnvTest, OpenModesWriteReadAndCutAsTheJournalNeeds) {
  EXPECT_EQ(env_.open(path("missing"), OpenFor::kRead), nullptr);
  EXPECT_EQ(tarn::lastIoError().fault, IoFault::kMissing) << "a snapshot that is not there";

  auto file = env_.open(path("j"), OpenFor::kWrite);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->append("hello ") && file->append(std::string("world")) && file->sync());
  ASSERT_TRUE(file->writeAt(0, "J", 1));
  EXPECT_EQ(contents(*file), "Jello world") << "a write at an offset replaces, an append adds";
  ASSERT_TRUE(file->truncate(5));
  ASSERT_TRUE(file->append("!"));
  EXPECT_EQ(contents(*file), "Jello!") << "an append after a cut goes to the new end";
  char past[4];
  EXPECT_EQ(file->readAt(100, past, sizeof past), 0) << "past the end";
  EXPECT_FALSE(file->readAll(3, past, sizeof past)) << "fewer bytes than asked";
  file.reset();

  file = env_.open(path("j"), OpenFor::kUpdate);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(contents(*file), "Jello!") << "an update open keeps the bytes";
  file = env_.open(path("j"), OpenFor::kWrite);
  EXPECT_EQ(contents(*file), "") << "a write open empties the file";
  file.reset();  // Windows keeps the name of an open file until it closes
  EXPECT_TRUE(env_.remove(path("j")));
  EXPECT_FALSE(env_.remove(path("j")));
  EXPECT_EQ(tarn::lastIoError().fault, IoFault::kMissing);
}

// A reader keeps the bytes it opened while a writer puts a new file in place (a snapshot's reader
// while the snapshot is made again, the journal's compaction).
TEST_F(EnvTest, AReplaceLandsWhileAReaderHoldsTheOldFile) {
  for (const auto& file : {std::make_pair("s", "old"), std::make_pair("s.part", "new!")}) {
    auto out = env_.open(path(file.first), OpenFor::kWrite);
    ASSERT_TRUE(out && out->append(file.second) && out->sync());
  }
  auto reader = env_.open(path("s"), OpenFor::kRead);
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(env_.replace(path("s.part"), path("s"))) << tarn::lastIoError().text;
  env_.syncFolder(dir_);
  EXPECT_EQ(contents(*reader), "old");
  auto again = env_.open(path("s"), OpenFor::kRead);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(contents(*again), "new!");
  EXPECT_EQ(env_.open(path("s.part"), OpenFor::kRead), nullptr) << "the aside name is gone";
  EXPECT_FALSE(env_.replace(path("nothing"), path("s")));
}

// Two servers on one folder: the second one's lock fails at once, and still reads who holds it.
TEST_F(EnvTest, ALockExcludesAnotherHolderUntilItsFileCloses) {
  auto first = env_.open(path("tarnd.lock"), OpenFor::kUpdate);
  ASSERT_TRUE(first && first->lock());
  ASSERT_TRUE(first->writeAt(0, "1234\n", 5));
  auto second = env_.open(path("tarnd.lock"), OpenFor::kUpdate);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(second->lock());
  EXPECT_EQ(tarn::lastIoError().fault, IoFault::kBusy);
  EXPECT_EQ(contents(*second), "1234\n") << "the owner's words stay readable";
  first.reset();
  EXPECT_TRUE(second->lock()) << "the lock goes with the file";
}

TEST_F(EnvTest, ListingsAndProcessesAsTheStartUpSweepSeesThem) {
  ASSERT_TRUE(env_.makeFolder(path("sub")));
  EXPECT_TRUE(env_.makeFolder(path("sub"))) << "a folder that is there";
  for (const char* name : {"a", "sub/b"}) std::ofstream(fs::u8path(path(name))) << "x";
  std::vector<std::string> all, top;
  ASSERT_TRUE(env_.list(dir_, true, all));
  ASSERT_TRUE(env_.list(dir_, false, top));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{"a", "sub/b"})) << "'/'-separated, relative, files only";
  EXPECT_EQ(top, std::vector<std::string>{"a"});
  std::vector<std::string> none;
  EXPECT_FALSE(env_.list(path("missing"), true, none));

  EXPECT_FALSE(env_.processGone(env_.processId()));
  EXPECT_TRUE(env_.processGone(endedProcessId()));
}

#if !defined(_WIN32)
TEST_F(EnvTest, ALinkIsNeitherOpenedNorListed) {
  std::ofstream(path("target")) << "secret";
  fs::create_symlink(path("target"), path("link"));
  EXPECT_TRUE(env_.isLink(path("link")));
  EXPECT_FALSE(env_.isLink(path("target")));
  EXPECT_EQ(env_.open(path("link"), OpenFor::kRead), nullptr);
  EXPECT_EQ(tarn::lastIoError().fault, IoFault::kLink);
  std::vector<std::string> files;
  ASSERT_TRUE(env_.list(dir_, true, files));
  EXPECT_EQ(files, std::vector<std::string>{"target"});
}
#endif

// The names a client may give its snapshot files: on Windows those that would reach another file
// or stream, or a device, are not plain; letter case names one file there.
TEST(EnvNames, PlainNamesAndLetterCaseFollowThePlatform) {
  Env& env = tarn::platformEnv();
  for (const char* name : {"snap", "a.b", "x-1_2", "named-61.snapshot"}) EXPECT_TRUE(env.plainName(name)) << name;
#if defined(_WIN32)
  EXPECT_TRUE(env.foldsCase());
  for (const char* name : {"a\\..\\b", "C:", "file:stream", "NUL", "con.txt", "COM1", "lpt9.x", "dot.", "space ",
                           "a?b", "a*b", "a|b", "a<b", "a\"b", "\x01"})
    EXPECT_FALSE(env.plainName(name)) << name;
  EXPECT_TRUE(env.plainName("COM10")) << "only COM1 to COM9 are devices";
#else
  EXPECT_FALSE(env.foldsCase());
  EXPECT_TRUE(env.plainName("a\\b:c")) << "any byte but '/' is part of a name here";
#endif
}

TEST_F(EnvTest, OnlyAsideFilesOfProcessesThatNoLongerRunAreRemoved) {
  ASSERT_TRUE(env_.makeFolder(path("sub")));
  const std::string dead = std::to_string(endedProcessId()), alive = std::to_string(env_.processId());
  const std::vector<std::pair<std::string, bool>> files = {
      {"a.snap.part-" + dead + "-1", false},
      {"sub/b.snap.part-" + dead + "-7", false},
      {"f.snap.replaced-" + dead + "-3", false},  // displaced while read (Windows)
      {"c.snap.part-" + alive + "-2", true},  // a write in progress
      {"a.snap", true},
      {"d.part-x-1", true},
      {"e.part-" + dead, true},
  };
  for (const auto& file : files) std::ofstream(fs::u8path(path(file.first))) << "x";

  EXPECT_EQ(tarn::removeStaleAsideFiles(dir_), 3u);
  for (const auto& file : files) EXPECT_EQ(fs::exists(fs::u8path(path(file.first))), file.second) << file.first;
  EXPECT_EQ(tarn::removeStaleAsideFiles(path("missing")), 0u);
}

}  // namespace
