// Record lists: the result struct of the operations that return several records.
//
// The caller owns the struct and passes it empty (count 0, items null); the filling operation
// allocates the array and every record in it; Ostrel::DestoryBrennicDataList deletes each record
// and the array and leaves the struct empty. A filler overwrites what the struct held, so
// release a list before filling it again. No lock: one thread at a time uses a list.
#pragma once

#include "ostrel/api/export.h"

class BrennicData;

struct OSTREL_EXPORT BrennicDataList {
  long long reserved = 0;        // not read or written by the library
  int count = 0;                 // number of entries in items
  BrennicData** items = nullptr; // new[]-allocated; each entry a new'd record or null
};

namespace ostrel {

// The one release routine of the record and meta lists: deletes every non-null entry (through
// its virtual destructor), frees the array and leaves the list empty. A null list does nothing.
template <typename Item>
void releaseList(int& count, Item**& items) {
  for (int i = 0; i < count; ++i) {
    delete items[i];
    items[i] = nullptr;
  }
  delete[] items;
  items = nullptr;
  count = 0;
}

}  // namespace ostrel
