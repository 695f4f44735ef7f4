#include "ostrel/data/partial_record.h"

#include <cstdint>
#include <cstring>

#include "ostrel/api/result_codes.h"

BrennicPartialData::BrennicPartialData() = default;

BrennicPartialData::BrennicPartialData(const char* name, int isPointName)
    : BrennicData(name, isPointName) {}

BrennicPartialData::BrennicPartialData(const BrennicPartialData& other)
    : BrennicData(other), updatedFields(other.updatedFields) {}

BrennicPartialData::~BrennicPartialData() = default;

const BrennicPartialData& BrennicPartialData::operator=(const BrennicPartialData& other) {
  if (this == &other) return *this;
  BrennicData::operator=(other);
  if (other.type != nullptr) updatedFields = other.updatedFields;
  return *this;
}

void BrennicPartialData::note(const char* path) {
  if (path != nullptr) updatedFields.emplace_back(path);
}

int BrennicPartialData::PutValue(const char* path, long long value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, unsigned long long value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, BrennicData& value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, double value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, float value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, const wchar_t* value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, const char* value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, char value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, unsigned char value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, short value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, unsigned short value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, int value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValue(const char* path, unsigned int value) {
  note(path);
  return BrennicData::PutValue(path, value);
}
int BrennicPartialData::PutValueUtf16(const char* path, const unsigned short* value, int len) {
  note(path);
  return BrennicData::PutValueUtf16(path, value, len);
}

int BrennicPartialData::putValue(const char* path, const char* bytes, int len) {
  note(path);
  return PutValueImpl(path, const_cast<char*>(bytes), len);
}

bool BrennicPartialData::isUpdated(const char* path) {
  if (path == nullptr) return false;
  const std::size_t n = std::strlen(path);
  for (const std::string& field : updatedFields) {
    if (field.size() == n && std::memcmp(field.data(), path, n) == 0) return true;
  }
  return false;
}

void BrennicPartialData::enabledFields(ObjectNames* fields) const {
  if (fields == nullptr) return;
  char** names = new char*[updatedFields.size()];
  for (std::size_t i = 0; i < updatedFields.size(); ++i) {
    names[i] = const_cast<char*>(updatedFields[i].c_str());
  }
  fields->count = static_cast<int>(updatedFields.size());
  fields->names = names;
  fields->release = false;
}

BrennicStore BrennicPartialData::getStoreValue(const char* path) const {
  char* bytes = nullptr;
  int length = 0;
  getStoreValue(path, &bytes, length);
  BrennicStore field;
  field.put_buffer(bytes, static_cast<unsigned int>(length));
  return field;
}

void BrennicPartialData::getStoreValue(const char* path, char** bytes, int& length) const {
  length = 0;
  if (bytes == nullptr) return;
  char* block = store.get();
  *bytes = block;
  unsigned int offset = 0;
  unsigned int size = 0;
  if (LocateField(path, offset, size) != OstrelCode::kOk) return;
  if (block == nullptr || static_cast<std::uint64_t>(offset) + size > store.bytesHeld()) return;
  *bytes = block + offset;
  length = static_cast<int>(size);
}
