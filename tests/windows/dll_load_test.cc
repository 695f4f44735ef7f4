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

// Ostrel::GetErrorString(int), Ostrel::IsConnect(const char*) and Ostrel::ExitOstrel(), by their
// exported names.
using ErrorString = const wchar_t* (*)(int);
using IsConnect = int (*)(const char*);
using ExitOstrel = void (*)();

template <typename F>
F function(HMODULE library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

TEST(DllLoad, AttachBindsEverySlotAndDetachUnloads) {
  const std::string path = besideThisProgram("ostrel.dll");
  ASSERT_EQ(nullptr, ::GetModuleHandleA("ostrel.dll")) << "this program does not import the library";
  DWORD handlesAfterFirst = 0;
  for (int round = 0; round < 20; ++round) {
    HMODULE library = ::LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, library) << "round " << round << ", error " << ::GetLastError();
    auto errorString = function<ErrorString>(library, "_ZN6Ostrel14GetErrorStringEi");
    ASSERT_NE(nullptr, errorString);
    // An unbound slot would throw: the call shows that DllMain bound the slots.
    EXPECT_EQ(std::wstring(L"success"), errorString(0)) << "round " << round;
    ASSERT_TRUE(::FreeLibrary(library));
    EXPECT_EQ(nullptr, ::GetModuleHandleA("ostrel.dll")) << "round " << round << ": the library stayed loaded";
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    if (round == 0) handlesAfterFirst = handles;
    if (round == 19) EXPECT_LE(handles, handlesAfterFirst + 10) << "each load and unload leaks handles";
  }
}

// A library that ran (its connector's monitor thread and the ORB's threads are up) is ended with
// ExitOstrel before FreeLibrary: its threads are gone when the loader unloads it, and the next
// load starts it afresh. (A FreeLibrary while they still run blocks: the unload would wait for
// threads that need the loader to end.)
TEST(DllLoad, ExitOstrelBeforeFreeLibraryUnloadsALibraryThatRan) {
  const std::string path = besideThisProgram("ostrel.dll");
  for (int round = 0; round < 5; ++round) {
    HMODULE library = ::LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(-1, function<IsConnect>(library, "_ZN6Ostrel9IsConnectEPKc")("nowhere"))
        << "a server never connected has no state";
    EXPECT_EQ(std::wstring(L"success"), function<ErrorString>(library, "_ZN6Ostrel14GetErrorStringEi")(0));
    function<ExitOstrel>(library, "_ZN6Ostrel10ExitOstrelEv")();
    ASSERT_TRUE(::FreeLibrary(library));
    EXPECT_EQ(nullptr, ::GetModuleHandleA("ostrel.dll")) << "round " << round;
  }
}

}  // namespace
