// Commands that run until Ctrl-C, and the local time as they print it.
#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "tools/ostrel/tool.h"

namespace tool {
namespace {

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

}  // namespace

void untilInterrupted(const std::function<void()>& tick, int periodMs) {
  interrupted = 0;
#if defined(_WIN32)
  // No sigaction there; the C run-time's signal() serves Ctrl-C.
  auto oldInt = std::signal(SIGINT, onInterrupt);
  auto oldTerm = std::signal(SIGTERM, onInterrupt);
#else
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction oldInt {}, oldTerm {};
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
#endif
  auto next = std::chrono::steady_clock::now();
  while (!interrupted) {
    if (std::chrono::steady_clock::now() >= next) {
      if (tick) tick();
      next += std::chrono::milliseconds(periodMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
#if defined(_WIN32)
  std::signal(SIGINT, oldInt);
  std::signal(SIGTERM, oldTerm);
#else
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
#endif
}

std::string clockText(long long seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace tool
