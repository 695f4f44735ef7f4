// Commands that run until Ctrl-C or wait interruptibly, the shell's own Ctrl-C, and the local
// time as they print it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

#include "tools/ostrel/tool.h"

namespace tool {
namespace {

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

// Installs onInterrupt for SIGINT (and SIGTERM when oldTerm is given) without SA_RESTART, so a
// blocking read returns; the previous handlers are stored in oldInt and oldTerm. Windows has no
// sigaction: the C run-time's signal() serves Ctrl-C there.
void install(SavedHandler& oldInt, SavedHandler* oldTerm) {
#if defined(_WIN32)
  oldInt = std::signal(SIGINT, onInterrupt);
  if (oldTerm) *oldTerm = std::signal(SIGTERM, onInterrupt);
#else
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  if (oldTerm) sigaction(SIGTERM, &action, oldTerm);
#endif
}

void restore(int signal, const SavedHandler& old) {
#if defined(_WIN32)
  std::signal(signal, old);
#else
  sigaction(signal, &old, nullptr);
#endif
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  interrupted = 0;
  install(oldInt_, nullptr);
}

InterruptCatcher::~InterruptCatcher() { restore(SIGINT, oldInt_); }

bool takeInterrupt() {
  const bool was = interrupted != 0;
  interrupted = 0;
  return was;
}

int waitInterruptibly(int timeoutMs, const std::function<int(int sliceMs)>& attempt) {
  constexpr int kSliceMs = 200;
  SavedHandler oldInt{};
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
  restore(SIGINT, oldInt);
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
  SavedHandler oldInt{}, oldTerm{};
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
  restore(SIGINT, oldInt);
  restore(SIGTERM, oldTerm);
}

namespace {

// `when` as local calendar time, formatted by strftime's `format`.
std::string localText(std::time_t when, const char* format) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char text[48];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

std::string isoTime(std::chrono::system_clock::time_point at) {
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t when = static_cast<std::time_t>(ms / 1000);
  const std::string zone = localText(when, "%z");  // +hhmm
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(ms % 1000));
  const std::string offset = zone.size() == 5 ? zone.substr(0, 3) + ":" + zone.substr(3) : "+00:00";
  return localText(when, "%Y-%m-%dT%H:%M:%S") + millis + offset;
}

std::string clockText(long long seconds) { return localText(static_cast<std::time_t>(seconds), "%H:%M:%S"); }

}  // namespace tool
