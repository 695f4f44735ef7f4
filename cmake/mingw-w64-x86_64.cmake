# Cross build for Windows x64 with mingw-w64 (the -posix compilers: the win32 thread model has no
# std::mutex or std::thread). The dependencies come from the SDK folder that
# scripts/install-windows-deps.sh builds; name it with -DOSTREL_WINDOWS_SDK=<folder>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT OSTREL_WINDOWS_SDK)
  set(OSTREL_WINDOWS_SDK ${CMAKE_CURRENT_LIST_DIR}/../build-windows/sdk)
endif()
get_filename_component(OSTREL_WINDOWS_SDK "${OSTREL_WINDOWS_SDK}" ABSOLUTE)
set(OSTREL_WINDOWS_SDK "${OSTREL_WINDOWS_SDK}" CACHE PATH "Windows SDK of the dependencies")
# Try-compile projects get the same SDK.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTREL_WINDOWS_SDK)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${OSTREL_WINDOWS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)   # host tools: omniidl
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
