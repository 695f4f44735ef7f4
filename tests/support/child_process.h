// A program started with pipes for its standard input and its output, for the tool runner
// (tool_runner.h): on Linux with posix_spawn, on Windows with CreateProcessW and the command line
// quoted for the C run-time's parser. Nothing of a shell is involved.
//
// One thread uses a ChildProcess; its own two threads feed the input and collect the output.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <sys/types.h>
#endif

namespace testing_support {

// A program started with pipes for its standard input and its output (standard output and
// standard error on one pipe). A writer thread feeds the input and closes it; a reader thread
// collects the output until its end. The destructor kills a program that still runs. Not copyable.
class ChildProcess {
 public:
  ChildProcess() = default;  // one that never started: ended, with status -1
  // Starts `program` (on Windows a bare name is a program beside this one) with the arguments
  // `words`, the NAME=value `assignments` added to a copy of this process's environment (on
  // Windows "NAME=" removes the variable), and `input` fed to its standard input. A program that
  // cannot be started fails the test and reads as ended, with status -1.
  ChildProcess(const std::string& program, const std::vector<std::string>& words,
               const std::vector<std::string>& assignments, const std::string& input);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return started_; }
  // Waits until the output holds `text` (true), or its end came or `limit` passed (false).
  bool waitFor(const std::string& text, std::chrono::milliseconds limit);
  // The output so far, with the line ends a text-mode reader sees ("\r\n" is "\n" on Windows).
  std::string output() const;
  bool running() { return started_ && !reap(std::chrono::milliseconds(0)); }
  // The exit status once the program ended and its output was read, within `limit`; else -1. A
  // program ended by a signal gives 128 + its number.
  int wait(std::chrono::milliseconds limit);
  // Ends it at once (SIGKILL, TerminateProcess) and reaps it.
  void kill();
#if !defined(_WIN32)
  void signal(int number);
#endif

 private:
  // Blocks until the program ended or `limit` passed; true when it ended (status_ set).
  bool reap(std::chrono::milliseconds limit);
  // The next bytes of the output into `buffer`; 0 at its end.
  std::size_t read(char* buffer, std::size_t size);
  // The reader thread.
  void collect();
  // REQUIRES: mutex_ held.
  std::string shown() const;

  bool started_ = false;
  bool ended_ = true;
  int status_ = -1;
#if defined(_WIN32)
  void* process_ = nullptr;  // HANDLEs
  void* out_ = nullptr;
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

}  // namespace testing_support
