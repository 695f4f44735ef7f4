// The logger: timestamped lines to standard error, or appended to the file named by TARN_LOG.
#include "ostrel/api/middleware/Scribe80.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {
std::mutex logMutex;
}

CScribe* CScribe::instance() {
  static CScribe scribe;
  return &scribe;
}

void CScribe::kx_log(const char* format, ...) {
  if (!format) return;
  char message[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  std::time_t now = std::time(nullptr);
  std::tm local;
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

  std::lock_guard<std::mutex> hold(logMutex);
  const char* path = std::getenv("TARN_LOG");
  FILE* out = path && *path ? std::fopen(path, "a") : nullptr;
  std::fprintf(out ? out : stderr, "%s %s\n", stamp, message);
  if (out) std::fclose(out);
}
