/// @file
/// ValueConvetor: an element's bytes as text and back, by the element's type name.
///
/// Two tables built in the constructor: `toText` (narrow type name → render routine) and
/// `fromText` (wide type name → parse routine plus the PutValue overload that stores the value).
///
/// @verbatim
///   type name             text                                  from text, stored with
///   unsigned_int          decimal                               sign allowed, '-' wraps mod 2^32
///   signed_int            decimal, '-' when negative            within the 32-bit range
///   char, byte            the byte as one character (locale     a decimal int; its low 8 bits
///                         widen; Latin-1 when it cannot widen)
///   word, wchar           decimal                               sign allowed, '-' wraps mod 2^16
///   signed_word           decimal, '-' when negative            within the 16-bit range
///   kx_time               decimal seconds, empty when the time  not settable: left unchanged
///                         is before 1970 or not a local time
///   kx_time2              decimal (64-bit signed)               not settable: left unchanged
///   float                 9 significant digits                  a float; overflow is refused
///   double                shortest text that reads back the     a double; overflow is refused
///                         same 8 bytes
///   char*                 the text (ANSI code page)             cut to the field at a character
///   wchar*                the text (UTF-16 in the record)       boundary
/// @endverbatim
///
/// Floating texts: "infinity", "-infinity", "nan", "-nan" (any letter case, optional sign when
/// read). Numbers are rendered without leading zeros, grouping or '+', independently of the
/// process's locale. A text that does not parse leaves the element unchanged.
///
/// A text equal to what the element renders right now leaves the element's bytes unchanged:
/// putting back what was read never changes a record, whatever the rendering lost (a text cut to
/// the 255 characters of BrennicMetaData::value, a NaN's payload, a "char" that renders as a
/// digit). The write is still made, with the field's own bytes, so a partial record lists the
/// path of every item put, exactly as a PutValue call would: also when the path cannot be
/// located (the write then fails). Only a text that does not parse, a type without a routine
/// or one that is not settable makes no write.
///
/// The tables are built once (shared()) and only read afterwards: every member is safe to call
/// from any thread. Records are not locked: one thread at a time uses a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "ostrel/api/export.h"
#include "ostrel/data/data_type.h"

class BrennicData;
struct BrennicMetaData;

/// Converts an element's bytes to text and text back to bytes, by the element's type name.
class OSTREL_EXPORT ValueConvetor {
 public:
  /// What a put did with a text.
  enum class Outcome {
    kStored,       ///< the value was written
    kUnchanged,    ///< the text equals the element's current rendering; nothing written
    kNotSettable,  ///< the type takes no value from text (kx_time); nothing written
    kNoRoutine,    ///< the type name has no routine; nothing written
    kUnparsed,     ///< the text is not a value of the type (or out of its range); nothing written
    /// The record refused the write (path not found, no type, bad index); or the name fills
    /// its field and begins a longer element's name (no write).
    kNotWritten,
  };

  /// One parsed value; which member holds it depends on the type.
  struct Parsed {
    std::uint64_t bits = 0;  ///< integers, and the bytes of a float or double
    std::string narrow;      ///< char*: the text in the ANSI code page
    std::wstring wide;       ///< wchar*
    std::string ascii;       ///< the number parsers' working copy of the text
  };
  /// The texts put() works in. A caller putting many items passes one workspace to every put,
  /// so that its buffers are allocated once rather than once per item. One thread at a time
  /// uses a workspace.
  struct Workspace {
    std::string path;      ///< the item's path, narrowed
    std::wstring current;  ///< what the element shows now
    Parsed parsed;         ///< the parsed value
  };
  /// Renders `size` bytes at `bytes` (REQUIRES: they are readable); reads at most `size` bytes.
  using Render = void (*)(const char* bytes, std::size_t size, std::wstring& out);
  /// False when `text` is not a value of the type.
  using Parse = bool (*)(std::wstring_view text, Parsed& out);
  /// Writes `value` at `path` through the record's PutValue overload of the type; `fieldSize` is
  /// the field's byte size. Returns the write's result code.
  using Put = int (*)(BrennicData& record, const char* path, Parsed& value, std::size_t fieldSize);
  /// The routines of one type name that reads text.
  struct FromText {
    Render render;  ///< the same type's toText routine, to compare with what the element shows
    Parse parse;    ///< the text's parser
    Put put;        ///< null: the type is not settable
  };

  /// Builds both tables.
  ValueConvetor();
  /// Frees the tables.
  virtual ~ValueConvetor();
  /// The tables are fixed at construction; there is nothing to copy or move.
  ValueConvetor(const ValueConvetor&) = delete;
  ValueConvetor& operator=(const ValueConvetor&) = delete;

  /// The instance the record operations use; built on first use.
  static const ValueConvetor& shared();

  /// True when `typeName` has a render routine; `out` then holds the text of the `size` bytes at
  /// `bytes`. `out` is untouched otherwise.
  bool render(const char* typeName, const char* bytes, std::size_t size, std::wstring& out) const;

  /// Parses meta.value as meta.typeName, without writing: kStored when a put would write it,
  /// otherwise kNotSettable, kNoRoutine or kUnparsed.
  Outcome check(const BrennicMetaData& meta) const;

  /// Parses meta.value as meta.typeName and writes it at the path meta.name of `record` through
  /// the record's PutValue (kUnchanged: the field's current bytes are written back).
  /// Never throws except std::bad_alloc: a bad index in the path gives kNotWritten.
  Outcome put(BrennicData& record, const BrennicMetaData& meta) const;
  /// As put(record, meta), with the texts in `work`, which the caller reuses across many puts.
  Outcome put(BrennicData& record, const BrennicMetaData& meta, Workspace& work) const;

 private:
  const FromText* findFromText(const BrennicMetaData& meta) const;

  std::map<std::string, Render, TarnNameLess> toText;
  std::map<std::wstring, FromText, std::less<>> fromText;
};

namespace ostrel {
namespace data {

/// Copies `text` into `out` (capacity wide characters, the NUL included), cut to fit at a
/// character boundary (a UTF-16 surrogate pair is never split where wchar_t is 16 bits).
/// Returns the number of characters copied.
std::size_t copyWideCut(const std::wstring& text, wchar_t* out, std::size_t capacity);

}  // namespace data
}  // namespace ostrel
