#include "ostrel/platform/host.h"

#if defined(_WIN32)
#  include <winsock2.h>
#  include <windows.h>
#  include <cerrno>
#else
#  include <unistd.h>
#endif

namespace ostrel {
namespace platform {

#if defined(_WIN32)
std::string computerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!::GetComputerNameA(name, &size)) {
    errno = static_cast<int>(::GetLastError());
    return std::string();
  }
  return std::string(name, size);
}
#endif

std::string hostName() {
  char name[256] = {};
#if defined(_WIN32)
  if (::gethostname(name, sizeof name) != 0) return computerName();
#else
  ::gethostname(name, sizeof name);
#endif
  name[sizeof name - 1] = '\0';  // a name that filled the buffer need not be terminated
  return name;
}

}  // namespace platform
}  // namespace ostrel
