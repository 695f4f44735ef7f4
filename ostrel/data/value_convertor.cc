#include "ostrel/data/value_convertor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <limits>
#include <locale>
#include <typeinfo>

#include <boost/lexical_cast/bad_lexical_cast.hpp>

#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/platform/clock.h"
#include "ostrel/platform/text.h"

namespace {

using Parsed = ValueConvetor::Parsed;

// --- reading and writing the element's bytes --------------------------------------------------

// The first `sizeof(T)` bytes at `bytes`, zero-extended when the field is shorter.
template <typename T>
T readAs(const char* bytes, std::size_t size) {
  T value;
  char raw[sizeof(T)] = {};
  std::memcpy(raw, bytes, size < sizeof(T) ? size : sizeof(T));
  std::memcpy(&value, raw, sizeof(T));
  return value;
}

template <typename T>
T bitsAs(std::uint64_t bits) {
  T value;
  std::memcpy(&value, &bits, sizeof(T));
  return value;
}

template <typename T>
std::uint64_t asBits(T value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof(T));
  return bits;
}

// Renderings replace `out` in place, keeping its capacity: a caller rendering many elements
// into one string allocates only when a text outgrows it.
void assignAscii(const char* begin, const char* end, std::wstring& out) {
  out.resize(static_cast<std::size_t>(end - begin));
  std::copy(begin, end, out.begin());
}

// --- rendering ----------------------------------------------------------------------------------

template <typename T>
void renderInteger(const char* bytes, std::size_t size, std::wstring& out) {
  char text[24];
  auto done = std::to_chars(text, text + sizeof(text), readAs<T>(bytes, size));
  assignAscii(text, done.ptr, out);
}

// Infinities and NaNs as words; "-" for a set sign bit.
template <typename T>
bool renderSpecial(T value, std::wstring& out) {
  if (std::isinf(value)) {
    out = value < 0 ? L"-infinity" : L"infinity";
    return true;
  }
  if (std::isnan(value)) {
    out = std::signbit(value) ? L"-nan" : L"nan";
    return true;
  }
  return false;
}

void renderFloat(const char* bytes, std::size_t size, std::wstring& out) {
  float value = readAs<float>(bytes, size);
  if (renderSpecial(value, out)) return;
  char text[48];
  // Nine significant digits name every float exactly.
  auto done = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 9);
  assignAscii(text, done.ptr, out);
}

void renderDouble(const char* bytes, std::size_t size, std::wstring& out) {
  double value = readAs<double>(bytes, size);
  if (renderSpecial(value, out)) return;
  char text[48];
  // The shortest text that reads back as the same 8 bytes (never more than 17 digits).
  auto done = std::to_chars(text, text + sizeof(text), value);
  assignAscii(text, done.ptr, out);
}

void renderCharacter(const char* bytes, std::size_t size, std::wstring& out) {
  char c = readAs<char>(bytes, size);
  out.clear();
  if (c == '\0') return;
  wchar_t wide = std::use_facet<std::ctype<wchar_t>>(std::locale()).widen(c);
  // A byte the locale cannot widen (the "C" locale above 0x7F) shows as its Latin-1 character.
  if (wide == static_cast<wchar_t>(WEOF)) wide = static_cast<wchar_t>(static_cast<unsigned char>(c));
  out.assign(1, wide);
}

void renderKxTime(const char* bytes, std::size_t size, std::wstring& out) {
  std::int32_t seconds = readAs<std::int32_t>(bytes, size);
  std::tm local;
  // The Windows run-time rejects times before 1970; the same rule holds everywhere so that a
  // record renders alike on every platform.
  if (seconds < 0 || !ostrel::platform::localTime(seconds, &local)) {
    out.clear();
    return;
  }
  renderInteger<std::int32_t>(bytes, size, out);
}

void renderAnsiText(const char* bytes, std::size_t size, std::wstring& out) {
  ostrel::platform::ansiToWide(bytes, strnlen(bytes, size), out);
}

void renderUtf16Text(const char* bytes, std::size_t size, std::wstring& out) {
  ostrel::platform::utf16LeToWide(bytes, size / 2, out);
}

// --- parsing ------------------------------------------------------------------------------------

// The text as ASCII; false when it holds anything else (no number does).
bool asciiOf(std::wstring_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c <= 0 || c > 0x7F) return false;
    out += static_cast<char>(c);
  }
  return true;
}

// An optional sign followed by at least one decimal digit and nothing else. `magnitude` is
// the digits' value; false when it exceeds 64 bits.
bool parseDecimal(std::wstring_view text, std::string& ascii, bool& negative, std::uint64_t& magnitude) {
  if (!asciiOf(text, ascii) || ascii.empty()) return false;
  const char* p = ascii.data();
  const char* end = p + ascii.size();
  negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (p == end || *p < '0' || *p > '9') return false;
  auto done = std::from_chars(p, end, magnitude);
  return done.ec == std::errc() && done.ptr == end;
}

// Unsigned types: any magnitude the type holds; '-' negates modulo 2^bits.
template <typename T>
bool parseWrapping(std::wstring_view text, Parsed& out) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!parseDecimal(text, out.ascii, negative, magnitude)) return false;
  if (magnitude > std::numeric_limits<T>::max()) return false;
  out.bits = static_cast<T>(negative ? static_cast<T>(0u - magnitude) : magnitude);
  return true;
}

// Signed types: the value must lie in the type's range.
template <typename T>
bool parseSigned(std::wstring_view text, Parsed& out) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!parseDecimal(text, out.ascii, negative, magnitude)) return false;
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  std::int64_t value = negative ? static_cast<std::int64_t>(0u - magnitude) : static_cast<std::int64_t>(magnitude);
  out.bits = static_cast<std::uint64_t>(value);
  return true;
}

// A decimal number, "infinity"/"inf" or "nan" in any letter case, each with an optional sign.
// Out of the type's range (either way) is refused.
template <typename T>
bool parseFloating(std::wstring_view text, Parsed& out) {
  std::string& ascii = out.ascii;
  if (!asciiOf(text, ascii) || ascii.empty()) return false;
  const char* p = ascii.data();
  const char* end = p + ascii.size();
  if (*p == '+') {
    ++p;
    if (p == end || *p == '-' || *p == '+') return false;
  }
  T value;
  auto done = std::from_chars(p, end, value);
  if (done.ec != std::errc() || done.ptr != end) return false;
  out.bits = asBits(value);
  return true;
}

bool parseAnsiText(std::wstring_view text, Parsed& out) {
  out.wide = text;
  out.narrow = ostrel::platform::wideToAnsi(out.wide);
  return true;
}

bool parseWideText(std::wstring_view text, Parsed& out) {
  out.wide = text;
  return true;
}

// --- storing ------------------------------------------------------------------------------------

template <typename T>
int putAs(BrennicData& record, const char* path, Parsed& value, std::size_t) {
  return record.PutValue(path, static_cast<T>(value.bits));
}

int putFloat(BrennicData& record, const char* path, Parsed& value, std::size_t) {
  return record.PutValue(path, bitsAs<float>(value.bits));
}

int putDouble(BrennicData& record, const char* path, Parsed& value, std::size_t) {
  return record.PutValue(path, bitsAs<double>(value.bits));
}

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The number of wchar_t making up the character at text[i] (a surrogate pair where wchar_t is
// 16 bits).
std::size_t characterLength(const std::wstring& text, std::size_t i) {
  if (sizeof(wchar_t) == 2 && isHighSurrogate(text[i]) && i + 1 < text.size()) return 2;
  return 1;
}

// A text longer than the field is cut after its last whole character: the record would cut
// it at the byte limit, possibly inside a character.
int putAnsiText(BrennicData& record, const char* path, Parsed& value, std::size_t fieldSize) {
  if (value.narrow.size() > fieldSize) {
    std::string cut;
    for (std::size_t i = 0; i < value.wide.size();) {
      std::size_t n = characterLength(value.wide, i);
      std::string piece = ostrel::platform::wideToAnsi(value.wide.substr(i, n));
      if (cut.size() + piece.size() > fieldSize) break;
      cut += piece;
      i += n;
    }
    value.narrow.swap(cut);
  }
  return record.PutValue(path, value.narrow.c_str());
}

// The same for UTF-16: at most fieldSize / 2 units, never half of a surrogate pair.
int putWideText(BrennicData& record, const char* path, Parsed& value, std::size_t fieldSize) {
  const std::size_t units = fieldSize / 2;
  if (ostrel::platform::utf16Length(value.wide.c_str()) > units) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < value.wide.size()) {
      std::size_t n = characterLength(value.wide, i);
      std::size_t need = sizeof(wchar_t) == 4 && static_cast<std::uint32_t>(value.wide[i]) > 0xFFFF ? 2 : n;
      if (used + need > units) break;
      used += need;
      i += n;
    }
    value.wide.resize(i);
  }
  return record.PutValue(path, value.wide.c_str());
}

// The NUL-terminated text of a fixed wide field (a field without a NUL counts whole).
std::wstring_view fieldText(const wchar_t* field, std::size_t capacity) {
  return std::wstring_view(field, wcsnlen(field, capacity));
}

// A path in the ANSI code page; names are nearly always ASCII, which needs no conversion.
void narrowPath(std::wstring_view name, std::string& out) {
  if (!asciiOf(name, out)) out = ostrel::platform::wideToAnsi(std::wstring(name));
}

// True when the record's type has an element whose name is longer than `name` and begins with it.
bool hasLongerName(BrennicData& record, const std::string& name) {
  const TarnDataType* type = TarnTypeMgr::GetInstance()->CheckDataType(record.GetTypeName());
  if (type == nullptr) return false;
  for (const auto& element : type->GetAllElement()) {
    if (element.first.size() > name.size() && element.first.compare(0, name.size(), name) == 0) return true;
  }
  return false;
}

}  // namespace

namespace ostrel {
namespace data {

std::size_t copyWideCut(const std::wstring& text, wchar_t* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  if (n < text.size() && n > 0 && sizeof(wchar_t) == 2 && isHighSurrogate(text[n - 1])) --n;
  if (n > 0) std::wmemcpy(out, text.data(), n);
  out[n] = L'\0';
  return n;
}

}  // namespace data
}  // namespace ostrel

ValueConvetor::ValueConvetor() {
  toText["unsigned_int"] = &renderInteger<std::uint32_t>;
  toText["signed_int"] = &renderInteger<std::int32_t>;
  toText["char"] = &renderCharacter;
  toText["byte"] = &renderCharacter;
  toText["word"] = &renderInteger<std::uint16_t>;
  toText["wchar"] = &renderInteger<std::uint16_t>;
  toText["signed_word"] = &renderInteger<std::int16_t>;
  toText["kx_time"] = &renderKxTime;
  toText["kx_time2"] = &renderInteger<std::int64_t>;
  toText["float"] = &renderFloat;
  toText["double"] = &renderDouble;
  toText["char*"] = &renderAnsiText;
  toText["wchar*"] = &renderUtf16Text;

  fromText[L"unsigned_int"] = {toText.at("unsigned_int"), &parseWrapping<std::uint32_t>, &putAs<unsigned int>};
  fromText[L"signed_int"] = {toText.at("signed_int"), &parseSigned<std::int32_t>, &putAs<int>};
  // A char or byte takes a number: the low 8 bits of any 32-bit int.
  fromText[L"char"] = {toText.at("char"), &parseSigned<std::int32_t>, &putAs<unsigned char>};
  fromText[L"byte"] = {toText.at("byte"), &parseSigned<std::int32_t>, &putAs<unsigned char>};
  fromText[L"word"] = {toText.at("word"), &parseWrapping<std::uint16_t>, &putAs<unsigned short>};
  fromText[L"wchar"] = {toText.at("wchar"), &parseWrapping<std::uint16_t>, &putAs<unsigned short>};
  fromText[L"signed_word"] = {toText.at("signed_word"), &parseSigned<std::int16_t>, &putAs<short>};
  fromText[L"kx_time"] = {toText.at("kx_time"), &parseSigned<std::int32_t>, nullptr};
  // Time stamps are not set from text: a meta list copied from another record leaves them alone.
  fromText[L"kx_time2"] = {toText.at("kx_time2"), &parseSigned<std::int64_t>, nullptr};
  fromText[L"float"] = {toText.at("float"), &parseFloating<float>, &putFloat};
  fromText[L"double"] = {toText.at("double"), &parseFloating<double>, &putDouble};
  fromText[L"char*"] = {toText.at("char*"), &parseAnsiText, &putAnsiText};
  fromText[L"wchar*"] = {toText.at("wchar*"), &parseWideText, &putWideText};
}

ValueConvetor::~ValueConvetor() = default;

const ValueConvetor& ValueConvetor::shared() {
  static const ValueConvetor instance;
  return instance;
}

bool ValueConvetor::render(const char* typeName, const char* bytes, std::size_t size,
                           std::wstring& out) const {
  if (typeName == nullptr || bytes == nullptr) return false;
  auto it = toText.find(std::string_view(typeName));
  if (it == toText.end()) return false;
  it->second(bytes, size, out);
  return true;
}

const ValueConvetor::FromText* ValueConvetor::findFromText(const BrennicMetaData& meta) const {
  auto it = fromText.find(fieldText(meta.typeName, BrennicMetaData::kTypeNameCapacity));
  return it != fromText.end() ? &it->second : nullptr;
}

ValueConvetor::Outcome ValueConvetor::check(const BrennicMetaData& meta) const {
  const FromText* entry = findFromText(meta);
  if (entry == nullptr) return Outcome::kNoRoutine;
  if (entry->put == nullptr) return Outcome::kNotSettable;
  Parsed parsed;
  return entry->parse(fieldText(meta.value, BrennicMetaData::kValueCapacity), parsed) ? Outcome::kStored
                                                                                      : Outcome::kUnparsed;
}

ValueConvetor::Outcome ValueConvetor::put(BrennicData& record, const BrennicMetaData& meta) const {
  Workspace work;
  return put(record, meta, work);
}

ValueConvetor::Outcome ValueConvetor::put(BrennicData& record, const BrennicMetaData& meta, Workspace& work) const {
  const FromText* entry = findFromText(meta);
  if (entry == nullptr) return Outcome::kNoRoutine;
  if (entry->put == nullptr) return Outcome::kNotSettable;
  const std::wstring_view text = fieldText(meta.value, BrennicMetaData::kValueCapacity);
  const std::wstring_view wideName = fieldText(meta.name, BrennicMetaData::kNameCapacity);
  std::string& path = work.path;
  narrowPath(wideName, path);
  unsigned int size = 0;
  const char* now = nullptr;
  try {
    now = record.heldField(path.c_str(), size);
  } catch (const boost::bad_lexical_cast&) {
    // A bad index: the write below lists the path and throws again.
  }
  try {
    if (now != nullptr) {
      // A name that fills its field may be an element's longer name cut to fit: writing would
      // hit another element, or none, so such a name is refused when one exists.
      if (wideName.size() == BrennicMetaData::kNameCapacity - 1 && hasLongerName(record, path)) {
        return Outcome::kNotWritten;
      }
      // What the element shows now may be shorter or coarser than what it holds (a cut text, a
      // NaN's payload, a char that shows as a digit): writing that back must not change it. A
      // value that fills the value field and begins the element's longer text is that text cut
      // to fit. A record of a derived class (a partial record lists the path) gets the write all
      // the same, of the field's own bytes; on a plain record that write would change nothing.
      std::wstring& current = work.current;
      entry->render(now, size, current);
      const bool cut = text.size() == BrennicMetaData::kValueCapacity - 1 && current.size() > text.size() &&
                       current.compare(0, text.size(), text) == 0;
      if (current == text || cut) {
        if (typeid(record) != typeid(BrennicData)) {
          BrennicData same;
          same.SetRawValue(const_cast<char*>(now), static_cast<int>(size));
          record.PutValue(path.c_str(), same);
        }
        return Outcome::kUnchanged;
      }
    }
    Parsed& parsed = work.parsed;
    if (!entry->parse(text, parsed)) return Outcome::kUnparsed;
    // A path not located is written all the same: the write fails with its own code, as a
    // PutValue call of the caller's would, and a partial record lists it.
    return entry->put(record, path.c_str(), parsed, size) == 0 ? Outcome::kStored : Outcome::kNotWritten;
  } catch (const boost::bad_lexical_cast&) {
    return Outcome::kNotWritten;
  }
}
