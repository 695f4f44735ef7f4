// Runs the built ostrel tool as a person would from a shell: with arguments, optional standard
// input and extra environment, capturing standard output and standard error together.
//
// Arguments are written as for a POSIX shell, and only this much of it: words split at blanks,
// 'single' quotes, "double" quotes (in which a backslash escapes only " \ $ ` and a newline) and
// a backslash before any other character. Redirections, pipes, lists, expansions, globs and
// comments are refused as a test failure: a test says what it means through the parameters here.
// On Linux the command runs through sh, as the words say; on Windows the words are quoted for the
// command line that the C run-time parses back (CreateProcessW), with no shell in between.
//
// `env` holds NAME=value words added to a copy of this process's environment; "NAME=" means
// none: an empty variable on Linux, none at all on Windows (the tool and the middleware read both
// as unset). On Linux `env` is put before the command as shell text, which some Linux-only tests
// use to start other programs; on Windows only NAME=value words are accepted.
//
// On Windows the output's line ends are read back as "\n" (the tool writes its text mode's
// "\r\n"), and a run that has not ended within two minutes is killed and fails its test.
// The functions may be called from several threads at once; a ToolProcess is used by one.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct ToolRun {
  int status;          // the exit status (-1 when the tool did not exit normally)
  std::string output;  // standard output and standard error together
};

// Runs the tool (OSTREL_TOOL_PATH) with `args`, feeds `input` to its standard input and waits for
// its end.
ToolRun runTool(const std::string& args, const std::string& input = "", const std::string& env = "");
// The same with another program (a path, or on Windows a name of a program beside this one).
ToolRun runProgram(const std::string& program, const std::string& args, const std::string& input = "",
                   const std::string& env = "");

inline bool has(const ToolRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

// The `env` of a run on the embedded server: no settings file and no address.
inline constexpr char kEmbeddedServer[] = "TARN_SETTINGS= TARN_ADDRESS=";

// `text` as one shell word (in single quotes): a path or a value put into `args` or `env`.
std::string shellWord(const std::string& text);

// One run of the tool (or another program) and what it must answer: its exit status and texts
// its output holds.
struct ToolCase {
  std::string args;
  int status;
  std::vector<std::string> texts;
  std::string input = "";
};
// Runs each case with `env` and checks its status and texts.
void expectRuns(const std::vector<ToolCase>& cases, const std::string& env = "");
void expectProgramRuns(const std::string& program, const std::vector<ToolCase>& cases, const std::string& env = "");

class ChildProcess;

// One tool process that runs until it ends or is ended (`ostrel web`, `ostrel contend`), its
// output collected as it comes. The destructor kills it if it still runs. Not copyable.
class ToolProcess {
 public:
  // Starts the tool with `args`; `env` and `input` as for runTool. A tool that cannot be started
  // fails the test and reads as ended.
  explicit ToolProcess(const std::string& args, const std::string& env = "", const std::string& input = "");
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Waits until the output holds `text` (true), or the tool ended or `limit` passed (false).
  bool waitFor(const std::string& text, std::chrono::milliseconds limit);
  // Standard output and standard error so far.
  std::string output() const;
  bool running();
  // Its exit status once it ended, within `limit`; -1 while it still runs. A tool ended by a
  // signal gives 128 + the signal's number, as a shell says it.
  int wait(std::chrono::milliseconds limit);
  // Ends it at once (SIGKILL, TerminateProcess), as a crash would.
  void kill();
#if !defined(_WIN32)
  // Ctrl-C (SIGINT), then its exit status within `limit` (wait).
  int interrupt(std::chrono::milliseconds limit);
#endif

 private:
  std::unique_ptr<ChildProcess> child_;
};

}  // namespace testing_support
