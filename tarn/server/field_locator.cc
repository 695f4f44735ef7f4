#include "tarn/server/field_locator.h"

#include "tarn/client/codes.h"
#include "tarn/server/type_service.h"

namespace tarn {

int locateField(const TypeBook& types, const std::string& type, const std::string& path, FieldPlace& place) {
  const TypeBook::Type* current = types.find(type);
  if (!current || path.empty()) return kNoSuchField;
  unsigned offset = 0;
  unsigned size = current->size;
  size_t start = 0;
  for (;;) {
    if (!current) return kNoSuchField;  // the previous segment was a base type: nothing inside it
    const size_t dot = path.find('.', start);
    std::string segment = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    long index = -1;
    const size_t open = segment.find('[');
    if (open != std::string::npos) {
      if (segment.back() != ']' || open + 2 > segment.size() - 1) return kNoSuchField;
      const std::string digits = segment.substr(open + 1, segment.size() - open - 2);
      if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return kNoSuchField;
      index = std::stol(digits);
      segment.erase(open);
    }
    const TypeBook::Element* element = nullptr;
    for (const TypeBook::Element& candidate : current->elements)
      if (candidate.name == segment) element = &candidate;
    if (!element) return kNoSuchField;
    const int itemSize = types.typeSize(element->typeName);
    if (itemSize < 0) return kNoSuchField;
    if (index >= element->count) return kNoSuchField;
    offset += element->offset + (index >= 0 ? static_cast<unsigned>(index) * itemSize : 0);
    size = index >= 0 ? itemSize : element->count * itemSize;
    if (dot == std::string::npos) break;
    current = types.find(element->typeName);
    start = dot + 1;
  }
  place.offset = offset;
  place.size = size;
  return kOk;
}

}  // namespace tarn
