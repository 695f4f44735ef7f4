// Filling record lists from the data point service's answers (shared by the reads and the query).
#pragma once

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/record_lists.h"

namespace ostrel {

// Sets list.count to the number of values and, when above 0, allocates the array and one new
// record per value: of type typeNames[i] (or typeName when typeNames is null), named names[i]
// (when given), holding a copy of value i. The list's former contents are not released.
void fillList(BrennicDataList& list, const kxTarn::DATA_BUFFER_SEQ& values, const char* typeName,
              const kxTarn::STRING_LIST* names, const kxTarn::STRING_LIST* typeNames);

}  // namespace ostrel
