#include "tarn/server/field_locator.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include <boost/lexical_cast.hpp>

#include "tarn/client/codes.h"
#include "tarn/server/type_service.h"

namespace tarn {
namespace {

const TypeBook::Element* findElement(const TypeBook::Type* type, std::string_view name) {
  if (type == nullptr) return nullptr;  // a base type has no elements
  for (const TypeBook::Element& element : type->elements)
    if (element.name == name) return &element;
  return nullptr;
}

// An index piece as an int; false for anything that is not a decimal int with an optional sign.
bool parseIndex(std::string_view piece, int& index) {
  try {
    index = boost::lexical_cast<int>(piece.data(), piece.size());
    return true;
  } catch (const boost::bad_lexical_cast&) {
    return false;
  }
}

}  // namespace

int locateField(const TypeBook& types, const std::string& type, const std::string& path, FieldPlace& place) {
  const TypeBook::Type* current = types.find(type);
  if (current == nullptr) return kNoSuchField;

  if (path.find_first_of(".[") == std::string::npos) {
    const TypeBook::Element* element = findElement(current, path);
    const int itemSize = element ? types.typeSize(element->typeName) : -1;
    if (itemSize < 0) return kNoSuchField;
    place.offset = element->offset;
    place.size = static_cast<unsigned>(element->count) * static_cast<unsigned>(itemSize);
    return kOk;
  }

  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  bool found = false;
  std::size_t at = 0;
  while (at < path.size()) {
    // One segment: up to the next '.', cut into pieces at '[' and ']' (empty pieces dropped).
    std::string_view pieces[2];
    int count = 0;
    std::size_t start = at;
    for (;; ++at) {
      const char c = at < path.size() ? path[at] : '.';
      if (c == '.' || c == '[' || c == ']') {
        if (at > start) {
          if (count < 2) pieces[count] = std::string_view(path).substr(start, at - start);
          ++count;
        }
        start = at + 1;
        if (c == '.') break;
      }
    }
    ++at;
    if (count == 0) continue;
    if (count > 2) return kNoSuchField;
    const TypeBook::Element* element = findElement(current, pieces[0]);
    const int itemSize = element ? types.typeSize(element->typeName) : -1;
    if (itemSize < 0) return kNoSuchField;
    offset += element->offset;
    if (count == 1) {
      size = static_cast<std::uint64_t>(element->count) * static_cast<unsigned>(itemSize);
    } else {
      int index = 0;
      if (!parseIndex(pieces[1], index) || index < 0 || index >= element->count) return kNoSuchField;
      size = static_cast<unsigned>(itemSize);
      offset += static_cast<std::uint64_t>(index) * static_cast<unsigned>(itemSize);
    }
    current = types.find(element->typeName);
    found = true;
  }
  if (!found || offset + size > std::numeric_limits<std::uint32_t>::max()) return kNoSuchField;
  place.offset = static_cast<unsigned>(offset);
  place.size = static_cast<unsigned>(size);
  return kOk;
}

}  // namespace tarn
