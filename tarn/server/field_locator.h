// Finds the bytes of a field inside a value of a defined type, from its path text, with the
// same grammar that the client's records use, so that every path a record accepts is placed
// here at the same bytes:
//   - segments separated by '.', each an element name optionally followed by one index in
//     brackets: "pumps[2].speed.value"; '[' and ']' both separate the pieces of a segment;
//   - empty segments and empty pieces are dropped: "a..b" is "a.b", "levels[]" is "levels";
//   - an index is a decimal int with an optional sign ("+1", "-0", "0000000001"), in range of
//     the element's items; a segment without an index covers all items of its element;
//   - a path with neither '.' nor '[' is looked up whole, as one element name.
// Pure function of its arguments; safe from any thread.
#pragma once

#include <string>

namespace tarn {

class TypeBook;

struct FieldPlace {
  unsigned offset = 0;
  unsigned size = 0;
};

// 0 and the place of `path` inside a value of `type`; kNoSuchField for a path that does not
// name a field of the type (unknown element, bad or out-of-range index, more than one index in a
// segment, a path through a base type, no segment at all).
int locateField(const TypeBook& types, const std::string& type, const std::string& path, FieldPlace& place);

}  // namespace tarn
