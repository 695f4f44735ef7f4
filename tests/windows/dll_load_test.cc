// ostrel.dll loaded and unloaded at run time, as a plug-in host would: DllMain starts the library
// on attach (ACE, then every slot bound to its default) and the library goes away on detach.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace {

std::string besideThisProgram(const char* file) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

// Ostrel::GetErrorString(int) and Ostrel::IsConnect(const char*), by their exported names.
using ErrorString = const wchar_t* (*)(int);
using IsConnect = int (*)(const char*);
constexpr const char* kErrorString = "_ZN6Ostrel14GetErrorStringEi";
constexpr const char* kIsConnect = "_ZN6Ostrel9IsConnectEPKc";

TEST(DllLoad, AttachStartsTheLibraryAndDetachUnloadsIt) {
  const std::string path = besideThisProgram("ostrel.dll");
  ASSERT_EQ(nullptr, ::GetModuleHandleA("ostrel.dll")) << "this program does not import the library";
  DWORD handlesAfterFirst = 0;
  for (int round = 0; round < 20; ++round) {
    HMODULE library = ::LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, library) << "round " << round << ", error " << ::GetLastError();
    auto errorString = reinterpret_cast<ErrorString>(::GetProcAddress(library, kErrorString));
    auto isConnect = reinterpret_cast<IsConnect>(::GetProcAddress(library, kIsConnect));
    ASSERT_NE(nullptr, errorString);
    ASSERT_NE(nullptr, isConnect);
    // An unbound slot would throw: the calls show that DllMain bound every slot.
    EXPECT_EQ(std::wstring(L"success"), errorString(0)) << "round " << round;
    EXPECT_EQ(2u, sizeof(wchar_t));
    EXPECT_EQ(-1, isConnect("nowhere")) << "a server never connected has no state";
    ASSERT_TRUE(::FreeLibrary(library));
    EXPECT_EQ(nullptr, ::GetModuleHandleA("ostrel.dll")) << "round " << round << ": the library stayed loaded";
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    if (round == 0) handlesAfterFirst = handles;
  }
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  EXPECT_LE(handles, handlesAfterFirst + 10) << "each load and unload leaks handles";
}

}  // namespace
