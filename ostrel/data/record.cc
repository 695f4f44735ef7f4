#include "ostrel/data/record.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <cstring>
#include <string>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/field_path.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/platform/text.h"

// Field bytes are copied as the machine holds them; records carry little-endian numbers.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records hold little-endian numbers");

namespace {

TarnDataType* lookupType(const char* typeName) {
  TarnTypeMgr* types = TarnTypeMgr::GetInstance();
  return types != nullptr ? types->GetDataType(typeName) : nullptr;
}

void putU32(char* p, std::uint32_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>((v >> 8) & 0xFF);
  p[2] = static_cast<char>((v >> 16) & 0xFF);
  p[3] = static_cast<char>((v >> 24) & 0xFF);
}

std::uint32_t getU32(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// The header in front of every record made with new: the batch it belongs to, or null for a
// record with a block of its own. A batch is one block: its live count, then a header and a
// record per slot. Headers and slots keep the alignment ::operator new gives.
struct RecordBatch {
  std::atomic<std::size_t> live;
};
struct alignas(alignof(std::max_align_t)) RecordHeader {
  RecordBatch* batch;
};
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kBatchHead = (sizeof(RecordBatch) + kAlign - 1) / kAlign * kAlign;
constexpr std::size_t kSlot = (sizeof(RecordHeader) + sizeof(BrennicData) + kAlign - 1) / kAlign * kAlign;

}  // namespace

void* BrennicData::operator new(std::size_t size) {
  RecordHeader* header = static_cast<RecordHeader*>(::operator new(sizeof(RecordHeader) + size));
  header->batch = nullptr;
  return header + 1;
}

void BrennicData::operator delete(void* p) noexcept {
  if (p == nullptr) return;
  RecordHeader* header = static_cast<RecordHeader*>(p) - 1;
  RecordBatch* batch = header->batch;
  if (batch == nullptr) {
    ::operator delete(header);
  } else if (batch->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    batch->~RecordBatch();
    ::operator delete(batch);
  }
}

void BrennicData::makeBatch(std::size_t count, BrennicData** out) {
  if (count == 0) return;
  const std::size_t slots = count * kSlot;
  char* block = static_cast<char*>(::operator new(kBatchHead + slots));
  RecordBatch* batch = ::new (block) RecordBatch{{count}};
  char* slot = block + kBatchHead;
  // Only each name's first byte is cleared: a name is never read past its NUL, and clearing the
  // whole block (3 MB for 10,000 records) cost more than the rest of the batch together.
  for (std::size_t i = 0; i < count; ++i, slot += kSlot) {
    ::new (slot) RecordHeader{batch};
    out[i] = ::new (slot + sizeof(RecordHeader)) BrennicData(BatchSlot{});
  }
}

BrennicData::BrennicData() : type(nullptr) { std::memset(name, 0, sizeof(name)); }

BrennicData::BrennicData(BatchSlot) : type(nullptr) { name[0] = '\0'; }

BrennicData::BrennicData(const char* typeOrPointName, int isPointName) : type(nullptr) {
  std::memset(name, 0, sizeof(name));
  if (typeOrPointName == nullptr) return;
  if (isPointName == 0) {
    type = lookupType(typeOrPointName);
  } else {
    char* typeName = kx_get_data_template_point_type(typeOrPointName, nullptr, nullptr);
    if (typeName != nullptr) {
      type = lookupType(typeName);
      delete[] typeName;
    }
  }
  if (type != nullptr) store.allocate_size(type->GetTypeSize());
}

BrennicData::BrennicData(const BrennicData& other) : type(other.type) {
  std::memset(name, 0, sizeof(name));
  if (other.type != nullptr) {
    store = other.store;
    std::memcpy(name, other.name, sizeof(name));
  }
}

BrennicData::~BrennicData() = default;

const BrennicData& BrennicData::operator=(const BrennicData& other) {
  if (this == &other) return *this;
  type = other.type;
  if (other.type != nullptr) {
    store = other.store;
    std::memcpy(name, other.name, sizeof(name));
  }
  return *this;
}

// --- field location -------------------------------------------------------------------------

int BrennicData::LocateField(const char* path, unsigned int& offset, unsigned int& size,
                             DataVariable** element) const {
  ostrel::data::FieldLocation where;
  int code = ostrel::data::locateField(type, path, where);
  if (code != OstrelCode::kOk) return code;
  offset = where.offset;
  size = where.size;
  if (element != nullptr) *element = where.element;
  return OstrelCode::kOk;
}

char* BrennicData::fieldBytes(const char* path, unsigned int& size, int& code) {
  unsigned int offset = 0;
  code = LocateField(path, offset, size);
  if (code != OstrelCode::kOk) return nullptr;
  if (static_cast<std::uint64_t>(offset) + size > store.bytesHeld()) {
    code = OstrelCode::kInvalidRecord;
    return nullptr;
  }
  return store.get() + offset;
}

char* BrennicData::heldField(const char* path, unsigned int& size) {
  int code = OstrelCode::kOk;
  return fieldBytes(path, size, code);
}

void BrennicData::readField(const char* path, void* out, std::size_t width) {
  std::memset(out, 0, width);
  unsigned int offset = 0;
  unsigned int size = 0;
  if (LocateField(path, offset, size) != OstrelCode::kOk) return;
  unsigned int held = store.bytesHeld();
  if (offset >= held) return;
  std::memcpy(out, store.get() + offset, std::min<std::size_t>(width, held - offset));
}

// --- writes ---------------------------------------------------------------------------------

int BrennicData::PutValueImpl(const char* path, void* src, int len) {
  unsigned int size = 0;
  int code = OstrelCode::kOk;
  char* field = fieldBytes(path, size, code);
  if (field == nullptr) return code;
  std::size_t n = (src == nullptr || len <= 0) ? 0 : std::min<std::size_t>(size, len);
  // Copy first, then clear the rest: correct even when src lies inside this record's block.
  if (n > 0) std::memmove(field, src, n);
  std::memset(field + n, 0, size - n);
  return OstrelCode::kOk;
}

int BrennicData::PutValue(const char* path, long long value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, unsigned long long value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, double value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, float value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, char value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, unsigned char value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, short value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, unsigned short value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, int value) {
  return PutValueImpl(path, &value, sizeof(value));
}
int BrennicData::PutValue(const char* path, unsigned int value) {
  return PutValueImpl(path, &value, sizeof(value));
}

int BrennicData::PutValue(const char* path, BrennicData& value) {
  unsigned int held = value.store.bytesHeld();
  if (value.store.get() == nullptr) return OstrelCode::kInvalidRecord;
  unsigned int n = std::min(value.GetBufferSize(), held);
  return PutValueImpl(path, value.store.get(), static_cast<int>(n));
}

int BrennicData::PutValue(const char* path, const char* value) {
  if (value == nullptr) return OstrelCode::kOk;
  std::size_t n = std::strlen(value);
  return PutValueImpl(path, const_cast<char*>(value), static_cast<int>(std::min<std::size_t>(n, INT32_MAX)));
}

int BrennicData::PutValue(const char* path, const wchar_t* value) {
  if (value == nullptr) return OstrelCode::kOk;
  unsigned int size = 0;
  int code = OstrelCode::kOk;
  char* field = fieldBytes(path, size, code);
  if (field == nullptr) return code;
  std::memset(field, 0, size);
  ostrel::platform::writeUtf16Le(value, field, size);
  return OstrelCode::kOk;
}

int BrennicData::PutValueUtf16(const char* path, const unsigned short* value, int len) {
  if (value == nullptr) return OstrelCode::kOk;
  long long bytes = len > 0 ? static_cast<long long>(len) * 2 : 0;
  return PutValueImpl(path, const_cast<unsigned short*>(value),
                      static_cast<int>(std::min<long long>(bytes, INT32_MAX)));
}

// --- identity and state ---------------------------------------------------------------------

void BrennicData::Logging() {}

const char* BrennicData::GetDataName() { return name; }
const char* BrennicData::GetDataName() const { return name; }

void BrennicData::SetFullName(const char* newName) {
  if (newName == nullptr) return;
  std::size_t n = strnlen(newName, kNameCapacity);
  if (n >= kNameCapacity) return;
  std::memcpy(name, newName, n + 1);
}

const char* BrennicData::GetTypeName() { return type != nullptr ? type->GetTypeName() : nullptr; }

char* BrennicData::GetRawValue() { return store.get(); }

unsigned int BrennicData::GetBufferSize() {
  return type != nullptr ? type->GetTypeSize() : static_cast<unsigned int>(store.buffer_size());
}

bool BrennicData::IsGood() { return store.get() != nullptr; }
bool BrennicData::IsCGood() const { return store.get() != nullptr; }

int BrennicData::heldValue(char*& bytes, unsigned int& length) const {
  const unsigned int held = store.bytesHeld();
  if (store.get() == nullptr || (type != nullptr && held < type->GetTypeSize())) return OstrelCode::kInvalidRecord;
  bytes = store.get();
  length = type != nullptr ? type->GetTypeSize() : held;
  return OstrelCode::kOk;
}

bool BrennicData::IsNull() {
  unsigned int n = std::min(GetBufferSize(), store.bytesHeld());
  const char* bytes = store.get();
  for (unsigned int i = 0; i < n; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

void BrennicData::Destory() {
  type = nullptr;
  std::memset(name, 0, sizeof(name));
  store.destory();
}

// --- type and value setting -----------------------------------------------------------------

int BrennicData::CastType(const char* typeName) {
  type = lookupType(typeName);
  return type != nullptr ? OstrelCode::kOk : OstrelCode::kRecordWithoutType;
}

void BrennicData::SetTarnType(const char* typeName, char* raw, int len) {
  if (typeName == nullptr) return;
  type = lookupType(typeName);
  if (type == nullptr) return;
  unsigned int n = std::max<unsigned int>(type->GetTypeSize(), len > 0 ? len : 0);
  if (raw != nullptr) {
    store.put_buffer(raw, n);
  } else {
    store.allocate_size(n);
  }
}

void BrennicData::SwellSetTarnType(const char* typeName, char* raw, int len) {
  if (typeName == nullptr) return;
  type = lookupType(typeName);
  if (type == nullptr) return;
  if (raw == nullptr) {
    store.allocate_size(type->GetTypeSize());
  } else {
    store.swell_buffer(raw, type->GetTypeSize());
  }
}

void BrennicData::SetRawValue(char* raw) {
  if (type != nullptr && raw != nullptr) store.reset(raw);
}

void BrennicData::SetRawValue(char* raw, int len) {
  if (raw != nullptr && len >= 0) store.put_buffer(raw, static_cast<unsigned int>(len));
}

void BrennicData::SwellSetRawValue(char* raw, int len) {
  store.swell_buffer(raw, len > 0 ? static_cast<unsigned int>(len) : 0);
}

void BrennicData::takeValue(TarnDataType* valueType, unsigned char* bytes, unsigned int size, bool owned) {
  type = valueType;
  if (owned) {
    store.adopt_array(bytes, size);
    return;
  }
  if (type != nullptr) store.allocate_size(type->GetTypeSize());
  SetRawValue(reinterpret_cast<char*>(bytes), static_cast<int>(size));
}

int BrennicData::DeepCopy(BrennicData& other) {
  if (this == &other) return OstrelCode::kOk;
  unsigned int need = other.GetBufferSize();
  if (store.bytesHeld() < need) return OstrelCode::kValueTooSmall;
  if (need > 0 && other.store.get() == nullptr) return OstrelCode::kInvalidRecord;
  store.put_buffer(other.store.get(), std::min(need, other.store.bytesHeld()));
  return OstrelCode::kOk;
}

// --- reads ----------------------------------------------------------------------------------

void* BrennicData::GetValue(const char* path) {
  unsigned int size = 0;
  return heldField(path, size);
}

char BrennicData::GetCharValue(const char* path) { return readAs<char>(path); }
unsigned char BrennicData::GetUnSignedCharValue(const char* path) { return readAs<unsigned char>(path); }
short BrennicData::GetShortValue(const char* path) { return readAs<short>(path); }
unsigned short BrennicData::GetUnsignedShortValue(const char* path) { return readAs<unsigned short>(path); }
int BrennicData::GetSignedIntValue(const char* path) { return readAs<int>(path); }
unsigned int BrennicData::GetUnSignedIntValue(const char* path) { return readAs<unsigned int>(path); }
float BrennicData::GetFloatValue(const char* path) { return readAs<float>(path); }
double BrennicData::GetDoubleValue(const char* path) { return readAs<double>(path); }

const char* BrennicData::GetStringValue(const char* path) {
  return static_cast<const char*>(GetValue(path));
}
const unsigned short* BrennicData::GetWStringValue(const char* path) {
  return static_cast<const unsigned short*>(GetValue(path));
}

bool BrennicData::compare(const char* path, void* value, int len) {
  unsigned int size = 0;
  int code = OstrelCode::kOk;
  char* field = fieldBytes(path, size, code);
  if (field == nullptr || len < 0 || size != static_cast<unsigned int>(len)) return false;
  if (len == 0) return true;
  return value != nullptr && std::memcmp(field, value, size) == 0;
}

BrennicData BrennicData::GetBrennicData(const char* path) {
  BrennicData result;
  if (type == nullptr) return result;
  unsigned int offset = 0;
  unsigned int size = 0;
  DataVariable* element = nullptr;
  if (LocateField(path, offset, size, &element) != OstrelCode::kOk) return result;
  if (static_cast<std::uint64_t>(offset) + size > store.bytesHeld()) return result;
  // The result holds the larger of the item size and the field size: the whole array for an
  // array element without an index, while its GetBufferSize() reports one item.
  result.type = element->type;
  result.store.allocate_size(std::max<unsigned int>(element->type->GetTypeSize(), size));
  if (size > 0) std::memcpy(result.store.get(), store.get() + offset, size);
  return result;
}

int BrennicData::VariableInfo(const char* path, BrennicVariable& info) {
  unsigned int offset = 0;
  unsigned int size = 0;
  DataVariable* element = nullptr;
  int code = LocateField(path, offset, size, &element);
  if (code != OstrelCode::kOk) return code;
  info.offset = static_cast<int>(offset);
  info.size = static_cast<int>(size);
  std::string typeName = element->type->GetTypeName();
  if ((typeName == "char" || typeName == "wchar") && element->count > 1) typeName += '*';
  ostrel::platform::ansiToWide(typeName.c_str(), info.typeName,
                               sizeof(info.typeName) / sizeof(info.typeName[0]));
  return OstrelCode::kOk;
}

// --- stream form ----------------------------------------------------------------------------

void BrennicData::toStream(BrennicStore& out) {
  std::uint32_t n = static_cast<std::uint32_t>(strnlen(name, kNameCapacity - 1));
  const char* typeName = type != nullptr ? type->GetTypeName() : "";
  std::uint32_t t = static_cast<std::uint32_t>(std::strlen(typeName));
  std::uint32_t v = store.bytesHeld();
  out.allocate_size(12ull + n + t + v);
  char* p = out.get();
  putU32(p, n);
  std::memcpy(p + 4, name, n);
  putU32(p + 4 + n, t);
  std::memcpy(p + 8 + n, typeName, t);
  putU32(p + 8 + n + t, v);
  if (v > 0) std::memcpy(p + 12 + n + t, store.get(), v);
}

void BrennicData::fromStream(const char* data, int len) {
  if (len < 0) return;
  tryFromStream(data, static_cast<std::size_t>(len));
}

bool BrennicData::isWholeStream(const char* data, std::size_t len) {
  std::uint64_t at = 0;
  for (int word = 0; word < 3; ++word) {
    if (data == nullptr || at + 4 > len) return false;
    at += 4ull + getU32(data + at);
  }
  return at == len;
}

bool BrennicData::tryFromStream(const char* data, std::size_t len) {
  if (data == nullptr || len < 12) return false;
  std::uint32_t n = getU32(data);
  std::uint64_t typeAt = 4ull + n;
  if (typeAt + 4 > len) return false;
  std::uint32_t t = getU32(data + typeAt);
  std::uint64_t valueAt = typeAt + 4 + t;
  if (valueAt + 4 > len) return false;
  std::uint32_t v = getU32(data + valueAt);
  if (valueAt + 4 + v > len) return false;
  const char* typeName = data + typeAt + 4;
  const char* value = data + valueAt + 4;

  // Everything that can fail (a type lookup may build) happens before the record changes.
  TarnDataType* newType = nullptr;
  if (t > 0 && std::memchr(typeName, 0, t) == nullptr) {
    newType = lookupType(std::string(typeName, t).c_str());
  }
  char* block = static_cast<char*>(::operator new(v));
  if (v > 0) std::memcpy(block, value, v);

  std::size_t kept = std::min<std::size_t>(n, kNameCapacity - 1);
  std::memset(name, 0, sizeof(name));
  std::memcpy(name, data + 4, kept);
  type = newType;
  store.swell_buffer(block, v);
  return true;
}
