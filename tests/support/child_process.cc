#include "tests/support/child_process.h"

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
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#if !defined(_WIN32)
extern char** environ;
#endif

namespace testing_support {

namespace {
// How long the output may go on after the program ended (nothing else holds its pipe).
constexpr std::chrono::seconds kOutputLimit{5};
}  // namespace

bool ChildProcess::waitFor(const std::string& text, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  bool found = false;
  changed_.wait_for(hold, limit, [&] { return (found = shown().find(text) != std::string::npos) || closed_; });
  return found;
}

std::string ChildProcess::output() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return shown();
}

std::string ChildProcess::shown() const {
#if defined(_WIN32)
  std::string text;
  for (std::size_t i = 0; i < output_.size(); ++i)
    if (output_[i] != '\r' || i + 1 == output_.size() || output_[i + 1] != '\n') text += output_[i];
  return text;
#else
  return output_;
#endif
}

void ChildProcess::collect() {
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

void ChildProcess::signal(int number) {
  if (started_ && !ended_) ::kill(pid_, number);
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

}  // namespace testing_support
