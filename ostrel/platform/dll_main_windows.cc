// Load-time start of the Windows DLL: on process attach, ACE first, then every slot bound to its
// default. The C run-time has constructed the slots by the time DllMain runs. Thread attach and
// detach and process detach do nothing: a program that unloads the DLL with FreeLibrary ends the
// library with Ostrel::ExitOstrel() first, since its threads cannot be joined under the loader
// lock that DllMain holds.
#if defined(_WIN32)
// ACE's configuration brings in winsock2.h, which must come before windows.h.
#include <ace/Init_ACE.h>

#include <windows.h>

#include "ostrel/api/ostrel.h"

BOOL APIENTRY DllMain(HMODULE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ACE::init();
    OstrelFunc::loadDefault();
  }
  return TRUE;
}
#endif
