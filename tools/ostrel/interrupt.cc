// Commands that run until Ctrl-C or wait interruptibly, the shell's own Ctrl-C, and the local
// time as they print it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "tools/ostrel/tool.h"

namespace tool {
namespace {

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

// Installs onInterrupt for SIGINT (and SIGTERM when oldTerm is given) without SA_RESTART, so a
// blocking read returns; the previous handlers are stored in oldInt and oldTerm.
void install(struct sigaction& oldInt, struct sigaction* oldTerm) {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  if (oldTerm) sigaction(SIGTERM, &action, oldTerm);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  interrupted = 0;
  install(oldInt_, nullptr);
}

InterruptCatcher::~InterruptCatcher() { sigaction(SIGINT, &oldInt_, nullptr); }

bool takeInterrupt() {
  const bool was = interrupted != 0;
  interrupted = 0;
  return was;
}

int waitInterruptibly(int timeoutMs, const std::function<int(int sliceMs)>& attempt) {
  constexpr int kSliceMs = 200;
  struct sigaction oldInt {};
  install(oldInt, nullptr);
  interrupted = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  int rc = OstrelCode::kNothingReceived;
  for (;;) {
    int slice = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left, kSliceMs)));
    }
    rc = attempt(slice);
    if (rc != OstrelCode::kNothingReceived) break;
    if (interrupted) {
      rc = kInterrupted;
      break;
    }
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= end) break;
  }
  interrupted = 0;
  sigaction(SIGINT, &oldInt, nullptr);
  return rc;
}

void untilInterrupted(const std::function<void()>& tick, int periodMs) {
  untilInterruptedOr([&tick] {
    if (tick) tick();
    return true;
  }, periodMs);
}

void untilInterruptedOr(const std::function<bool()>& tick, int periodMs) {
  interrupted = 0;
  struct sigaction oldInt {}, oldTerm {};
  install(oldInt, &oldTerm);
  auto next = std::chrono::steady_clock::now();
  while (!interrupted) {
    if (std::chrono::steady_clock::now() >= next) {
      if (!tick()) break;
      next += std::chrono::milliseconds(periodMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(50, periodMs)));
  }
  interrupted = 0;
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
}

std::string clockText(long long seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace tool
