#include "ostrel/data/field_path.h"

#include <cstring>
#include <limits>
#include <string_view>

#include <boost/lexical_cast.hpp>

#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"

namespace ostrel {
namespace data {
namespace {

// Splits `segment` at '[' and ']' into at most `max` non-empty pieces; returns the number of
// pieces found (which may exceed `max`; only the first `max` are stored).
int splitPieces(std::string_view segment, std::string_view* pieces, int max) {
  int count = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= segment.size(); ++i) {
    if (i == segment.size() || segment[i] == '[' || segment[i] == ']') {
      if (i > start) {
        if (count < max) pieces[count] = segment.substr(start, i - start);
        ++count;
      }
      start = i + 1;
    }
  }
  return count;
}

}  // namespace

int locateField(const TarnDataType* type, const char* path, FieldLocation& out) {
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  if (path == nullptr) return OstrelCode::kElementNotFound;

  std::string_view whole(path);
  if (whole.find_first_of(".[") == std::string_view::npos) {
    DataVariable* element = type->GetElement(whole);
    if (element == nullptr) return OstrelCode::kElementNotFound;
    if (element->type == nullptr) return OstrelCode::kUntypedElement;
    out.offset = element->offset;
    out.size = static_cast<std::uint32_t>(element->count) * element->type->GetTypeSize();
    out.element = element;
    return OstrelCode::kOk;
  }

  const TarnDataType* current = type;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  DataVariable* element = nullptr;
  std::size_t start = 0;
  while (start <= whole.size()) {
    std::size_t dot = whole.find('.', start);
    if (dot == std::string_view::npos) dot = whole.size();
    std::string_view segment = whole.substr(start, dot - start);
    start = dot + 1;
    if (segment.empty()) continue;

    std::string_view pieces[2];
    int count = splitPieces(segment, pieces, 2);
    if (count == 0) continue;  // a segment of brackets only, e.g. "[]"
    if (count > 2) return OstrelCode::kIndexOutOfRange;
    element = current->GetElement(pieces[0]);
    if (element == nullptr) return OstrelCode::kElementNotFound;
    if (element->type == nullptr) return OstrelCode::kUntypedElement;
    std::uint32_t itemSize = element->type->GetTypeSize();
    offset += element->offset;
    if (count == 1) {
      size = static_cast<std::uint64_t>(element->count) * itemSize;
    } else {
      int index = boost::lexical_cast<int>(pieces[1].data(), pieces[1].size());
      if (index < 0 || index >= element->count) return OstrelCode::kIndexOutOfRange;
      size = itemSize;
      offset += static_cast<std::uint64_t>(index) * itemSize;
    }
    current = element->type;
  }
  if (element == nullptr) return OstrelCode::kElementNotFound;
  if (offset + size > std::numeric_limits<std::uint32_t>::max()) return OstrelCode::kInvalidRecord;
  out.offset = static_cast<std::uint32_t>(offset);
  out.size = static_cast<std::uint32_t>(size);
  out.element = element;
  return OstrelCode::kOk;
}

}  // namespace data
}  // namespace ostrel
