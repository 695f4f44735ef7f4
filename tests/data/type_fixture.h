// Test fixtures for data types: a writer of type definition streams, and a set of record types
// registered once in the process's type manager, which is cut off from every server so that a
// lookup miss builds from nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <omniORB4/CORBA.h>

#include "ostrel/data/type_mgr.h"

namespace data_test {

struct ElementDef {
  const char* type;
  const char* name;
  std::uint16_t offset;
  std::uint16_t count;
};
struct TypeDef {
  const char* name;
  std::uint32_t size;
  std::vector<ElementDef> elements;
};

// The bytes as two-digit hex numbers separated by blanks ("02 01").
inline std::string hex(const void* bytes, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<const unsigned char*>(bytes)[i];
    if (i > 0) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
inline std::string hex(const std::string& bytes) { return hex(bytes.data(), bytes.size()); }

// The element names of `type`, in the order the type lists them.
inline std::vector<std::string> elementNames(TarnDataType* type) {
  std::vector<std::string> names;
  for (const auto& e : type->GetAllElement()) names.push_back(e.first);
  return names;
}

inline void putU32(std::vector<char>& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// The type definition stream of `types`, in the given order.
inline std::vector<char> packTypes(const std::vector<TypeDef>& types) {
  std::size_t total = 8;
  for (const TypeDef& t : types) total += 140 + 264 * t.elements.size();
  std::vector<char> s(total, 0);
  putU32(s, 4, static_cast<std::uint32_t>(types.size()));
  std::size_t at = 8;
  for (const TypeDef& t : types) {
    std::strncpy(&s[at], t.name, 127);
    putU32(s, at + 128, static_cast<std::uint32_t>(t.elements.size()));
    putU32(s, at + 136, t.size);
    at += 140;
    for (const ElementDef& e : t.elements) {
      std::strncpy(&s[at], e.type, 127);
      std::strncpy(&s[at + 128], e.name, 127);
      s[at + 256] = static_cast<char>(e.offset & 0xFF);
      s[at + 257] = static_cast<char>(e.offset >> 8);
      s[at + 260] = static_cast<char>(e.count & 0xFF);
      s[at + 261] = static_cast<char>(e.count >> 8);
      at += 264;
    }
  }
  return s;
}

// Record types used across the record tests. Layout of T_Rec (96 bytes):
//   i signed_int@0, w word@4, c char@6, b byte@7, d double@8, f float@16, u unsigned_int@20,
//   text char[8]@24, wtext wchar[8]@32, arr word[5]@48, ll kx_time2@64, inner T_Inner@72,
//   inners T_Inner[2]@80
// T_Inner (8): x word@0, y word@2, z unsigned_int@4. T_Outer (192): recs T_Rec[2]@0.
// T_Broken (8): ghost NoSuchType@0, ok word@4. T_Empty (4): no elements.
inline const std::vector<TypeDef>& recordTypes() {
  static const std::vector<TypeDef> types = {
      {"T_Inner", 8, {{"word", "x", 0, 1}, {"word", "y", 2, 1}, {"unsigned_int", "z", 4, 1}}},
      {"T_Rec",
       96,
       {{"signed_int", "i", 0, 1},
        {"word", "w", 4, 1},
        {"char", "c", 6, 1},
        {"byte", "b", 7, 1},
        {"double", "d", 8, 1},
        {"float", "f", 16, 1},
        {"unsigned_int", "u", 20, 1},
        {"char", "text", 24, 8},
        {"wchar", "wtext", 32, 8},
        {"word", "arr", 48, 5},
        {"kx_time2", "ll", 64, 1},
        {"T_Inner", "inner", 72, 1},
        {"T_Inner", "inners", 80, 2}}},
      {"T_Outer", 192, {{"T_Rec", "recs", 0, 2}}},
      {"T_Broken", 8, {{"NoSuchType", "ghost", 0, 1}, {"word", "ok", 4, 1}}},
      {"T_Empty", 4, {}},
  };
  return types;
}

// Registers recordTypes() once and makes every build of the process's manager find nothing.
inline TarnTypeMgr* registeredTypes() {
  static TarnTypeMgr* manager = [] {
    TarnTypeMgr* m = TarnTypeMgr::GetInstance();
    m->setReferenceResolver([](const char*, const char*) -> CORBA::Object* { return CORBA::Object::_nil(); });
    std::vector<char> s = packTypes(recordTypes());
    m->loadFromStream(s.data(), s.size());
    return m;
  }();
  return manager;
}

}  // namespace data_test
