// Moving records to and from the data point service's sequences (shared by reads, writes and query).
#pragma once

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/record_lists.h"

class BrennicPartialData;

namespace ostrel {

// Sets list.count to the number of values and, when above 0, allocates the array and one new
// record per value: of type typeNames[i] (or typeName when typeNames is null), named names[i]
// (when given), holding a copy of value i. The list's former contents are not released.
void fillList(BrennicDataList& list, const kxTarn::DATA_BUFFER_SEQ& values, const char* typeName,
              const kxTarn::STRING_LIST* names, const kxTarn::STRING_LIST* typeNames);

// The written paths of `record` and, in parallel, a copy of each path's stored bytes.
void fillFields(const BrennicPartialData& record, kxTarn::STRING_LIST& names, kxTarn::DATA_BUFFER_SEQ& values);

}  // namespace ostrel
