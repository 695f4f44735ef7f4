/// @file
/// The contender listing: the result structs that Ostrel::GetContenderList fills, host by host.
///
/// The caller owns the ContenderInHostSequence (usually on its stack) and passes it empty; the
/// listing allocates every host, program sequence, program and record in it; the caller releases
/// the whole listing with Ostrel::DestoryContenderInHostSequence alone, which leaves it empty (a
/// second call does nothing). Each sequence release calls the single-element release of its
/// entries through the façade, so a replaced slot is honoured there too. The listing overwrites
/// what the struct held, so release a listing before filling it again. No lock: one thread at a
/// time uses a listing.
///
/// Names that do not fit their fields are cut at a whole UTF-8 character and stay NUL-terminated.
/// What value1, value2 and value3 carry belongs to the contention service (the stand-in: start
/// time, last beat, 1 for the active contender of its name).
#pragma once

#include "ostrel/api/export.h"

class BrennicData;

/// One contending program of a host. Its record belongs to it: DestoryProgramStatus deletes it.
struct OSTREL_EXPORT ProgramStatus {
  char name[512] = {};          ///< the contender's name, NUL-terminated
  long long value1 = 0;         ///< the service's first value (the stand-in: start time)
  long long value2 = 0;         ///< the service's second value (the stand-in: last beat)
  int value3 = 0;               ///< the service's third value (the stand-in: 1 for the active one)
  BrennicData* data = nullptr;  ///< the contender's registered record, or null
};

/// The programs of one host; DestoryProgramStatusSequence releases its entries.
struct OSTREL_EXPORT ProgramStatusSequence {
  int count = 0;                    ///< number of entries in `items`
  ProgramStatus** items = nullptr;  ///< new[]-allocated; each entry a new'd status or null
};

/// One host of the listing with its programs; DestoryContenderInHost releases the programs.
struct OSTREL_EXPORT ContenderInHost {
  char hostName[128] = {};                  ///< NUL-terminated
  ProgramStatusSequence* programs = nullptr; ///< null when the service reports no program
};

/// The whole listing, filled by Ostrel::GetContenderList and released with
/// Ostrel::DestoryContenderInHostSequence alone.
struct OSTREL_EXPORT ContenderInHostSequence {
  ContenderInHost** items = nullptr;  ///< new[]-allocated; each entry a new'd host or null
  int count = 0;                      ///< number of entries in `items`
};
