// Aside files left by a writer that was killed before its rename.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tarn/server/snapshot_file.h"

namespace fs = std::filesystem;

TEST(AsideFilesTest, OnlyThoseOfProcessesThatNoLongerRunAreRemoved) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);

  const fs::path folder = fs::temp_directory_path() / ("aside-" + std::to_string(::getpid()));
  fs::create_directories(folder / "sub");
  const std::string dead = std::to_string(gone), alive = std::to_string(::getpid());
  const std::vector<std::pair<fs::path, bool>> files = {
      {folder / ("a.snap.part-" + dead + "-1"), false},
      {folder / "sub" / ("b.snap.part-" + dead + "-7"), false},
      {folder / ("c.snap.part-" + alive + "-2"), true},  // a write in progress
      {folder / "a.snap", true},
      {folder / "d.part-x-1", true},
      {folder / ("e.part-" + dead), true},
  };
  for (const auto& file : files) std::ofstream(file.first) << "x";

  EXPECT_EQ(tarn::removeStaleAsideFiles(folder.string()), 2u);
  for (const auto& file : files) EXPECT_EQ(fs::exists(file.first), file.second) << file.first;
  EXPECT_EQ(tarn::removeStaleAsideFiles((folder / "missing").string()), 0u);
  fs::remove_all(folder);
}
