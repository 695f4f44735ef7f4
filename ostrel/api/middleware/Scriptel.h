/// @file
/// The script interpreter library: runs a line-oriented command file against the flat client API.
///
/// runscript(file, args): runs the script in `file` (null or empty: nothing to run, 2040) with
/// the space-separated `args` bound to $1, $2, ...; returns 0 when every line succeeded, else the
/// code of the first failing line (2041 for a line it cannot read). shutScript stops a running
/// script at its next line or wait and returns 0 (2042 when none ran). Thread-safe.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

/// Runs the script in `file` with the arguments `args`: 0, or the first failing line's code.
KXTARN_API int runscript(const char* file, const char* args);
/// Stops the running scripts at their next line or wait: 0, or 2042 when none ran.
KXTARN_API int shutScript();
