// Finds the bytes of a field inside a value of a defined type, from its path text:
// element names joined by '.', each with at most one "[index]" (a decimal item number).
// "pump.flow[2]" is item 2 of element "flow" of the nested element "pump". A segment without
// an index covers all items of its element.
#pragma once

#include <string>

namespace tarn {

class TypeBook;

struct FieldPlace {
  unsigned offset = 0;
  unsigned size = 0;
};

// 0 and the place of `path` inside a value of `type`; kNoSuchField for a path that does not
// name a field of the type (unknown element, bad index, malformed text).
int locateField(const TypeBook& types, const std::string& type, const std::string& path, FieldPlace& place);

}  // namespace tarn
