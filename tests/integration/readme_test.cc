// The README's terminal sessions (its ```console blocks) run exactly as printed: every "$ " line
// is a command, in one shell per block, with the built tools on the PATH; every other line is
// output that must appear. A block fails at its first command that fails.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

struct Block {
  int line;
  std::vector<std::string> commands, expected;
};

std::vector<Block> consoleBlocks() {
  std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/README.md");
  std::vector<Block> blocks;
  bool inside = false;
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    if (!inside && text == "```console") {
      inside = true;
      blocks.push_back({number, {}, {}});
    } else if (inside && text == "```") {
      inside = false;
    } else if (inside) {
      (text.rfind("$ ", 0) == 0 ? blocks.back().commands : blocks.back().expected).push_back(text.substr(text.rfind("$ ", 0) == 0 ? 2 : 0));
    }
  }
  return blocks;
}

TEST(Readme, TerminalSessionsRunAsPrinted) {
  const std::vector<Block> blocks = consoleBlocks();
  ASSERT_FALSE(blocks.empty());
  const std::string tools = std::string(TARND_PATH).substr(0, std::string(TARND_PATH).rfind('/')) + ":" +
                            std::string(OSTREL_TOOL_PATH).substr(0, std::string(OSTREL_TOOL_PATH).rfind('/'));
  for (const Block& block : blocks) {
    char folder[] = "/tmp/ostrel-readme.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::ostringstream script;
    script << "set -e\ncd " << folder << "\nunset TARN_SETTINGS\nexport PATH=" << tools << ":$PATH\n"
           << "trap 'kill $(jobs -p) 2>/dev/null; cd /; rm -rf " << folder << "' EXIT\n";
    for (const std::string& command : block.commands) script << command << "\n";
    const std::string path = std::string(folder) + ".sh";
    std::ofstream(path) << script.str();
    const testing_support::ToolRun run = testing_support::runTool("", "", "bash " + path + " 2>&1 #");
    EXPECT_EQ(0, run.status) << "README line " << block.line << ":\n" << run.output;
    for (const std::string& line : block.expected)
      EXPECT_TRUE(testing_support::has(run, line)) << "README line " << block.line << " promises '" << line << "':\n" << run.output;
    std::remove(path.c_str());
  }
}

}  // namespace
