/// @file
/// BrennicPartialData: a record that remembers the paths written to it.
///
/// Every write (each PutValue overload, PutValueUtf16, putValue) appends its path text to the
/// record's list before the write is attempted, whatever the write's result: failed writes are
/// listed too, and a path written twice is listed twice. Nothing is ever removed. The partial
/// data point writes send only the listed fields, and the data point query uses them as its
/// filter: for each listed path the path text (enabledFields) and the field's stored bytes
/// (getStoreValue).
///
/// A null path is not listed (there is no text to list); the write fails as on BrennicData.
///
/// No lock: one thread at a time uses a record. Copies are deep and carry their own list (a copy
/// made from a record and then written to does not change the original's list); there is no
/// move, a move copies.
#pragma once

#include <string>
#include <vector>

#include "ostrel/api/export.h"
#include "ostrel/api/name_lists.h"
#include "ostrel/data/record.h"
#include "ostrel/data/store.h"

/// A record that lists every path written to it; the partial writes and the query send only
/// the listed fields. Copies are deep and carry their own list; there is no move.
class OSTREL_EXPORT BrennicPartialData : public BrennicData {
 public:
  /// As BrennicData() with an empty list.
  BrennicPartialData();
  /// As BrennicData(name, isPointName) with an empty list.
  BrennicPartialData(const char* name, int isPointName);
  /// As the BrennicData copy, with a copy of other's list.
  BrennicPartialData(const BrennicPartialData& other);
  /// Frees the list and the block.
  ~BrennicPartialData() override;
  /// The BrennicData assignment; when other has a type, the list becomes a copy of other's
  /// (without a type, the list stays as it was). Self-assignment does nothing.
  const BrennicPartialData& operator=(const BrennicPartialData& other);

  /// @name Field writes
  /// Each lists the path, then writes as the BrennicData overload does and returns its result.
  ///@{

  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, long long value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, unsigned long long value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, BrennicData& value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, double value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, float value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, const wchar_t* value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, const char* value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, char value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, unsigned char value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, short value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, unsigned short value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, int value) override;
  /// Lists `path`, then writes as the BrennicData overload does; its result.
  int PutValue(const char* path, unsigned int value) override;
  /// Lists `path`, then writes as BrennicData::PutValueUtf16 does; its result.
  int PutValueUtf16(const char* path, const unsigned short* value, int len) override;
  /// Lists the path, then writes `len` raw bytes at it (PutValueImpl: zero-filled and cut to
  /// the field's size).
  virtual int putValue(const char* path, const char* bytes, int len);
  ///@}

  /// True when a listed path equals `path` exactly (same bytes, same length).
  bool isUpdated(const char* path);

  /// Sets fields->count to the number of listed paths, fields->names to a new array of that many
  /// pointers (allocated also for none) and fields->release to false. Entry i points at the text
  /// of listed path i, which stays the record's: valid while the record lives and is not written
  /// to. The caller frees the array with Ostrel::DeatoryNameSeq. A null `fields` does nothing.
  void enabledFields(ObjectNames* fields) const;

  /// A new store holding a copy of the field's bytes (its size is the field's size). A path that
  /// cannot be located (anywhere along it) or a field that does not lie wholly in the block gives
  /// a store with a zero-size block. A non-numeric index throws boost::bad_lexical_cast.
  BrennicStore getStoreValue(const char* path) const;
  /// *bytes = the field's first byte inside the block, length = the field's size; no copy is
  /// made and the pointer is valid while the block is. A path that cannot be located, or a field
  /// not wholly in the block, gives the block's start (null without a block) and length 0, so
  /// the outputs never reach outside the block. A non-numeric index throws
  /// boost::bad_lexical_cast (listed paths include writes that threw on one): the data point
  /// operations then answer with their own exception code.
  void getStoreValue(const char* path, char** bytes, int& length) const;

 private:
  void note(const char* path);

  std::vector<std::string> updatedFields;  ///< every path written, in call order
};
