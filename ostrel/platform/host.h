// The local host's name: the only place the library asks the operating system for it.
//
// May be called from any thread; keeps no state.
#pragma once

#include <string>

namespace ostrel {
namespace platform {

// The host name as the system gives it, at most 255 bytes. When the system cannot say (the
// Windows computer name is tried second), the text read so far, usually empty.
std::string hostName();

#if defined(_WIN32)
// The Windows computer name (GetComputerNameA), which hostName() gives when gethostname cannot
// answer (Winsock not started); empty when it cannot be read.
std::string computerName();
#endif

}  // namespace platform
}  // namespace ostrel
