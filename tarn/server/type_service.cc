#include "tarn/server/type_service.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <pugixml.hpp>

#include "tarn/client/codes.h"
#include "tarn/server/rights.h"
#include "tarn/server/snapshot_file.h"

namespace tarn {
namespace {

struct BaseType {
  const char* name;
  int size;
};
const BaseType kBaseTypes[] = {
    {"unsigned_int", 4}, {"signed_int", 4}, {"char", 1},   {"word", 2},
    {"signed_word", 2},  {"kx_time", 4},    {"double", 8}, {"float", 4},
    {"byte", 1},         {"wchar", 2},      {"kx_time2", 8},
};

int baseTypeSize(const std::string& name) {
  for (const BaseType& base : kBaseTypes) {
    if (name == base.name) return base.size;
  }
  return -1;
}

// Stream layout (see ostrel/data/type_mgr.h for the reader).
constexpr std::size_t kNameField = 128;
constexpr std::size_t kTypeHeader = 140;
constexpr std::size_t kElementRecord = 264;
constexpr std::uint32_t kStreamVersion = 1;

void putU32(std::vector<char>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putU16(std::vector<char>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}
void putName(std::vector<char>& out, std::size_t at, const std::string& name) {
  std::memcpy(&out[at], name.data(), std::min(name.size(), kNameField - 1));
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

unsigned long numberAttribute(const pugi::xml_node& node, const char* attribute,
                              unsigned long fallback, bool required, const std::string& where) {
  pugi::xml_attribute a = node.attribute(attribute);
  if (!a) {
    if (required) fail(where + ": missing attribute '" + attribute + "'");
    return fallback;
  }
  const char* text = a.value();
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, 10);
  if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || v > 65535) {
    fail(where + ": attribute '" + attribute + "' must be a number from 0 to 65535, not '" +
         text + "'");
  }
  return v;
}

}  // namespace

std::shared_ptr<const TypeBook> TypeBook::fromXml(const std::string& xml) {
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    fail(std::string("type definitions: XML error at byte ") + std::to_string(parsed.offset) +
         ": " + parsed.description());
  }
  pugi::xml_node root = doc.child("types");
  if (!root) fail("type definitions: no <types> element");

  std::shared_ptr<TypeBook> book(new TypeBook);
  for (pugi::xml_node node : root.children("type")) {
    Type type;
    type.name = node.attribute("name").value();
    std::string where = "type '" + type.name + "'";
    if (type.name.empty()) fail("type definitions: a type without a name");
    if (type.name.size() >= kNameField) fail(where + ": name longer than 127 bytes");
    if (baseTypeSize(type.name) >= 0) fail(where + ": redefines a base type");
    if (book->types_.count(type.name)) fail(where + ": defined twice");
    type.size = static_cast<std::uint16_t>(numberAttribute(node, "size", 0, true, where));
    std::set<std::string> seen;
    for (pugi::xml_node e : node.children("element")) {
      Element element;
      element.name = e.attribute("name").value();
      element.typeName = e.attribute("type").value();
      std::string at = where + ", element '" + element.name + "'";
      if (element.name.empty()) fail(where + ": an element without a name");
      if (element.name.size() >= kNameField || element.typeName.size() >= kNameField) {
        fail(at + ": name longer than 127 bytes");
      }
      if (!seen.insert(element.name).second) fail(at + ": defined twice");
      element.offset = static_cast<std::uint16_t>(numberAttribute(e, "offset", 0, true, at));
      element.count = static_cast<std::uint16_t>(numberAttribute(e, "count", 1, false, at));
      if (element.count == 0) fail(at + ": count must be at least 1");
      type.elements.push_back(element);
    }
    std::stable_sort(type.elements.begin(), type.elements.end(),
                     [](const Element& a, const Element& b) { return a.offset < b.offset; });
    book->names_.push_back(type.name);
    book->types_.emplace(type.name, std::move(type));
  }
  book->validate();
  book->pack();
  return book;
}

std::shared_ptr<const TypeBook> TypeBook::fromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("type definitions: cannot read '" + path + "'");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return fromXml(text.str());
  } catch (const std::runtime_error& e) {
    fail(path + ": " + e.what());
  }
}

void TypeBook::validate() const {
  for (const auto& entry : types_) {
    const Type& type = entry.second;
    for (const Element& element : type.elements) {
      std::string at = "type '" + type.name + "', element '" + element.name + "'";
      int itemSize = typeSize(element.typeName);
      if (itemSize < 0) fail(at + ": unknown type '" + element.typeName + "'");
      unsigned long end = element.offset + static_cast<unsigned long>(itemSize) * element.count;
      if (end > type.size) {
        fail(at + ": ends at byte " + std::to_string(end) + ", beyond the type's size " +
             std::to_string(type.size));
      }
    }
  }
  // No type may contain itself or nest deeper than kMaxNesting: a depth-first walk over element
  // types on a stack of its own (a file's nesting must not decide how deep this thread's stack
  // goes). `levels` holds the nesting of every type walked to its end.
  struct Step {
    const Type* type;
    std::size_t next;  // the element to look at next
    int levels;        // the deepest nesting found below so far, this type included
  };
  std::map<std::string, int> levels;
  std::set<std::string> onPath;
  std::vector<Step> path;
  for (const std::string& root : names_) {
    if (levels.count(root)) continue;
    const auto tooDeep = [&] {
      fail("type '" + root + "' nests types more than " + std::to_string(kMaxNesting) +
           " levels deep (the limit of a type file)");
    };
    path.push_back({&types_.at(root), 0, 1});
    onPath.insert(root);
    while (!path.empty()) {
      Step& step = path.back();
      if (step.next == step.type->elements.size()) {
        const int done = step.levels;
        levels[step.type->name] = done;
        onPath.erase(step.type->name);
        path.pop_back();
        if (!path.empty()) path.back().levels = std::max(path.back().levels, done + 1);
        continue;
      }
      const auto inner = types_.find(step.type->elements[step.next++].typeName);
      if (inner == types_.end()) continue;  // a base type
      if (onPath.count(inner->first)) fail("type '" + inner->first + "' contains itself");
      const auto known = levels.find(inner->first);
      if (known != levels.end()) {
        step.levels = std::max(step.levels, known->second + 1);
        // Every type on the path nests at least one level more than the one above it.
        if (step.levels + static_cast<int>(path.size()) - 1 > kMaxNesting) tooDeep();
        continue;
      }
      if (static_cast<int>(path.size()) == kMaxNesting) tooDeep();
      path.push_back({&inner->second, 0, 1});
      onPath.insert(inner->first);
    }
  }
}

void TypeBook::pack() {
  std::size_t total = 8;
  for (const std::string& name : names_) {
    total += kTypeHeader + kElementRecord * types_.at(name).elements.size();
  }
  stream_.assign(total, 0);
  putU32(stream_, 0, kStreamVersion);
  putU32(stream_, 4, static_cast<std::uint32_t>(names_.size()));
  std::size_t at = 8;
  for (const std::string& name : names_) {
    const Type& type = types_.at(name);
    putName(stream_, at, type.name);
    putU32(stream_, at + 128, static_cast<std::uint32_t>(type.elements.size()));
    putU32(stream_, at + 136, type.size);
    at += kTypeHeader;
    for (const Element& element : type.elements) {
      putName(stream_, at, element.typeName);
      putName(stream_, at + 128, element.name);
      putU16(stream_, at + 256, element.offset);
      putU16(stream_, at + 260, element.count);
      at += kElementRecord;
    }
  }
}

const TypeBook::Type* TypeBook::find(const std::string& name) const {
  auto it = types_.find(name);
  return it != types_.end() ? &it->second : nullptr;
}

int TypeBook::typeSize(const std::string& name) const {
  auto it = types_.find(name);
  if (it != types_.end()) return it->second.size;
  return baseTypeSize(name);
}

// --- the service ----------------------------------------------------------------------------

TypeService::TypeService(std::shared_ptr<const TypeBook> book, FaultBook& faults)
    : book_(std::move(book)), faults_(faults) {}

CORBA::Long TypeService::get_type_stream(kxTarn::DATA_BUFFER_out stream) {
  stream = new kxTarn::DATA_BUFFER;
  TARN_FAULT_POINT(faults_, "get_type_stream");
  if (refuseStream_) return kNotSupported;
  const std::vector<char>& bytes = book_->stream();
  stream->length(static_cast<CORBA::ULong>(bytes.size()));
  if (!bytes.empty()) std::memcpy(stream->get_buffer(), bytes.data(), bytes.size());
  return kOk;
}

kxTarn::STRING_LIST* TypeService::get_type_names() {
  kxTarn::STRING_LIST_var names = new kxTarn::STRING_LIST;
  // A planned result code has no place in this reply: it leaves the list empty.
  if (faults_.enter("get_type_names") != 0) return names._retn();
  const std::vector<std::string>& all = book_->typeNames();
  names->length(static_cast<CORBA::ULong>(all.size()));
  for (CORBA::ULong i = 0; i < names->length(); ++i) names[i] = all[i].c_str();
  return names._retn();
}

CORBA::ULong TypeService::get_type_size(const char* typeName) {
  if (faults_.enter("get_type_size") != 0 || typeName == nullptr) return 0;
  int size = book_->typeSize(typeName);
  return size < 0 ? 0 : static_cast<CORBA::ULong>(size);
}

CORBA::Long TypeService::get_type_elements(const char* typeName,
                                           kxTarn::DT_INFO_SEQ_out elements) {
  elements = new kxTarn::DT_INFO_SEQ;
  TARN_FAULT_POINT(faults_, "get_type_elements");
  if (typeName == nullptr) return kBadArgument;
  const TypeBook::Type* type = book_->find(typeName);
  if (type == nullptr) return baseTypeSize(typeName) >= 0 ? kOk : kUnknownType;
  elements->length(static_cast<CORBA::ULong>(type->elements.size()));
  for (CORBA::ULong i = 0; i < elements->length(); ++i) {
    const TypeBook::Element& element = type->elements[i];
    kxTarn::DT_INFO& info = (*elements)[i];
    info.typeName = element.typeName.c_str();
    info.name = element.name.c_str();
    info.count = element.count;
    info.offset = element.offset;
  }
  return kOk;
}

CORBA::Long TypeService::make_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(faults_, "make_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, "");  // types belong to no realm: the default realm's right
  std::string path;
  if (int rc = snapshotPath(folder_ ? folder_() : std::string(), file, path)) return rc;
  const std::vector<char>& stream = book_->stream();
  return writeSnapshotFile(path, SnapshotKind::kTypes, std::string(stream.begin(), stream.end()));
}

CORBA::Long TypeService::load_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(faults_, "load_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, "");  // types belong to no realm: the default realm's right
  std::string path, body;
  if (int rc = snapshotPath(folder_ ? folder_() : std::string(), file, path)) return rc;
  if (int rc = readSnapshotFile(path, SnapshotKind::kTypes, body)) return rc;
  const std::vector<char>& stream = book_->stream();
  return body == std::string(stream.begin(), stream.end()) ? kOk : kNotSupported;
}

const char* defaultTypesXml() {
  return R"(<types>
  <!-- A measured value with its quality, time stamp and unit text. -->
  <type name="AnalogPoint" size="32">
    <element name="value" type="double" offset="0"/>
    <element name="quality" type="unsigned_int" offset="8"/>
    <element name="stamp" type="kx_time" offset="12"/>
    <element name="unit" type="char" offset="16" count="16"/>
  </type>
  <type name="DigitalPoint" size="16">
    <element name="state" type="byte" offset="0"/>
    <element name="quality" type="unsigned_int" offset="4"/>
    <element name="stamp" type="kx_time2" offset="8"/>
  </type>
  <type name="PumpState" size="80">
    <element name="running" type="byte" offset="0"/>
    <element name="mode" type="signed_word" offset="2"/>
    <element name="starts" type="unsigned_int" offset="4"/>
    <element name="speed" type="AnalogPoint" offset="8"/>
    <element name="pressure" type="AnalogPoint" offset="40"/>
    <element name="runHours" type="double" offset="72"/>
  </type>
  <type name="Alarm" size="144">
    <element name="code" type="signed_int" offset="0"/>
    <element name="severity" type="word" offset="4"/>
    <element name="acked" type="byte" offset="6"/>
    <element name="raised" type="kx_time2" offset="8"/>
    <element name="text" type="char" offset="16" count="64"/>
    <element name="wtext" type="wchar" offset="80" count="32"/>
  </type>
  <type name="Station" size="384">
    <element name="name" type="char" offset="0" count="32"/>
    <element name="pumps" type="PumpState" offset="32" count="4"/>
    <element name="levels" type="float" offset="352" count="8"/>
  </type>
</types>
)";
}

}  // namespace tarn
