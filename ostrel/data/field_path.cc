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

// Parses an index piece: an optional sign and decimal digits that fit an int. Anything else
// goes to boost::lexical_cast, which throws bad_lexical_cast for it (and would accept any form
// this fast path does not know).
int parseIndex(std::string_view piece) {
  std::size_t i = 0;
  bool negative = false;
  if (!piece.empty() && (piece[0] == '+' || piece[0] == '-')) {
    negative = piece[0] == '-';
    i = 1;
  }
  if (i < piece.size() && piece.size() - i <= 9) {
    int value = 0;
    for (; i < piece.size(); ++i) {
      char c = piece[i];
      if (c < '0' || c > '9') break;
      value = value * 10 + (c - '0');
    }
    if (i == piece.size()) return negative ? -value : value;
  }
  return boost::lexical_cast<int>(piece.data(), piece.size());
}

}  // namespace

int locateField(const TarnDataType* type, const char* path, FieldLocation& out) {
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  if (path == nullptr) return OstrelCode::kElementNotFound;

  bool plain = true;
  std::size_t length = 0;
  for (; path[length] != '\0'; ++length) {
    if (path[length] == '.' || path[length] == '[') plain = false;
  }
  if (plain) {
    DataVariable* element = type->GetElement(std::string_view(path, length));
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
  std::size_t at = 0;
  while (at < length) {
    // One segment: up to the next '.', cut into pieces at '[' and ']' (empty pieces dropped).
    std::string_view pieces[2];
    int count = 0;
    std::size_t start = at;
    for (;; ++at) {
      char c = at < length ? path[at] : '.';
      if (c == '.' || c == '[' || c == ']') {
        if (at > start) {
          if (count < 2) pieces[count] = std::string_view(path + start, at - start);
          ++count;
        }
        start = at + 1;
        if (c == '.') break;
      }
    }
    ++at;
    if (count == 0) continue;  // an empty segment, or brackets only
    if (count > 2) return OstrelCode::kIndexOutOfRange;
    element = current->GetElement(pieces[0]);
    if (element == nullptr) return OstrelCode::kElementNotFound;
    if (element->type == nullptr) return OstrelCode::kUntypedElement;
    std::uint32_t itemSize = element->type->GetTypeSize();
    offset += element->offset;
    if (count == 1) {
      size = static_cast<std::uint64_t>(element->count) * itemSize;
    } else {
      int index = parseIndex(pieces[1]);
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
