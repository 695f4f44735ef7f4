// The script interpreter library: runs a line-oriented command file against the flat client API.
//
// runscript(file, args): runs the script in `file` (null or empty: nothing to run, 2040) with
// the space-separated `args` bound to $1, $2, ...; returns 0 when every line succeeded, else the
// code of the first failing line (2041 for a line it cannot read). shutScript stops a running
// script at its next line or wait and returns 0 (2042 when none ran). Thread-safe.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

KXTARN_API int runscript(const char* file, const char* args);
KXTARN_API int shutScript();
