#include "tests/support/tool_runner.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <pthread.h>
#  include <signal.h>
#  include <spawn.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#if !defined(_WIN32)
extern char** environ;
#endif

namespace testing_support {

namespace {

// A run that has not ended by then hangs; on Linux ctest's own limit ends the test instead.
constexpr std::chrono::minutes kRunLimit{2};
// How long the output may go on after the program ended (nothing else holds its pipe).
constexpr std::chrono::seconds kOutputLimit{5};

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

// A program started with pipes for its standard input and its output (standard output and
// standard error on one pipe). A writer thread feeds the input and closes it; a reader thread
// collects the output until its end. Not copyable.
class ChildProcess {
 public:
  ChildProcess() = default;  // one that never started: ended, with status -1
  ChildProcess(const std::string& program, const std::vector<std::string>& words,
               const std::vector<std::string>& assignments, const std::string& input);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return started_; }
  bool waitFor(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    bool found = false;
    changed_.wait_for(hold, limit, [&] { return (found = shown().find(text) != std::string::npos) || closed_; });
    return found;
  }
  std::string output() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return shown();
  }
  bool running() { return started_ && !reap(std::chrono::milliseconds(0)); }
  // The exit status once the program ended and its output was read, within `limit`; else -1.
  int wait(std::chrono::milliseconds limit);
  void kill();
#if !defined(_WIN32)
  void signal(int number) {
    if (started_ && !ended_) ::kill(pid_, number);
  }
#endif

 private:
  // Blocks until the program ended or `limit` passed; true when it ended (status_ set).
  bool reap(std::chrono::milliseconds limit);
  // The next bytes of the output into `buffer`; 0 at its end.
  std::size_t read(char* buffer, std::size_t size);
  void collect() {
    char buffer[4096];
    for (std::size_t n; (n = read(buffer, sizeof buffer)) > 0;) {
      std::lock_guard<std::mutex> hold(mutex_);
      output_.append(buffer, n);
      changed_.notify_all();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  // REQUIRES: mutex_ held. The output with the line ends a text-mode reader sees.
  std::string shown() const {
#if defined(_WIN32)
    std::string text;
    for (std::size_t i = 0; i < output_.size(); ++i)
      if (output_[i] != '\r' || i + 1 == output_.size() || output_[i + 1] != '\n') text += output_[i];
    return text;
#else
    return output_;
#endif
  }

  bool started_ = false;
  bool ended_ = true;
  int status_ = -1;
#if defined(_WIN32)
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
#else
  pid_t pid_ = -1;
  int out_ = -1;
#endif
  std::thread writer_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;  // GUARDED_BY(mutex_)
  bool closed_ = true;  // GUARDED_BY(mutex_): the output's end was read
};

int ChildProcess::wait(std::chrono::milliseconds limit) {
  if (!started_) return -1;
  if (!reap(limit)) return -1;
  std::unique_lock<std::mutex> hold(mutex_);
  if (!changed_.wait_for(hold, kOutputLimit, [this] { return closed_; }))
    ADD_FAILURE() << "the output went on after the program ended";
  return status_;
}

ChildProcess::~ChildProcess() {
  if (started_ && !ended_) kill();
  if (writer_.joinable()) writer_.join();
  if (reader_.joinable()) reader_.join();
#if defined(_WIN32)
  if (process_) CloseHandle(process_);
  if (out_) CloseHandle(out_);
#else
  if (out_ >= 0) ::close(out_);
#endif
}

#if defined(_WIN32)

namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
  return text;
}

// `arg` written so that the C run-time's parser (and CommandLineToArgvW) reads it back as it is:
// in quotes when it is empty or holds a blank or a quote, a quote escaped by a backslash, and
// the backslashes before a quote (the closing one included) doubled.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring text = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    for (; i < arg.size() && arg[i] == L'\\'; ++i) ++backslashes;
    if (i == arg.size()) {
      text.append(backslashes * 2, L'\\');
      break;
    }
    text.append(arg[i] == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    text += arg[i];
  }
  return text + L"\"";
}

// A copy of this process's environment block with `assignments` applied: names compare without
// case, as Windows compares them, and "NAME=" removes the variable.
std::wstring environmentBlock(const std::vector<std::string>& assignments) {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) entries.emplace_back(entry);
  FreeEnvironmentStringsW(block);
  for (const std::string& assignment : assignments) {
    const std::wstring text = wide(assignment);
    const std::wstring prefix = text.substr(0, text.find(L'=') + 1);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::wstring& entry) {
                                   return _wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()) == 0;
                                 }),
                  entries.end());
    if (text.size() > prefix.size()) entries.push_back(text);
  }
  std::wstring joined;
  for (const std::wstring& entry : entries) joined += entry + L'\0';
  joined += L'\0';
  if (entries.empty()) joined += L'\0';
  return joined;
}

// `program` as a path: a bare name is a program beside this one.
std::wstring programPath(const std::string& program) {
  if (program.find_first_of("\\/:") != std::string::npos) return wide(program);
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + wide(program);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& words,
                           const std::vector<std::string>& assignments, const std::string& input) {
  const std::wstring path = programPath(program);
  std::wstring line = L"\"" + path + L"\"";  // the program's own name is read up to its closing quote
  for (const std::string& word : words) line += L" " + quoted(wide(word));
  std::wstring environment = environmentBlock(assignments);
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, nullptr, 0) || !CreatePipe(&inRead, &inWrite, nullptr, 0)) {
    ADD_FAILURE() << "no pipe for " << program << ": error " << GetLastError();
    for (HANDLE h : {outRead, outWrite, inRead, inWrite})
      if (h) CloseHandle(h);
    return;
  }
  PROCESS_INFORMATION info{};
  BOOL made = FALSE;
  {
    // The child's ends are inheritable only while it is made: a program started by another
    // thread meanwhile would hold them too, and this output would never end.
    static std::mutex starting;
    std::lock_guard<std::mutex> hold(starting);
    SetHandleInformation(outWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(inRead, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    made = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(), nullptr, &startup, &info);
    CloseHandle(outWrite);
    CloseHandle(inRead);
  }
  if (!made) {
    ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
    CloseHandle(outRead);
    CloseHandle(inWrite);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  out_ = outRead;
  started_ = true;
  ended_ = false;
  closed_ = false;
  writer_ = std::thread([inWrite, input] {
    DWORD written = 0;
    for (std::size_t at = 0; at < input.size(); at += written)
      if (!WriteFile(inWrite, input.data() + at, static_cast<DWORD>(std::min<std::size_t>(input.size() - at, 65536)),
                     &written, nullptr))
        break;  // the program closed its input
    CloseHandle(inWrite);
  });
  reader_ = std::thread([this] { collect(); });
}

std::size_t ChildProcess::read(char* buffer, std::size_t size) {
  DWORD got = 0;
  return ReadFile(out_, buffer, static_cast<DWORD>(size), &got, nullptr) ? got : 0;
}

bool ChildProcess::reap(std::chrono::milliseconds limit) {
  if (ended_) return true;
  if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  status_ = static_cast<int>(code);
  ended_ = true;
  return true;
}

void ChildProcess::kill() {
  if (!started_ || ended_) return;
  TerminateProcess(process_, 128 + 9);  // the status a shell gives a program ended by SIGKILL
  WaitForSingleObject(process_, INFINITE);
  status_ = 128 + 9;
  ended_ = true;
}

#else

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& words,
                           const std::vector<std::string>& assignments, const std::string& input) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  for (const std::string& assignment : assignments) {
    const std::string prefix = assignment.substr(0, assignment.find('=') + 1);
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const std::string& entry) { return entry.compare(0, prefix.size(), prefix) == 0; }),
                      environment.end());
    environment.push_back(assignment);
  }
  std::vector<std::string> args = {program};
  args.insert(args.end(), words.begin(), words.end());
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  for (std::string& entry : environment) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  // Every end is closed on exec: a program started by another thread keeps none of them.
  int outPipe[2], inPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipe for " << program << ": " << std::strerror(errno);
    return;
  }
  if (::pipe2(inPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipe for " << program << ": " << std::strerror(errno);
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDERR_FILENO);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(inPipe[0]);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
    ::close(outPipe[0]);
    ::close(inPipe[1]);
    return;
  }
  out_ = outPipe[0];
  started_ = true;
  ended_ = false;
  closed_ = false;
  writer_ = std::thread([in = inPipe[1], input] {
    // A program that closed its input makes the write fail with EPIPE; the signal that comes
    // with it is blocked in this thread and dies with it.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    for (std::size_t at = 0; at < input.size();) {
      const ssize_t n = ::write(in, input.data() + at, input.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(in);
  });
  reader_ = std::thread([this] { collect(); });
}

std::size_t ChildProcess::read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(out_, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return 0;
  }
}

bool ChildProcess::reap(std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!ended_) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      ended_ = true;
    } else if (std::chrono::steady_clock::now() >= until) {
      return false;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

void ChildProcess::kill() {
  if (!started_ || ended_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = 128 + SIGKILL;
  ended_ = true;
}

#endif

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
