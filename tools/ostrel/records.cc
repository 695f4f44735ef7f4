#include "tools/ostrel/records.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <cwchar>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <boost/lexical_cast/bad_lexical_cast.hpp>

#include "ostrel/api/record_lists.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/data/value_convertor.h"

namespace tool {
namespace {

// Nesting deeper than this is cut (a type of another server may contain itself).
constexpr int kMaxDepth = 12;
// Items of one array shown before the rest is summed up.
constexpr int kMaxItems = 64;

struct Row {
  std::string element;
  std::string type;
  std::string value;
};

const TarnDataType* typeOf(BrennicData& record) {
  const char* name = record.GetTypeName();
  return name != nullptr ? TarnTypeMgr::GetInstance()->CheckDataType(name) : nullptr;
}

bool isNested(const DataVariable& e) { return e.type != nullptr && !e.type->GetAllElement().empty(); }

bool isText(const DataVariable& e) {
  if (e.type == nullptr || e.count <= 1) return false;
  const std::string name = e.type->GetTypeName();
  return name == "char" || name == "wchar";
}

std::vector<std::pair<const DataVariable*, int>> layoutOrder(const TarnDataType* type) {
  std::vector<std::pair<const DataVariable*, int>> elements;
  int i = 0;
  for (const auto& entry : type->GetAllElement()) elements.emplace_back(entry.second, i++);
  std::stable_sort(elements.begin(), elements.end(),
                   [](const auto& a, const auto& b) { return a.first->offset < b.first->offset; });
  return elements;
}

// `text` in double quotes: '"' and the backslash escaped, every control character as
// `hexEscape` and two hex digits, and DEL too when `escapeDelete`.
std::string quotedWith(const std::string& text, const char* hexEscape, bool escapeDelete) {
  static const char* digits = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (escapeDelete && c == 0x7F)) {
      out += hexEscape;
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string quoted(const std::string& text) { return quotedWith(text, "\\x", true); }

// The VALUE column for a field whose meta data is `meta`.
std::string shownValue(BrennicData& record, const std::string& path, const BrennicMetaData& meta) {
  const std::string type = toUtf8(meta.typeName);
  const std::string text = toUtf8(meta.value);
  if (type == "char*" || type == "wchar*") return quoted(text);
  if (type == "char" || type == "byte") {
    // The number is what the tool takes back; the character is shown when it is printable.
    const unsigned char byte = record.GetUnSignedCharValue(path.c_str());
    std::string shown = std::to_string(byte);
    if (byte >= 0x20 && byte < 0x7F) shown += std::string(" '") + static_cast<char>(byte) + "'";
    return shown;
  }
  if (type == "kx_time") {
    const int seconds = record.GetSignedIntValue(path.c_str());
    if (text.empty()) return std::to_string(seconds) + " (not a time)";
    const std::time_t t = seconds;
    std::tm local;
    char when[32];
#if defined(_WIN32)
    const bool split = localtime_s(&local, &t) == 0;
#else
    const bool split = localtime_r(&t, &local) != nullptr;
#endif
    if (split && std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local) > 0) {
      return text + " (" + when + ")";
    }
  }
  return text;
}

void addRows(BrennicData& record, const TarnDataType* type, const std::string& prefix, int depth,
             BrennicMetaList* top, std::vector<Row>& rows) {
  if (depth >= kMaxDepth) {
    rows.push_back({prefix + "...", "", "(nested too deep)"});
    return;
  }
  for (const auto& [element, index] : layoutOrder(type)) {
    const std::string path = prefix + element->name;
    if (element->type == nullptr) {
      rows.push_back({path, "?", "(type unknown)"});
      continue;
    }
    const int items = element->count;
    if (isNested(*element)) {
      if (items == 1) {
        addRows(record, element->type, path + ".", depth + 1, nullptr, rows);
        continue;
      }
      for (int k = 0; k < items && k < kMaxItems; ++k) {
        addRows(record, element->type, path + "[" + std::to_string(k) + "].", depth + 1, nullptr, rows);
      }
      if (items > kMaxItems) rows.push_back({path + "[...]", "", std::to_string(items - kMaxItems) + " more items"});
      continue;
    }
    if (items > 1 && !isText(*element)) {
      for (int k = 0; k < items && k < kMaxItems; ++k) {
        const std::string item = path + "[" + std::to_string(k) + "]";
        BrennicMetaData meta;
        record.GetMetaData(item.c_str(), meta);
        rows.push_back({item, toUtf8(meta.typeName), shownValue(record, item, meta)});
      }
      if (items > kMaxItems) rows.push_back({path + "[...]", "", std::to_string(items - kMaxItems) + " more items"});
      continue;
    }
    // A scalar or a whole text: the meta data list's own item at the top level.
    BrennicMetaData meta;
    const BrennicMetaData* shown = &meta;
    if (top != nullptr && index < top->count && top->items[index] != nullptr) {
      shown = top->items[index];
    } else {
      record.GetMetaData(path.c_str(), meta);
    }
    std::string typeName = toUtf8(shown->typeName);
    if (typeName.empty()) typeName = element->type->GetTypeName();
    rows.push_back({path, typeName, shownValue(record, path, *shown)});
  }
}

// Why a path has no settable text form, or "" when it has one. `meta` is GetMetaData's fill.
std::string refusePath(BrennicData& record, const std::string& path, const BrennicMetaData& meta) {
  unsigned int offset = 0;
  unsigned int size = 0;
  DataVariable* element = nullptr;
  const int code = record.LocateField(path.c_str(), offset, size, &element);
  const std::string typeName = record.GetTypeName() != nullptr ? record.GetTypeName() : "";
  if (code == OstrelCode::kElementNotFound) return "no field '" + path + "' in " + typeName;
  if (code == OstrelCode::kIndexOutOfRange) return "'" + path + "': index out of range, or more than one index";
  if (code == OstrelCode::kUntypedElement) return "'" + path + "' has a type no server defines";
  if (code != OstrelCode::kOk) return "'" + path + "' cannot be located (" + std::to_string(code) + ")";
  if (element == nullptr || element->type == nullptr) return "'" + path + "' has a type no server defines";
  const std::string elementType = element->type->GetTypeName();
  if (isNested(*element)) {
    const bool array = size > element->type->GetTypeSize();
    return "'" + path + "' is " + (array ? "an array of " : "of type ") + elementType + "; assign its fields (e.g. " +
           path + (array ? "[0]" : "") + "." + layoutOrder(element->type).front().first->name + "=...)";
  }
  if (size > element->type->GetTypeSize() && !isText(*element)) {
    return "'" + path + "' has " + std::to_string(element->count) + " items; assign one (e.g. " + path + "[0]=...)";
  }
  if (meta.typeName[0] == L'\0') return "'" + path + "' (" + elementType + ") has no text form";
  return "";
}

std::string valueHint(const std::string& type) {
  if (type == "unsigned_int") return "a whole number from 0 to 4294967295";
  if (type == "signed_int") return "a whole number from -2147483648 to 2147483647";
  if (type == "word" || type == "wchar") return "a whole number from 0 to 65535";
  if (type == "signed_word") return "a whole number from -32768 to 32767";
  if (type == "char" || type == "byte") return "a number (its low 8 bits are stored), not a character";
  if (type == "float" || type == "double") return "a decimal number, infinity or nan, within the type's range";
  return "a value of the type";
}

struct Assignment {
  std::string path;
  BrennicMetaData meta;
};

}  // namespace

std::wstring fromUtf8(const std::string& text) {
  std::wstring out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p++;
    char32_t c = lead;
    int more = 0;
    char32_t min = 0;
    if (lead >= 0x80) {
      if ((lead & 0xE0) == 0xC0) more = 1, c = lead & 0x1F, min = 0x80;
      else if ((lead & 0xF0) == 0xE0) more = 2, c = lead & 0x0F, min = 0x800;
      else if ((lead & 0xF8) == 0xF0) more = 3, c = lead & 0x07, min = 0x10000;
      else more = -1;
      const unsigned char* q = p;
      for (int i = 0; i < more; ++i, ++q) {
        if (q == end || (*q & 0xC0) != 0x80) {
          more = -1;
          break;
        }
        c = (c << 6) | (*q & 0x3F);
      }
      if (more < 0 || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
      } else {
        p = q;
      }
    }
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

std::string toUtf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void printRecord(std::ostream& out, BrennicData& record) {
  const TarnDataType* type = typeOf(record);
  if (type == nullptr) {
    out << "(a record without a type: " << record.GetBufferSize() << " raw bytes)\n";
    return;
  }
  BrennicMetaList list;
  record.GetMetaDataList(list);
  std::vector<Row> rows;
  addRows(record, type, "", 0, &list, rows);

  Row header{"ELEMENT", "TYPE", "VALUE"};
  std::size_t w0 = header.element.size();
  std::size_t w1 = header.type.size();
  for (const Row& r : rows) {
    w0 = std::max(w0, r.element.size());
    w1 = std::max(w1, r.type.size());
  }
  auto print = [&](const Row& r) {
    std::string line = r.element + std::string(w0 - r.element.size() + 2, ' ') + r.type +
                       std::string(w1 - r.type.size() + 2, ' ') + r.value;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  print(header);
  for (const Row& r : rows) print(r);
}

bool fieldText(BrennicData& record, const std::string& path, std::string& text, std::string& error) {
  if (typeOf(record) == nullptr) {
    error = "the record has no data type";
    return false;
  }
  BrennicMetaData meta;
  try {
    record.GetMetaData(path.c_str(), meta);
    error = refusePath(record, path, meta);
  } catch (const boost::bad_lexical_cast&) {
    error = "'" + path + "': an index must be a whole number";
  }
  if (!error.empty()) return false;
  const std::string type = toUtf8(meta.typeName);
  text = type == "char" || type == "byte" ? std::to_string(record.GetUnSignedCharValue(path.c_str())) : toUtf8(meta.value);
  return true;
}

std::string jsonString(const std::string& text) { return quotedWith(text, "\\u00", false); }

std::vector<FieldText> fieldTexts(BrennicData& record) {
  std::vector<FieldText> fields;
  const TarnDataType* type = typeOf(record);
  if (type == nullptr) return fields;
  BrennicMetaList list;
  record.GetMetaDataList(list);
  std::vector<Row> rows;
  addRows(record, type, "", 0, &list, rows);
  for (const Row& row : rows) {
    std::string text, error;
    if (row.type.empty() || row.type == "?" || !fieldText(record, row.element, text, error)) continue;
    fields.push_back({row.element, row.type, text});
  }
  return fields;
}

std::string jsonValue(const FieldText& field) {
  const bool textual = field.type == "char*" || field.type == "wchar*";
  const bool number = !textual && !field.text.empty() &&
                      field.text.find_first_not_of("0123456789.-+e") == std::string::npos;
  return number ? field.text : jsonString(field.text);
}

std::string recordJson(BrennicData& record) {
  const char* name = record.GetDataName();
  std::string out = "{\"name\": " + jsonString(name ? name : "") + ", \"type\": ";
  out += typeOf(record) ? jsonString(record.GetTypeName()) : std::string("null");
  out += ", \"fields\": {";
  bool first = true;
  for (const FieldText& field : fieldTexts(record)) {
    out += (first ? "" : ", ") + jsonString(field.path) + ": " + jsonValue(field);
    first = false;
  }
  return out + "}}";
}

bool parseAssignments(BrennicData& record, const std::vector<std::string>& args, std::string& error) {
  if (typeOf(record) == nullptr && !args.empty()) {
    error = "the record has no data type; nothing can be assigned";
    return false;
  }
  std::vector<Assignment> checked;
  const ValueConvetor& convertor = ValueConvetor::shared();
  for (const std::string& arg : args) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "'" + arg + "' is not path=value";
      return false;
    }
    Assignment a;
    a.path = arg.substr(0, eq);
    const std::string value = arg.substr(eq + 1);
    try {
      record.GetMetaData(a.path.c_str(), a.meta);
      const std::string why = refusePath(record, a.path, a.meta);
      if (!why.empty()) {
        error = why;
        return false;
      }
    } catch (const boost::bad_lexical_cast&) {
      error = "'" + a.path + "': an index must be a whole number";
      return false;
    }
    const std::string type = toUtf8(a.meta.typeName);
    const std::wstring wide = fromUtf8(value);
    if (wide.size() >= static_cast<std::size_t>(BrennicMetaData::kValueCapacity)) {
      error = "the value for '" + a.path + "' is longer than " +
              std::to_string(BrennicMetaData::kValueCapacity - 1) + " characters";
      return false;
    }
    if (type == "char*" && value.size() > a.meta.length) {
      error = "the text for '" + a.path + "' takes " + std::to_string(value.size()) + " bytes; the field holds " +
              std::to_string(a.meta.length);
      return false;
    }
    if (type == "wchar*") {
      std::size_t units = 0;
      for (wchar_t c : wide) units += (sizeof(wchar_t) == 4 && static_cast<std::uint32_t>(c) > 0xFFFF) ? 2 : 1;
      if (units > a.meta.length / 2u) {
        error = "the text for '" + a.path + "' takes " + std::to_string(units) + " UTF-16 units; the field holds " +
                std::to_string(a.meta.length / 2);
        return false;
      }
    }
    // The conversion would wrap a negative number into an unsigned field (-5 as 4294967291).
    const bool unsignedField = type == "unsigned_int" || type == "word" || type == "wchar";
    if (unsignedField && value.find('-') != std::string::npos) {
      error = "'" + value + "' is not a value for '" + a.path + "' (" + type + ": " + valueHint(type) + ")";
      return false;
    }
    std::wcsncpy(a.meta.value, wide.c_str(), BrennicMetaData::kValueCapacity - 1);
    a.meta.value[BrennicMetaData::kValueCapacity - 1] = L'\0';
    switch (convertor.check(a.meta)) {
      case ValueConvetor::Outcome::kStored:
        break;
      case ValueConvetor::Outcome::kNotSettable:
        error = "'" + a.path + "' (" + type + ") cannot be set from text";
        return false;
      case ValueConvetor::Outcome::kUnparsed:
        error = "'" + value + "' is not a value for '" + a.path + "' (" + type + ": " + valueHint(type) + ")";
        return false;
      default:
        error = "'" + a.path + "' (" + type + ") has no text form";
        return false;
    }
    checked.push_back(a);
  }
  for (Assignment& a : checked) {
    const std::string type = toUtf8(a.meta.typeName);
    if (type == "char" || type == "byte") {
      // PutMetaData leaves a char that shows as a digit alone when that digit is put back ('5'
      // shows "5"); a person typing 5 means the number, so it is stored as one.
      record.PutValue(a.path.c_str(), static_cast<unsigned char>(std::stoll(toUtf8(a.meta.value)) & 0xFF));
    } else {
      record.PutMetaData(a.meta);
    }
  }
  return true;
}

BrennicData* decodedOrSelf(BrennicData& record, BrennicData& decoded, char*& bytes, unsigned int& length) {
  if (record.GetTypeName() == nullptr && record.heldValue(bytes, length) == 0 && length > 0 &&
      decoded.tryFromStream(bytes, length) && decoded.GetTypeName() != nullptr)
    return &decoded;
  return &record;
}

std::string valueJson(BrennicData& record) {
  BrennicData decoded;
  char* bytes = nullptr;
  unsigned int length = 0;
  BrennicData* shown = decodedOrSelf(record, decoded, bytes, length);
  std::string object = recordJson(*shown);
  if (shown->GetTypeName() == nullptr) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; bytes != nullptr && i < length; ++i) {
      hex += digits[static_cast<unsigned char>(bytes[i]) >> 4];
      hex += digits[static_cast<unsigned char>(bytes[i]) & 15];
    }
    object.insert(object.size() - 1, ", \"hex\": \"" + hex + "\"");
  }
  return object;
}

std::string receivedJson(const std::string& where, BrennicData& record) {
  return "{\"box\": " + jsonString(where) + ", " + valueJson(record).substr(1);
}

}  // namespace tool
