// The ostrel command-line tool: shared pieces of its commands.
//
// Each command file registers its commands with a static OSTREL_TOOL_COMMANDS(adder) line; the
// adder puts CLI11 subcommands on the app it is given. A subcommand's callback writes to
// tool.out / tool.err and sets tool.rc (0 success, 1 failure of the operation, 2 usage error).
// The same app is built afresh for every command line, in main and in `ostrel shell`.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <csignal>

#include <CLI/CLI.hpp>

#include "ostrel/api/result_codes.h"

namespace tool {

struct Tool {
  Tool(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}
  std::ostream& out;
  std::ostream& err;
  int rc = 0;
  bool inShell = false;
  std::string server;  // the server the command talks to ("" the own one), for messages
};

using Adder = std::function<void(CLI::App&, Tool&)>;

struct Registration {
  explicit Registration(Adder adder);
};

// A step of `ostrel demo`: steps run in ascending order; a step returns false when it failed.
struct DemoStep {
  int order;
  std::string title;
  std::function<bool(Tool&)> run;
};
struct DemoRegistration {
  explicit DemoRegistration(DemoStep step);
};

// Where a command works: --server and --realm, empty for the own server and its default realm
// (a realm diverted earlier in the same shell included).
struct ServerTarget {
  std::string server;
  std::string realm;
  const char* serverOrNull() const { return server.empty() ? nullptr : server.c_str(); }
  const char* realmOrNull() const { return realm.empty() ? nullptr : realm.c_str(); }
};
void addServerOptions(CLI::App* command, ServerTarget& target);
// Connects the target's server; false (and a message, rc 1) when that failed. A command that
// `writes`, run as a process of its own against the embedded server (no TARN_SETTINGS), says
// once on standard error that what it writes ends with it.
bool connectServer(Tool& tool, const ServerTarget& target, bool writes = false);

// Puts every registered command on `app`, writing to `tool`.
void addCommands(CLI::App& app, Tool& tool);

// Candidates for word number `word` of a command line (0: the command) after the words
// `before`: commands, subcommands, options, point names, type names and field paths ("path=").
// Used by the shell's completion and by the bash completion script.
std::vector<std::string> completions(std::size_t word, const std::vector<std::string>& before);

// Takes the program's own options off the front of `args`: --address HOST:PORT (also from
// TARN_ADDRESS) into `address`, --timeout MS into TARN_CALL_TIMEOUT_MS (the bound of every
// remote call, read when the ORB starts). 0, or 2 after a message for a usage error.
int takeProgramOptions(std::vector<std::string>& args, std::string& address);
// Writes a settings file naming one server at `address` at position "own" and points
// TARN_SETTINGS at it; its path (the caller removes it), or "" after a message.
std::string settingsForAddress(const std::string& address);

// Parses and runs one command line (without the program name); returns the exit status.
int run(const std::vector<std::string>& args, Tool& tool);

// `text` cut to about `most` bytes at a character boundary, with "…" when it was longer: names
// echoed in messages stay readable whatever their length.
std::string shortened(const std::string& text, std::size_t most = 80);
// Prints "ostrel: <what>: <code> <text of the code>" to tool.err and sets tool.rc to 1 when
// `code` is nonzero; returns true when it was 0.
bool check(Tool& tool, const std::string& what, int code);
// The help text of the whole program (every command), whatever was parsed.
std::string overview(CLI::App& app);
// The text of a result code as UTF-8.
std::string codeText(int code);

// Calls `tick` at once and then every `periodMs` milliseconds until Ctrl-C (SIGINT) or SIGTERM
// arrives; the previous signal handlers are put back afterwards. `tick` may be empty.
void untilInterrupted(const std::function<void()>& tick, int periodMs);
// The same, ending also when `tick` returns false.
void untilInterruptedOr(const std::function<bool()>& tick, int periodMs);
// While one lives (in `ostrel shell`), Ctrl-C no longer ends the process: it is noted for
// takeInterrupt(), and a blocking read of the terminal returns. Not copyable.
// A signal's handler as it was before the tool put its own.
#if defined(_WIN32)
using SavedHandler = void (*)(int);
#else
using SavedHandler = struct sigaction;
#endif

class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

 private:
  SavedHandler oldInt_;
};
// True when Ctrl-C arrived since the last call.
bool takeInterrupt();

// The result of a wait that Ctrl-C ended (the tool's own; no operation answers it).
constexpr int kInterrupted = -130;
// Runs `attempt(sliceMs)`, a receive or wait of at most sliceMs, again while it answers
// OstrelCode::kNothingReceived, until `timeoutMs` passed (negative: without limit; the last answer is
// returned) or Ctrl-C arrived (kInterrupted). Each slice is at most 200 ms.
int waitInterruptibly(int timeoutMs, const std::function<int(int sliceMs)>& attempt);

// `seconds` since 1970 as local HH:MM:SS.
std::string clockText(long long seconds);
// `at` as local ISO 8601 with milliseconds and zone (2026-12-07T10:49:08.123+01:00), the form of
// every time in the tool's JSON.
std::string isoTime(std::chrono::system_clock::time_point at = std::chrono::system_clock::now());

}  // namespace tool

#define OSTREL_TOOL_CAT2(a, b) a##b
#define OSTREL_TOOL_CAT(a, b) OSTREL_TOOL_CAT2(a, b)
#define OSTREL_TOOL_COMMANDS(adder) \
  static const ::tool::Registration OSTREL_TOOL_CAT(toolRegistration_, __LINE__)(adder)
#define OSTREL_TOOL_DEMO(order, title, ...) \
  static const ::tool::DemoRegistration OSTREL_TOOL_CAT(demoRegistration_, __LINE__)({order, title, __VA_ARGS__})
