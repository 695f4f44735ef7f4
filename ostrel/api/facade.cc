// The façade and the slots, generated from the operation table, and the library's load-time start.
#include <ace/Init_ACE.h>

#include "ostrel/api/ostrel.h"

#define OSTREL_OP(R, Name, Slot, Params, Args) \
  R Ostrel::Name Params { return OstrelFunc::Slot Args; }
#define OSTREL_OP2(R, Name, Slot, FacadeParams, SlotParams, Args) \
  R Ostrel::Name FacadeParams { return OstrelFunc::Slot Args; }
#include "ostrel/api/operations.def"
#undef OSTREL_OP2
#undef OSTREL_OP

#define OSTREL_OP(R, Name, Slot, Params, Args) boost::function<R Params> OstrelFunc::Slot;
#include "ostrel/api/operations.def"
#undef OSTREL_OP

void OstrelFunc::loadDefault() {
#define OSTREL_OP(R, Name, Slot, Params, Args) \
  OstrelFunc::Slot = static_cast<R(*) Params>(&OstrelOrigin::Name);
#include "ostrel/api/operations.def"
#undef OSTREL_OP
}

// Load-time start: ACE first, then every slot bound to its default. Defined after the slots in
// this file, so the slots are constructed before it runs (one translation unit keeps its order).
// On Windows DllMain does the same on process attach (ostrel/platform/dll_main_windows.cc);
// a program that links the library statically there (OSTREL_STATIC) starts it here as well.
#if !defined(_WIN32) || defined(OSTREL_STATIC)
namespace {
struct LibraryEntry {
  LibraryEntry() {
    ACE::init();
    OstrelFunc::loadDefault();
  }
};
const LibraryEntry libraryEntry;
}  // namespace
#endif
