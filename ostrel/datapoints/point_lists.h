// Moving records to and from the middleware's value sequences (shared by the data point reads,
// writes and query, and by the event batches).
#pragma once

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/record_lists.h"

class BrennicData;
class BrennicPartialData;
class TarnDataType;

namespace ostrel {

// Gives the empty `record` the type `type` (null: a raw record) and `value`. A value the sequence
// owns, not empty and of exactly the type's size (any size for a raw record), is not copied: the
// record takes its buffer over and `value` is left empty. Any other value is copied, as
// SetRawValue does: into a block of the type's size (the rest zero, a longer value cut), or of
// the value's size for a raw record; `value` is left as it was.
void fillRecord(BrennicData& record, TarnDataType* type, kxTarn::DATA_BUFFER& value);

// Sets list.count to the number of values and, when above 0, allocates the array and one new
// record per value (BrennicData::makeBatch, fillRecord): of type typeNames[i] (or typeName when
// typeNames is null), named names[i] (when given). The type is looked up once per run of equal
// names. The list's former contents are not released.
void fillList(BrennicDataList& list, kxTarn::DATA_BUFFER_SEQ& values, const char* typeName,
              const kxTarn::STRING_LIST* names, const kxTarn::STRING_LIST* typeNames);

// The written paths of `record` and, in parallel, a copy of each path's stored bytes.
void fillFields(const BrennicPartialData& record, kxTarn::STRING_LIST& names, kxTarn::DATA_BUFFER_SEQ& values);

}  // namespace ostrel
