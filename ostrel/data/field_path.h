// Field location by path text: the walk shared by records, partial records and the value
// converter. Internal to the library.
//
// A path is segments separated by '.'; each segment is an element name optionally followed by
// one index in brackets ("name" or "name[index]"). '[' and ']' both separate pieces inside a
// segment; empty segments and empty pieces are dropped, so "a..b" is "a.b" and "a[]" is "a".
// The index is a decimal int with an optional sign; anything else throws
// boost::bad_lexical_cast. A path with neither '.' nor '[' is looked up whole as one name.
//
// Pure function of its arguments; does not allocate (except when it throws); safe from any
// thread while the types are not being built.
#pragma once

#include <cstdint>

class TarnDataType;
struct DataVariable;

namespace ostrel {
namespace data {

struct FieldLocation {
  std::uint32_t offset = 0;         // from the start of the record's raw value
  std::uint32_t size = 0;           // bytes: the whole element, or one item with an index
  DataVariable* element = nullptr;  // the last segment's element
};

// 0 and `out` filled, or: kRecordWithoutType (no type), kElementNotFound (a name the current
// type lacks, a null path, or a path without any segment), kIndexOutOfRange (an index outside
// the element's items, or more than one index in a segment), kUntypedElement (the path goes
// through or ends on an element whose type was unknown when it was defined), kInvalidRecord
// (an offset beyond 32 bits, only with malformed types).
int locateField(const TarnDataType* type, const char* path, FieldLocation& out);

}  // namespace data
}  // namespace ostrel
