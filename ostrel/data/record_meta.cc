// BrennicData's meta data operations: elements as text items, through the value converter.
#include <cstdint>
#include <cstring>
#include <string>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"
#include "ostrel/data/value_convertor.h"
#include "ostrel/platform/text.h"

namespace {

// The type name an item shows: "char*" or "wchar*" for a text (more than one item).
const char* itemTypeName(const DataVariable& element, bool severalItems) {
  if (element.type == nullptr) return "";
  const char* name = element.type->GetTypeName();
  if (severalItems && std::strcmp(name, "char") == 0) return "char*";
  if (severalItems && std::strcmp(name, "wchar") == 0) return "wchar*";
  return name;
}

// Converts into the fixed field directly, cut to fit at a character boundary.
void setText(const char* narrow, wchar_t* out, std::size_t capacity) {
  const std::size_t n = ostrel::platform::ansiToWide(narrow, out, capacity);
  // Where wchar_t is 16 bits the cut may fall inside a surrogate pair: drop its first half.
  if (sizeof(wchar_t) == 2 && n > 0 && n == capacity - 1 && out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF) {
    out[n - 1] = L'\0';
  }
}

unsigned short clampU16(std::uint32_t v) { return v > 0xFFFF ? 0xFFFF : static_cast<unsigned short>(v); }

}  // namespace

BrennicMetaData::BrennicMetaData() : typeName{}, name{}, value{}, offset(0), length(0) {}

BrennicMetaData::~BrennicMetaData() = default;

int BrennicData::GetMetaData(const char* path, BrennicMetaData& meta) {
  if (path == nullptr) return OstrelCode::kIndexOutOfRange;
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  unsigned int offset = 0;
  unsigned int size = 0;
  DataVariable* element = nullptr;
  if (LocateField(path, offset, size, &element) != OstrelCode::kOk || element == nullptr ||
      element->type == nullptr) {
    return OstrelCode::kOk;
  }
  // A text is shown whole when the path takes the whole array; one item of it is one char.
  const char* typeName = itemTypeName(*element, size > element->type->GetTypeSize());
  if (static_cast<std::uint64_t>(offset) + size > store.bytesHeld()) return OstrelCode::kOk;
  std::wstring text;
  if (!ValueConvetor::shared().render(typeName, store.get() + offset, size, text)) {
    return OstrelCode::kOk;
  }
  setText(typeName, meta.typeName, BrennicMetaData::kTypeNameCapacity);
  setText(path, meta.name, BrennicMetaData::kNameCapacity);
  meta.offset = clampU16(offset);
  meta.length = clampU16(size);
  ostrel::data::copyWideCut(text, meta.value, BrennicMetaData::kValueCapacity);
  return OstrelCode::kOk;
}

int BrennicData::GetMetaDataList(BrennicMetaList& list) {
  // A list filled before would otherwise lose its items.
  Ostrel::DestoryBrennicMetaList(&list);
  list.count = 0;
  list.items = nullptr;
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  const TarnDataType::ElementList& elements = type->GetAllElement();
  const int n = static_cast<int>(elements.size());
  // Entries start null, so that the list can be released whatever fails part way.
  list.items = new BrennicMetaData*[n]();
  list.count = n;
  const ValueConvetor& convertor = ValueConvetor::shared();
  std::wstring text;
  text.reserve(BrennicMetaData::kValueCapacity);
  for (int i = 0; i < n; ++i) {
    const DataVariable& element = *elements[i].second;
    BrennicMetaData* item = new BrennicMetaData();
    list.items[i] = item;
    const char* typeName = itemTypeName(element, element.count > 1);
    setText(typeName, item->typeName, BrennicMetaData::kTypeNameCapacity);
    setText(element.name.c_str(), item->name, BrennicMetaData::kNameCapacity);
    if (element.type == nullptr) continue;
    const std::uint64_t size = static_cast<std::uint64_t>(element.count) * element.type->GetTypeSize();
    if (element.offset + size > store.bytesHeld()) continue;
    if (convertor.render(typeName, store.get() + element.offset, size, text)) {
      ostrel::data::copyWideCut(text, item->value, BrennicMetaData::kValueCapacity);
    }
  }
  return OstrelCode::kOk;
}

int BrennicData::PutMetaData(BrennicMetaData& meta) {
  ValueConvetor::shared().put(*this, meta);
  return OstrelCode::kOk;
}

int BrennicData::PutMetaDataList(BrennicMetaList& list) {
  const ValueConvetor& convertor = ValueConvetor::shared();
  ValueConvetor::Workspace work;
  for (int i = 0; i < list.count; ++i) {
    if (list.items != nullptr && list.items[i] != nullptr) convertor.put(*this, *list.items[i], work);
  }
  return OstrelCode::kOk;
}
