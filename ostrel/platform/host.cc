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

std::string hostName() {
  char name[256] = {};
#if defined(_WIN32)
  if (::gethostname(name, sizeof name) != 0) {
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) errno = static_cast<int>(::GetLastError());
  }
#else
  ::gethostname(name, sizeof name);
#endif
  name[sizeof name - 1] = '\0';  // a name that filled the buffer need not be terminated
  return name;
}

}  // namespace platform
}  // namespace ostrel
