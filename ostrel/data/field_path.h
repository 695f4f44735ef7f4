// Field location by path text: the walk shared by records, partial records and the value
// converter, and the per-type cache of the paths it has resolved. Internal to the library.
//
// A path is segments separated by '.'; each segment is an element name optionally followed by
// one index in brackets ("name" or "name[index]"). '[' and ']' both separate pieces inside a
// segment; empty segments and empty pieces are dropped, so "a..b" is "a.b" and "a[]" is "a".
// The index is a decimal int with an optional sign; anything else throws
// boost::bad_lexical_cast. A path with neither '.' nor '[' is looked up whole as one name.
//
// Caching: a path that resolves is remembered by its type (TarnDataType::pathCache), keyed by
// the path's exact text, and later lookups of that text on that type skip the walk. Only
// resolved paths are kept: types only ever gain elements (the first definition of a name wins,
// none is removed or replaced), so a path once resolved keeps its answer for the type's whole
// life, while a refused path may resolve once an element is added and is walked every time.
// A rebound name is a new TarnDataType with a cache of its own; a type's cache is deleted with
// the type. Requires that an element's DataVariable is not changed once it is pushed.
//
// Threads: locateField and walkField may be called from any thread, also while the type manager
// adds types or elements to types other than the one walked. A cache hit takes no lock and
// writes no shared memory; a miss that resolves takes the cache's writer mutex once to add the
// path. A hit does not allocate; a miss that resolves allocates once to remember the path. Both
// functions throw only for a bad index.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

class TarnDataType;
struct DataVariable;

namespace ostrel {
namespace data {

struct FieldLocation {
  std::uint32_t offset = 0;         // from the start of the record's raw value
  std::uint32_t size = 0;           // bytes: the whole element, or one item with an index
  DataVariable* element = nullptr;  // the last segment's element
};

// 0 and `out` filled, or: kRecordWithoutType (no type), kElementNotFound (a name the current
// type lacks, a null path, or a path without any segment), kIndexOutOfRange (an index outside
// the element's items, or more than one index in a segment), kUntypedElement (the path goes
// through or ends on an element whose type was unknown when it was defined), kInvalidRecord
// (an offset beyond 32 bits, only with malformed types). `out` is left alone on a failure.
// Served from the type's cache when the path resolved before.
int locateField(const TarnDataType* type, const char* path, FieldLocation& out);

// The same answer by walking the type's element maps, without the cache.
int walkField(const TarnDataType* type, const char* path, FieldLocation& out);

// The resolved paths of one type: path text to location. Lookups are lock-free; additions are
// serialised by a mutex of its own. Entries are never changed or removed while the cache lives;
// a lookup table that grows is replaced, and the earlier ones stay until the cache goes, as a
// reader may still be probing them. Holds at most kMaxEntries paths; later ones are not kept.
// Not copyable or movable.
class PathCache {
 public:
  static constexpr std::size_t kMaxEntries = 1024;

  PathCache() = default;
  ~PathCache() = default;
  PathCache(const PathCache&) = delete;
  PathCache& operator=(const PathCache&) = delete;

  // The hash that find and add expect for `path`.
  static std::uint64_t hash(std::string_view path);

  // True and `out` filled when `path` is kept; false and `out` untouched otherwise.
  bool find(std::string_view path, std::uint64_t hash, FieldLocation& out) const;
  // Keeps `path` unless it is kept already or the cache is full.
  void add(std::string_view path, std::uint64_t hash, const FieldLocation& where);
  // The number of paths kept.
  std::size_t size() const;

 private:
  // An entry and a table are one block each, allocated with ::operator new and trivially
  // destructible, so that a lookup reads the text and the slots without a further indirection.
  struct Free {
    void operator()(void* block) const { ::operator delete(block); }
  };
  struct Entry {
    std::uint64_t hash;
    FieldLocation where;
    std::size_t length;
    const char* text() const { return reinterpret_cast<const char*>(this + 1); }  // `length` bytes
  };
  // Open addressing over a power-of-two number of slots, at most half of them filled.
  struct Table {
    std::size_t mask;
    std::atomic<const Entry*>* slots() { return reinterpret_cast<std::atomic<const Entry*>*>(this + 1); }
    const std::atomic<const Entry*>* slots() const {
      return reinterpret_cast<const std::atomic<const Entry*>*>(this + 1);
    }
  };

  static std::unique_ptr<Table, Free> makeTable(std::size_t slots);
  static const Entry* probe(const Table& table, std::string_view path, std::uint64_t hash);
  static void place(Table& table, const Entry* entry);

  std::atomic<const Table*> table_{nullptr};
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Entry, Free>> entries_;  // GUARDED_BY(mutex_)
  std::vector<std::unique_ptr<Table, Free>> tables_;   // GUARDED_BY(mutex_); the last is current
};

}  // namespace data
}  // namespace ostrel
