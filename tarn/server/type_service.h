// Type definitions of one server: the type book read from XML, and the type service that hands
// the definitions out, as one packed stream or type by type.
//
// Type definition XML:
//   <types>
//     <type name="AnalogPoint" size="32">
//       <element name="value" type="double" offset="0" count="1"/>   count defaults to 1
//       ...
//     </type>
//   </types>
// An element's type is a base type (unsigned_int, signed_int, char, word, signed_word, kx_time,
// double, float, byte, wchar, kx_time2) or another type of the same file, defined before or
// after. Every element must lie inside its type; names are at most 127 bytes; element names are
// unique within a type; types may not contain themselves, directly or through others, and nest
// at most TypeBook::kMaxNesting (64) levels deep: a type of base elements only is one level, a
// type with an element of such a type two. Whatever walks a type down through its elements (the
// library's records, the tools, the Python module) may then recurse without running out of
// stack; the check itself walks with a stack of its own, so no file can overrun the server's.
//
// A TypeBook is immutable once built and may be read from any thread. TypeService servants run
// on the ORB's threads; every operation first consults the server's fault plans.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/faults.h"

namespace tarn {

class TypeBook {
 public:
  struct Element {
    std::string name;
    std::string typeName;
    std::uint16_t offset = 0;
    std::uint16_t count = 1;
  };
  struct Type {
    std::string name;
    std::uint16_t size = 0;
    std::vector<Element> elements;  // in layout order: by offset, then file order
  };

  // The deepest nesting a type file may hold (see above).
  static constexpr int kMaxNesting = 64;

  // Throw std::runtime_error naming the file, type and element at fault.
  static std::shared_ptr<const TypeBook> fromXml(const std::string& xml);
  static std::shared_ptr<const TypeBook> fromFile(const std::string& path);

  // The defined types' names in file order (base types are not listed).
  const std::vector<std::string>& typeNames() const { return names_; }
  // The defined type of that name, or null (also for base types).
  const Type* find(const std::string& name) const;
  // Size of a defined or base type in bytes; -1 when unknown.
  int typeSize(const std::string& name) const;
  // The packed type definition stream of every defined type, in file order.
  const std::vector<char>& stream() const { return stream_; }

 private:
  TypeBook() = default;
  void validate() const;
  void pack();

  std::vector<std::string> names_;
  std::map<std::string, Type> types_;
  std::vector<char> stream_;
};

// The built-in plant types of the embedded server and the demo.
const char* defaultTypesXml();

// The middleware's type service (DT_manager) over one type book.
class TypeService : public POA_kxTarn::DT_manager {
 public:
  TypeService(std::shared_ptr<const TypeBook> book, FaultBook& faults);

  // When set, get_type_stream refuses (kNotSupported) so that clients read type by type.
  void setRefuseStream(bool refuse) { refuseStream_ = refuse; }
  // The folder of snapshot files (ServerHost::snapshotFolder). Call before activation. A type
  // snapshot file holds the packed stream; the service keeps the types it started with, so a
  // load only checks the file and answers kOk when it holds these types, kNotSupported when
  // other ones.
  void setSnapshotFolder(std::function<std::string()> folder) { folder_ = std::move(folder); }

  CORBA::Long get_type_stream(kxTarn::DATA_BUFFER_out stream) override;
  kxTarn::STRING_LIST* get_type_names() override;
  CORBA::ULong get_type_size(const char* typeName) override;
  CORBA::Long get_type_elements(const char* typeName, kxTarn::DT_INFO_SEQ_out elements) override;
  CORBA::Long make_snapshot_file(const char* file, const char* option) override;
  CORBA::Long load_snapshot_file(const char* file, const char* option) override;

 private:
  std::shared_ptr<const TypeBook> book_;
  FaultBook& faults_;
  std::atomic<bool> refuseStream_{false};
  std::function<std::string()> folder_;
};

}  // namespace tarn
