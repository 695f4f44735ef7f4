// The terminal sessions of the README and of the documentation pages (their ```console blocks)
// run exactly as printed: every "$ " line
// is a command, in one shell per block, with the built tools on the PATH; the other lines are
// the whole output of the command before them. The session's transcript (each command echoed
// with "$ ", then its standard output and error) must equal the block, time stamps (HH:MM:SS)
// aside. A block ends at its first command that fails.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

struct Block {
  std::string file;  // relative to the source folder
  int line;
  std::vector<std::string> commands;
  std::string text;  // the block as printed
};

// README.md, then every page under docs/ in the order of their paths.
std::vector<std::string> pages() {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(OSTREL_SOURCE_DIR) + "/docs"))
    if (entry.path().extension() == ".md")
      found.push_back(std::filesystem::relative(entry.path(), OSTREL_SOURCE_DIR).string());
  std::sort(found.begin(), found.end());
  found.insert(found.begin(), "README.md");
  return found;
}

void addConsoleBlocks(const std::string& file, std::vector<Block>& blocks) {
  std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/" + file);
  bool inside = false;
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    if (!inside && text == "```console") {
      inside = true;
      blocks.push_back({file, number, {}, ""});
    } else if (inside && text == "```") {
      inside = false;
    } else if (inside) {
      if (text.rfind("$ ", 0) == 0) blocks.back().commands.push_back(text.substr(2));
      blocks.back().text += text + "\n";
    }
  }
}

std::vector<Block> consoleBlocks() {
  std::vector<Block> blocks;
  for (const std::string& file : pages()) addConsoleBlocks(file, blocks);
  return blocks;
}

std::string singleQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string masked(const std::string& text) {
  return std::regex_replace(text, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}"), "HH:MM:SS");
}

TEST(Readme, TerminalSessionsPrintWhatTheBlockShows) {
  const std::vector<Block> blocks = consoleBlocks();
  ASSERT_FALSE(blocks.empty());
  const std::string tools = std::string(TARND_PATH).substr(0, std::string(TARND_PATH).rfind('/')) + ":" +
                            std::string(OSTREL_TOOL_PATH).substr(0, std::string(OSTREL_TOOL_PATH).rfind('/'));
  for (const Block& block : blocks) {
    char folder[] = "/tmp/ostrel-readme.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::ostringstream script;
    script << "set -e\ncd " << folder << "\nunset TARN_SETTINGS\nexport TZ=UTC\nexport PATH=" << tools << ":$PATH\n"
           << "trap 'kill $(jobs -p) 2>/dev/null || true; cd /; rm -rf " << folder << "' EXIT\n";
    for (const std::string& command : block.commands)
      script << "printf '%s\\n' " << singleQuoted("$ " + command) << "\n" << command << "\n";
    const std::string path = std::string(folder) + ".sh";
    std::ofstream(path) << script.str();
    const testing_support::ToolRun run = testing_support::runTool("", "", "bash " + path + " 2>&1 #");
    EXPECT_EQ(0, run.status) << block.file << ":" << block.line << ":\n" << run.output;
    EXPECT_EQ(masked(block.text), masked(run.output)) << block.file << ":" << block.line;
    std::remove(path.c_str());
  }
}

}  // namespace
