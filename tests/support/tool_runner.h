// Runs the built ostrel tool as a person would from a shell: with arguments, optional standard
// input and extra environment, capturing standard output and standard error together.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ToolRun {
  int status;          // the exit status (-1 when the tool did not exit normally)
  std::string output;  // standard output and standard error together
};

// `args` and `env` ("NAME=value ...") are shell text; `input` is fed to standard input.
ToolRun runTool(const std::string& args, const std::string& input = "", const std::string& env = "");

inline bool has(const ToolRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

// One run of the tool and what it must answer: its exit status and texts its output holds.
struct ToolCase {
  std::string args;
  int status;
  std::vector<std::string> texts;
  std::string input = "";
};
// Runs each case with `env` and checks its status and texts.
void expectRuns(const std::vector<ToolCase>& cases, const std::string& env = "");

}  // namespace testing_support
