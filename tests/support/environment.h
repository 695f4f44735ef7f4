// Environment variables, the process id and a folder for scratch files, the same way on Linux
// and Windows (the Windows test programs run under wine).
#pragma once

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#  include <process.h>
#else
#  include <unistd.h>
#endif

namespace testing_support {

inline void setEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  ::_putenv_s(name, value);  // an empty value removes the variable there
#else
  ::setenv(name, value, 1);
#endif
}

inline void unsetEnvironment(const char* name) {
#if defined(_WIN32)
  ::_putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

inline int processId() {
#if defined(_WIN32)
  return ::_getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// "<folder for scratch files>/<name>": /tmp on Linux, %TEMP% on Windows.
inline std::string scratchPath(const std::string& name) {
#if defined(_WIN32)
  const char* folder = std::getenv("TEMP");
  return std::string(folder ? folder : ".") + "\\" + name;
#else
  return "/tmp/" + name;
#endif
}

}  // namespace testing_support
