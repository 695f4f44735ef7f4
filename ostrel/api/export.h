// Export macro of the Ostrel shared library.
//
// Every exported function, slot object and class carries OSTREL_EXPORT. The library builds with
// hidden visibility by default, so whatever lacks the macro stays inside the library.
#pragma once

#if defined(_WIN32)
#  if defined(OSTREL_BUILDING)
#    define OSTREL_EXPORT __declspec(dllexport)
#  elif defined(OSTREL_STATIC)
#    define OSTREL_EXPORT
#  else
#    define OSTREL_EXPORT __declspec(dllimport)
#  endif
#else
#  define OSTREL_EXPORT __attribute__((visibility("default")))
#endif
