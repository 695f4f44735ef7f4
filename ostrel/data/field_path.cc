#include "ostrel/data/field_path.h"

#include <cstring>
#include <limits>
#include <new>

#include <boost/lexical_cast.hpp>

#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"

namespace ostrel {
namespace data {
namespace {

// Parses an index piece: an optional sign and decimal digits that fit an int. Anything else
// goes to boost::lexical_cast, which throws bad_lexical_cast for it (and would accept any form
// this fast path does not know).
int parseIndex(std::string_view piece) {
  std::size_t i = 0;
  bool negative = false;
  if (!piece.empty() && (piece[0] == '+' || piece[0] == '-')) {
    negative = piece[0] == '-';
    i = 1;
  }
  if (i < piece.size() && piece.size() - i <= 9) {
    int value = 0;
    for (; i < piece.size(); ++i) {
      char c = piece[i];
      if (c < '0' || c > '9') break;
      value = value * 10 + (c - '0');
    }
    if (i == piece.size()) return negative ? -value : value;
  }
  return boost::lexical_cast<int>(piece.data(), piece.size());
}

int walk(const TarnDataType* type, std::string_view path, FieldLocation& out) {
  if (path.find_first_of(".[") == std::string_view::npos) {
    DataVariable* element = type->GetElement(path);
    if (element == nullptr) return OstrelCode::kElementNotFound;
    if (element->type == nullptr) return OstrelCode::kUntypedElement;
    out.offset = element->offset;
    out.size = static_cast<std::uint32_t>(element->count) * element->type->GetTypeSize();
    out.element = element;
    return OstrelCode::kOk;
  }

  const std::size_t length = path.size();
  const TarnDataType* current = type;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  DataVariable* element = nullptr;
  std::size_t at = 0;
  while (at < length) {
    // One segment: up to the next '.', cut into pieces at '[' and ']' (empty pieces dropped).
    std::string_view pieces[2];
    int count = 0;
    std::size_t start = at;
    for (;; ++at) {
      char c = at < length ? path[at] : '.';
      if (c == '.' || c == '[' || c == ']') {
        if (at > start) {
          if (count < 2) pieces[count] = path.substr(start, at - start);
          ++count;
        }
        start = at + 1;
        if (c == '.') break;
      }
    }
    ++at;
    if (count == 0) continue;  // an empty segment, or brackets only
    if (count > 2) return OstrelCode::kIndexOutOfRange;
    element = current->GetElement(pieces[0]);
    if (element == nullptr) return OstrelCode::kElementNotFound;
    if (element->type == nullptr) return OstrelCode::kUntypedElement;
    std::uint32_t itemSize = element->type->GetTypeSize();
    offset += element->offset;
    if (count == 1) {
      size = static_cast<std::uint64_t>(element->count) * itemSize;
    } else {
      int index = parseIndex(pieces[1]);
      if (index < 0 || index >= element->count) return OstrelCode::kIndexOutOfRange;
      size = itemSize;
      offset += static_cast<std::uint64_t>(index) * itemSize;
    }
    current = element->type;
  }
  if (element == nullptr) return OstrelCode::kElementNotFound;
  if (offset + size > std::numeric_limits<std::uint32_t>::max()) return OstrelCode::kInvalidRecord;
  out.offset = static_cast<std::uint32_t>(offset);
  out.size = static_cast<std::uint32_t>(size);
  out.element = element;
  return OstrelCode::kOk;
}

std::uint64_t load64(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

std::uint64_t load32(const char* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Texts shorter than 8 bytes as one number (zero-padded), for the hash and the comparison.
std::uint64_t shortWord(const char* p, std::size_t n) {
  if (n >= 4) return load32(p) | load32(p + n - 4) << 32;
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < n; ++i) w |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return w;
}

// Equal texts of `n` bytes each; the last word may overlap the one before it.
bool sameText(const char* a, const char* b, std::size_t n) {
  if (n < 8) return shortWord(a, n) == shortWord(b, n);
  for (std::size_t at = 0; at + 8 <= n; at += 8) {
    if (load64(a + at) != load64(b + at)) return false;
  }
  return load64(a + n - 8) == load64(b + n - 8);
}

// The lookup of a resolved path, which every field access makes: flattened, as the calls it
// would otherwise make cost as much as the lookup itself.
[[gnu::flatten]] bool findKept(const TarnDataType* type, std::string_view text, std::uint64_t& key,
                               FieldLocation& out) {
  key = PathCache::hash(text);
  const PathCache* cache = type->cachedPaths();
  return cache != nullptr && cache->find(text, key, out);
}

}  // namespace

int walkField(const TarnDataType* type, const char* path, FieldLocation& out) {
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  if (path == nullptr) return OstrelCode::kElementNotFound;
  return walk(type, path, out);
}

int locateField(const TarnDataType* type, const char* path, FieldLocation& out) {
  if (type == nullptr) return OstrelCode::kRecordWithoutType;
  if (path == nullptr) return OstrelCode::kElementNotFound;
  const std::string_view text(path);
  std::uint64_t key = 0;
  if (findKept(type, text, key, out)) return OstrelCode::kOk;
  const int code = walk(type, text, out);
  if (code == OstrelCode::kOk) type->pathCache().add(text, key, out);
  return code;
}

// --- the cache of resolved paths --------------------------------------------------------------

// Each word is multiplied on its own (the products do not wait for each other) and the sum is
// mixed once. The length is mixed in, as the overlapping last word of a text that is not a
// multiple of 8 long repeats bytes. Equal hashes still have their texts compared.
std::uint64_t PathCache::hash(std::string_view path) {
  constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  constexpr std::uint64_t kStep = 0xC2B2AE3D27D4EB4Full;
  const char* p = path.data();
  const std::size_t n = path.size();
  std::uint64_t h = n * kStep;
  if (n < 8) {
    h += (shortWord(p, n) ^ kStep) * kOdd;
  } else {
    std::uint64_t salt = kStep;
    for (std::size_t at = 0; at + 8 <= n; at += 8, salt += kOdd) h += (load64(p + at) ^ salt) * kOdd;
    h += (load64(p + n - 8) ^ salt) * kOdd;
  }
  h ^= h >> 31;
  h *= kStep;
  return h ^ (h >> 29);
}

std::unique_ptr<PathCache::Table, PathCache::Free> PathCache::makeTable(std::size_t count) {
  void* block = ::operator new(sizeof(Table) + count * sizeof(std::atomic<const Entry*>));
  std::unique_ptr<Table, Free> table(new (block) Table{count - 1});
  for (std::size_t i = 0; i < count; ++i) new (&table->slots()[i]) std::atomic<const Entry*>(nullptr);
  return table;
}

const PathCache::Entry* PathCache::probe(const Table& table, std::string_view path, std::uint64_t hash) {
  for (std::size_t i = hash & table.mask;; i = (i + 1) & table.mask) {
    const Entry* entry = table.slots()[i].load(std::memory_order_acquire);
    if (entry == nullptr) return nullptr;
    if (entry->hash == hash && entry->length == path.size() &&
        sameText(entry->text(), path.data(), path.size())) {
      return entry;
    }
  }
}

void PathCache::place(Table& table, const Entry* entry) {
  std::size_t i = entry->hash & table.mask;
  while (table.slots()[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & table.mask;
  // Release: a reader that sees the pointer sees the whole entry.
  table.slots()[i].store(entry, std::memory_order_release);
}

bool PathCache::find(std::string_view path, std::uint64_t hash, FieldLocation& out) const {
  const Table* table = table_.load(std::memory_order_acquire);
  if (table == nullptr) return false;
  const Entry* entry = probe(*table, path, hash);
  if (entry == nullptr) return false;
  out = entry->where;
  return true;
}

void PathCache::add(std::string_view path, std::uint64_t hash, const FieldLocation& where) {
  std::lock_guard<std::mutex> hold(mutex_);
  Table* table = tables_.empty() ? nullptr : tables_.back().get();
  if (table != nullptr && probe(*table, path, hash) != nullptr) return;
  if (entries_.size() >= kMaxEntries) return;
  try {
    void* block = ::operator new(sizeof(Entry) + path.size());
    std::unique_ptr<Entry, Free> entry(new (block) Entry{hash, where, path.size()});
    if (!path.empty()) std::memcpy(reinterpret_cast<char*>(entry.get() + 1), path.data(), path.size());
    if (table == nullptr || (entries_.size() + 1) * 2 > table->mask + 1) {
      // The new table is filled before it is published; readers of the old one may go on
      // probing it, so it stays.
      tables_.push_back(makeTable(table == nullptr ? 16 : (table->mask + 1) * 2));
      for (const auto& kept : entries_) place(*tables_.back(), kept.get());
      table = tables_.back().get();
    }
    entries_.push_back(std::move(entry));
    place(*table, entries_.back().get());
    table_.store(table, std::memory_order_release);
  } catch (const std::bad_alloc&) {
    // Without memory the path is walked again next time; the cache stays as it was.
  }
}

std::size_t PathCache::size() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return entries_.size();
}

}  // namespace data
}  // namespace ostrel
