/// @file
/// Export macro of the Ostrel shared library.
///
/// Every exported function, slot object and class carries OSTREL_EXPORT. The library builds with
/// hidden visibility by default, so whatever lacks the macro stays inside the library.
#pragma once

/// @def OSTREL_EXPORT
/// Marks what the shared library exports: dllexport while the DLL builds, dllimport for its
/// users, nothing for the static library (OSTREL_STATIC); default visibility elsewhere.
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
