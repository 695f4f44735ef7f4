#include "tests/support/tool_runner.h"

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

namespace testing_support {

#if defined(_WIN32)
// The tool's tests drive it through a POSIX shell (environment prefixes, timeout): they run on
// Linux, and a Windows program that reaches one fails it.
ToolRun runTool(const std::string& args, const std::string&, const std::string&) {
  ADD_FAILURE() << "the ostrel tool is tested on Linux only: " << args;
  return ToolRun{-1, ""};
}
#else

ToolRun runTool(const std::string& args, const std::string& input, const std::string& env) {
  static std::atomic<int> counter{0};  // tests run the tool from several threads
  const std::string inputPath =
      "/tmp/ostrel-tool-input-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::ofstream(inputPath) << input;
  const std::string command = env + " " + OSTREL_TOOL_PATH + " " + args + " < " + inputPath + " 2>&1";
  ToolRun run{0, ""};
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pipe ? pclose(pipe) : -1;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::remove(inputPath.c_str());
  return run;
}
#endif

void expectRuns(const std::vector<ToolCase>& cases, const std::string& env) {
  for (const ToolCase& c : cases) {
    const ToolRun run = runTool(c.args, c.input, env);
    EXPECT_EQ(c.status, run.status) << c.args << "\n" << run.output;
    for (const std::string& text : c.texts) EXPECT_TRUE(has(run, text)) << c.args << "\n" << run.output;
  }
}

}  // namespace testing_support
