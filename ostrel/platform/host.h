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

}  // namespace platform
}  // namespace ostrel
