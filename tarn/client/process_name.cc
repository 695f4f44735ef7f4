#if defined(_WIN32)
#  include <winsock2.h>
#endif
#include <unistd.h>

#include <cstring>
#include <string>

#include "ostrel/api/middleware/kxTarn_API.h"

const char* kx_process_name() {
  static const std::string name = [] {
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "?");
    return std::string(host) + ":" + std::to_string(getpid());
  }();
  return name.c_str();
}
