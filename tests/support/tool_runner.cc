#include "tests/support/tool_runner.h"

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace testing_support {

namespace {

// A run that has not ended by then hangs; on Linux ctest's own limit ends the test instead.
constexpr std::chrono::minutes kRunLimit{2};

// `text` split into words as a POSIX shell splits the arguments of a simple command, for the
// part of the shell that tool_runner.h names; false with `error` for anything beyond it.
bool splitWords(const std::string& text, std::vector<std::string>& words, std::string& error) {
  auto refuse = [&](const std::string& what) {
    error = what + " is beyond what the tool runner takes: " + text;
    return false;
  };
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'') {
      const std::size_t end = text.find('\'', i + 1);
      if (end == std::string::npos) return refuse("an unclosed '");
      word += text.substr(i + 1, end - i - 1);
      i = end;
      inWord = true;
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i == text.size()) return refuse("an unclosed \"");
        if (text[i] == '"') break;
        if (text[i] == '$' || text[i] == '`') return refuse("an expansion");
        if (text[i] == '\\' && i + 1 < text.size() && std::strchr("\"\\$`\n", text[i + 1]) != nullptr) {
          if (text[++i] != '\n') word += text[i];  // a backslash and a newline join lines
          continue;
        }
        word += text[i];
      }
      inWord = true;
    } else if (c == '\\') {
      if (i + 1 == text.size()) return refuse("a backslash at the end");
      if (text[++i] == '\n') continue;
      word += text[i];
      inWord = true;
    } else if (std::strchr("|&;<>()$`*?[", c) != nullptr || ((c == '#' || c == '~') && !inWord)) {
      return refuse(std::string("the shell's '") + c + "'");
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

// `env` as NAME=value words; false with `error` for anything else.
bool splitAssignments(const std::string& env, std::vector<std::string>& assignments, std::string& error) {
  if (!splitWords(env, assignments, error)) return false;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const bool named = !name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) == 0 &&
                       std::all_of(name.begin(), name.end(), [](char c) { return c == '_' || std::isalnum(static_cast<unsigned char>(c)); });
    if (equals == std::string::npos || !named) {
      error = "'" + assignment + "' is not NAME=value: the environment of a tool run takes no shell text";
      return false;
    }
  }
  return true;
}

}  // namespace

#if defined(_WIN32)

ToolRun runProgram(const std::string& program, const std::string& args, const std::string& input,
                   const std::string& env) {
  std::vector<std::string> words, assignments;
  std::string error;
  if (!splitWords(args, words, error) || !splitAssignments(env, assignments, error)) {
    ADD_FAILURE() << error;
    return ToolRun{-1, ""};
  }
  ChildProcess child(program, words, assignments, input);
  int status = child.wait(kRunLimit);
  if (status == -1 && child.started()) {
    ADD_FAILURE() << program << " " << args << ": still running after " << kRunLimit.count() << " minutes";
    child.kill();
  }
  return ToolRun{status, child.output()};
}

#else

ToolRun runProgram(const std::string& program, const std::string& args, const std::string& input,
                   const std::string& env) {
  // The shell splits the words; the same text must split as it does on Windows.
  std::vector<std::string> words;
  std::string error;
  if (!splitWords(args, words, error)) {
    ADD_FAILURE() << error;
    return ToolRun{-1, ""};
  }
  static std::atomic<int> counter{0};  // tests run the tool from several threads
  const std::string inputPath =
      "/tmp/ostrel-tool-input-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::ofstream(inputPath) << input;
  const std::string command = env + " " + program + " " + args + " < " + inputPath + " 2>&1";
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

ToolRun runTool(const std::string& args, const std::string& input, const std::string& env) {
  return runProgram(OSTREL_TOOL_PATH, args, input, env);
}

std::string shellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

void expectProgramRuns(const std::string& program, const std::vector<ToolCase>& cases, const std::string& env) {
  for (const ToolCase& c : cases) {
    const ToolRun run = runProgram(program, c.args, c.input, env);
    EXPECT_EQ(c.status, run.status) << c.args << "\n" << run.output;
    for (const std::string& text : c.texts) EXPECT_TRUE(has(run, text)) << c.args << "\n" << run.output;
  }
}

void expectRuns(const std::vector<ToolCase>& cases, const std::string& env) {
  expectProgramRuns(OSTREL_TOOL_PATH, cases, env);
}

ToolProcess::ToolProcess(const std::string& args, const std::string& env, const std::string& input) {
  std::vector<std::string> words, assignments;
  std::string error;
  if (splitWords(args, words, error) && splitAssignments(env, assignments, error)) {
    child_ = std::make_unique<ChildProcess>(OSTREL_TOOL_PATH, words, assignments, input);
  } else {
    ADD_FAILURE() << error;
    child_ = std::make_unique<ChildProcess>();
  }
}

ToolProcess::~ToolProcess() = default;

bool ToolProcess::waitFor(const std::string& text, std::chrono::milliseconds limit) {
  return child_->waitFor(text, limit);
}

std::string ToolProcess::output() const { return child_->output(); }

bool ToolProcess::running() { return child_->running(); }

int ToolProcess::wait(std::chrono::milliseconds limit) { return child_->wait(limit); }

void ToolProcess::kill() { child_->kill(); }

#if !defined(_WIN32)
int ToolProcess::interrupt(std::chrono::milliseconds limit) {
  child_->signal(SIGINT);
  return child_->wait(limit);
}
#endif

}  // namespace testing_support
