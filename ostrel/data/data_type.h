/// @file
/// TarnDataType and DataVariable: the byte layout of one middleware data type.
///
/// A type has a name, a size in bytes and named elements; each element (DataVariable) gives its
/// own type, its byte offset inside the parent and its number of array items, and occupies
/// count x type->size bytes from its offset. A type without elements is a base type. Texts are
/// elements of type "char" or "wchar" with more than one item, stored inline.
///
/// Types are created and owned by the type manager (type_mgr.h), which writes their element
/// tables only while it builds, under its lock; afterwards they are only read, from any thread.
/// A type takes no lock of its own; the cache (getCache/setCache) is unguarded and callers that
/// share it across threads serialise those calls. Names are compared byte for byte.
///
/// Apart from that cache, a type keeps the field paths the library has resolved on it
/// (pathCache, see ostrel/data/field_path.h): created on the first resolved path, safe from any
/// thread, deleted with the type. A DataVariable must not change once it is pushed, or paths
/// resolved through it would keep its old offset, count or type.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ostrel/api/export.h"

class TarnDataType;

namespace ostrel {
namespace data {
class PathCache;
}
}  // namespace ostrel

/// Byte-wise name order (unsigned bytes, a prefix first). Transparent, so that lookups by
/// std::string_view need no temporary string; compares inline, as names are short.
struct TarnNameLess {
  using is_transparent = void;  ///< lookups by std::string_view
  /// True when `a` comes before `b`.
  bool operator()(std::string_view a, std::string_view b) const {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]);
      unsigned char y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

/// One element of a type. Owned by the type that holds it.
struct OSTREL_EXPORT DataVariable {
  TarnDataType* type = nullptr;  ///< not owned; null when no type of that name existed
  std::string name;              ///< the element's name
  unsigned short offset = 0;     ///< byte offset of the first item inside the parent
  unsigned short count = 0;      ///< number of items; 1 for a scalar
};

/// The byte layout of one data type: name, size and elements. Made and owned by the type
/// manager; neither copyable nor movable.
class OSTREL_EXPORT TarnDataType {
 public:
  /// Elements by name, in the order of their first PushElement; the type owns the elements.
  using ElementList = std::vector<std::pair<std::string, DataVariable*>>;

  /// A type `name` (null: the empty name) of `size` bytes, without elements.
  TarnDataType(const char* name, unsigned short size);
  /// Deletes every element and the resolved paths.
  virtual ~TarnDataType();
  TarnDataType(const TarnDataType&) = delete;
  TarnDataType& operator=(const TarnDataType&) = delete;

  /// The name's characters, valid while the type lives.
  const char* GetTypeName() const { return name_.c_str(); }
  /// The size of one value of the type, in bytes.
  unsigned short GetTypeSize() const { return size_; }

  /// The element whose name equals `name` exactly, or null. No path syntax is interpreted.
  DataVariable* GetElement(const char* name);
  /// The same lookup for the library's own path walk, which holds types as const.
  DataVariable* GetElement(std::string_view name) const;
  /// The elements in the order of their first PushElement.
  const ElementList& GetAllElement() const { return elementOrder_; }

  /// Takes ownership of `var`. The first element of a name wins: when `name` is already
  /// present, `var` is deleted at once and nothing changes.
  void PushElement(const char* name, DataVariable* var);

  /// The pair stored under `key` by setCache into `first` and `second`: true; false (both left
  /// alone) for a null or unknown key. No lock: see the file comment.
  bool getCache(const char* key, int& first, int& second);
  /// Stores the pair under `key`, replacing one stored before; a null key does nothing.
  void setCache(const char* key, int first, int second);

  /// The library's resolved paths: null until a path has resolved on this type.
  const ostrel::data::PathCache* cachedPaths() const { return paths_.load(std::memory_order_acquire); }
  /// The same, created on first use (by whichever thread gets there first).
  ostrel::data::PathCache& pathCache() const;

  /// Set by the type manager during a full build for a type whose elements are not to be
  /// fetched again; never cleared.
  int loaded = 0;

 private:
  std::string name_;
  unsigned short size_;
  std::map<std::string, DataVariable*, TarnNameLess> elements_;  ///< owns the elements
  ElementList elementOrder_;                                     ///< same pointers, not owning
  std::map<std::string, std::pair<int, int>, TarnNameLess> cache_;
  mutable std::atomic<ostrel::data::PathCache*> paths_{nullptr};  ///< owned
};
