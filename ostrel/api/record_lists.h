/// @file
/// Record lists: the result struct of the operations that return several records, and the meta
/// list that BrennicData::GetMetaDataList fills with one text item per element.
///
/// The caller owns the struct and passes it empty (count 0, items null); the filling operation
/// allocates the array and every record in it; Ostrel::DestoryBrennicDataList deletes each record
/// and the array and leaves the struct empty. A filler overwrites what the struct held, so
/// release a list before filling it again. No lock: one thread at a time uses a list.
///
/// A BrennicMetaList releases itself: its destructor calls Ostrel::DestoryBrennicMetaList, and
/// GetMetaDataList releases what it held before filling it again. Releasing twice is harmless.
#pragma once

#include "ostrel/api/export.h"

class BrennicData;
struct BrennicMetaData;

/// Records filled by GetDataPointN, GetDataPointByTypeName, QueryDataPoint and the multi-receives
/// (ReceiveEventN, ReceiveUndefinedEventN); released with Ostrel::DestoryBrennicDataList. A plain
/// struct: a copy shares the records, so release only one of the copies.
struct OSTREL_EXPORT BrennicDataList {
  long long reserved = 0;        ///< not read or written by the library
  int count = 0;                 ///< number of entries in items
  BrennicData** items = nullptr; ///< new[]-allocated; each entry a new'd record or null
};

/// One text item per element of a record's type (BrennicData::GetMetaDataList). Neither
/// copyable nor movable: the items belong to this one list, and a copy would free them twice.
struct OSTREL_EXPORT BrennicMetaList {
  /// Empty: count 0, items null.
  BrennicMetaList();
  /// Releases the items through the façade, Ostrel::DestoryBrennicMetaList (a replaced slot is
  /// honoured); should the slot throw (an empty slot), the default release runs instead.
  virtual ~BrennicMetaList();
  BrennicMetaList(const BrennicMetaList&) = delete;
  BrennicMetaList& operator=(const BrennicMetaList&) = delete;

  int count;                 ///< number of entries in items
  BrennicMetaData** items;   ///< new[]-allocated; each entry a new'd item or null
};

namespace ostrel {

/// The one release routine of the record and meta lists: deletes every non-null entry (through
/// its virtual destructor), frees the array and leaves the list empty. A list whose count does
/// not match its array (a null array with a positive count) is emptied without reading it.
template <typename Item>
void releaseList(int& count, Item**& items) {
  if (items != nullptr) {
    for (int i = 0; i < count; ++i) {
      delete items[i];
      items[i] = nullptr;
    }
  }
  delete[] items;
  items = nullptr;
  count = 0;
}

}  // namespace ostrel
