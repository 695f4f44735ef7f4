/// @file
/// BrennicMetaData: one element of a record as text — its type name, its name (or path) and its
/// value — as BrennicData::GetMetaData / GetMetaDataList fill it and PutMetaData /
/// PutMetaDataList read it back (value_convertor.h does the conversion).
///
/// The texts are NUL-terminated platform wide texts in fixed fields. Texts that do not fit are
/// cut at a character boundary: a type name keeps at most 15 characters, a name 51, a value 255.
/// A value cut to fit is not written back over the longer text it came from (see
/// value_convertor.h), so reading items and putting them back never shortens a text.
///
/// A plain value: copies are member-wise, no lock, no heap memory of its own. Items inside a
/// BrennicMetaList are allocated by the library and released with the list (record_lists.h).
#pragma once

#include "ostrel/api/export.h"

/// One element of a record as text: its type name, its name or path, and its value.
struct OSTREL_EXPORT BrennicMetaData {
  static constexpr int kTypeNameCapacity = 16;  ///< wide characters, the NUL included
  static constexpr int kNameCapacity = 52;      ///< wide characters, the NUL included
  static constexpr int kValueCapacity = 256;    ///< wide characters, the NUL included

  /// All zeros: empty texts, offset and length 0.
  BrennicMetaData();
  /// Member-wise copy.
  BrennicMetaData(const BrennicMetaData&) = default;
  /// Member-wise copy.
  BrennicMetaData& operator=(const BrennicMetaData&) = default;
  /// Frees nothing: the item holds no heap memory.
  virtual ~BrennicMetaData();

  wchar_t typeName[kTypeNameCapacity];  ///< "signed_int", "char*", ... (element type; "*" for texts)
  wchar_t name[kNameCapacity];          ///< the element's name, or the path given to GetMetaData
  wchar_t value[kValueCapacity];        ///< the value as text
  unsigned short offset;                ///< byte offset in the record's value (GetMetaData only)
  unsigned short length;                ///< byte length of the element (GetMetaData only)
};
