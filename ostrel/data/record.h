/// @file
/// BrennicData: a typed record, one value of a middleware data type.
///
/// The value is held as the raw bytes of the type's layout (little-endian numbers, inline
/// NUL-padded texts, `wchar` items as UTF-16 units) in a BrennicStore, together with the type
/// (owned by the type manager) and the record's full name (at most 257 characters). Fields are
/// read and written by path: element names joined by '.', each optionally followed by one
/// index in brackets, e.g. "pumps[2].speed.value". Field writes and reads are byte copies at the
/// field's place; nothing is converted to the field's declared type.
///
/// A record is empty (no type, no block), typed (a type and a block) or raw (a block, no type).
/// Every field access stays inside the block that exists: a field that does not lie wholly in
/// the block is refused (kInvalidRecord), and getters read only the bytes the block holds.
///
/// Failures are result codes (result_codes.h): kRecordWithoutType, kElementNotFound,
/// kIndexOutOfRange, kUntypedElement, kInvalidRecord, kValueTooSmall. A non-numeric index
/// throws boost::bad_lexical_cast out of the operation, leaving the record unchanged; allocation
/// failure throws std::bad_alloc. Looking up a type name that is not registered (constructors,
/// CastType, SetTarnType, SwellSetTarnType, fromStream) makes the type manager run a full build.
///
/// Records made with new carry a hidden header saying how their memory goes back: alone, or as
/// one of a batch (makeBatch: the records of one middleware answer, in one block that the last of
/// them to be deleted frees). Such a record may also hold the answer's own buffer as its block
/// (BrennicStore::adopt_array). Either way it behaves as any other record: it may outlive its
/// list and the other records of its answer, and be deleted from any thread.
///
/// A record carries no lock: one thread uses it at a time. Copies are deep; there is no move.
#pragma once

#include <cstddef>

#include "ostrel/api/export.h"
#include "ostrel/data/store.h"

class TarnDataType;
struct DataVariable;

/// Where a field lies, as VariableInfo reports it.
struct OSTREL_EXPORT BrennicVariable {
  int offset;           ///< byte offset of the field in the raw value
  int size;             ///< byte size of the field
  wchar_t typeName[32]; ///< the field's type name, NUL-terminated ("char*"/"wchar*" for texts)
};

/// A typed record: one value of a middleware data type, its type and its full name. Copies are
/// deep; there is no move.
class OSTREL_EXPORT BrennicData {
 public:
  static constexpr std::size_t kNameCapacity = 258;  ///< 257 characters and the NUL

  /// Empty: no type, no block, empty name.
  BrennicData();
  /// isPointName 0: `name` is a type name. Otherwise `name` is a data point name whose type the
  /// middleware is asked for. A type found gives a zero-filled block of its size; otherwise the
  /// record stays empty. The record's own name stays empty in both forms.
  BrennicData(const char* name, int isPointName);
  /// Copies the type; with a type also the value and the name. A copy of a record without a type
  /// is empty.
  BrennicData(const BrennicData& other);
  /// Frees the block.
  virtual ~BrennicData();
  /// Allocates a record with the hidden header that says how its memory goes back.
  static void* operator new(std::size_t size);
  /// Frees a record made with new, alone or as the last live record of its batch.
  static void operator delete(void* p) noexcept;
  /// Internal, for the operations that return many records: fills out[0..count) with new empty
  /// records sharing one block. Each is deleted as a record made with new is.
  static void makeBatch(std::size_t count, BrennicData** out);
  /// Takes other's type; with a type also its value and name (without, the block and name stay).
  const BrennicData& operator=(const BrennicData& other);

  /// @name Field writes
  /// 0 or a result code. Each writes the value's bytes at the field (below the field's size),
  /// zero-filling the rest of the field: no sign extension, longer values cut.
  ///@{

  /// Writes the value's 8 bytes at the field at `path`.
  virtual int PutValue(const char* path, long long value);
  /// Writes the value's 8 bytes at the field at `path`.
  virtual int PutValue(const char* path, unsigned long long value);
  /// The other record's raw value (its buffer size in bytes).
  virtual int PutValue(const char* path, BrennicData& value);
  /// Writes the value's 8 bytes at the field at `path`.
  virtual int PutValue(const char* path, double value);
  /// Writes the value's 4 bytes at the field at `path`.
  virtual int PutValue(const char* path, float value);
  /// The text as UTF-16 units including the terminating NUL unit; null writes nothing.
  virtual int PutValue(const char* path, const wchar_t* value);
  /// The text's bytes without the NUL; null writes nothing.
  virtual int PutValue(const char* path, const char* value);
  /// Writes the value's byte at the field at `path`.
  virtual int PutValue(const char* path, char value);
  /// Writes the value's byte at the field at `path`.
  virtual int PutValue(const char* path, unsigned char value);
  /// Writes the value's 2 bytes at the field at `path`.
  virtual int PutValue(const char* path, short value);
  /// Writes the value's 2 bytes at the field at `path`.
  virtual int PutValue(const char* path, unsigned short value);
  /// Writes the value's 4 bytes at the field at `path`.
  virtual int PutValue(const char* path, int value);
  /// Writes the value's 4 bytes at the field at `path`.
  virtual int PutValue(const char* path, unsigned int value);
  /// `len` UTF-16 units (len x 2 bytes); null writes nothing.
  virtual int PutValueUtf16(const char* path, const unsigned short* value, int len);

  /// The common write: locate the field, zero it, copy min(field size, len) bytes from src.
  /// src is only read.
  int PutValueImpl(const char* path, void* src, int len);
  ///@}

  /// The record's full name (empty when it has none); valid while the record lives.
  const char* GetDataName();
  /// The record's full name (empty when it has none); valid while the record lives.
  const char* GetDataName() const;
  /// Copies `name` when it is not null and shorter than 258 characters.
  void SetFullName(const char* name);
  /// The type's name, or null without a type.
  const char* GetTypeName();
  /// The block, or null; the record keeps owning it.
  char* GetRawValue();
  /// The type's size with a type, otherwise the store's size.
  unsigned int GetBufferSize();
  /// True when the record has a block (of any size).
  bool IsGood();
  /// As IsGood, for a const record.
  bool IsCGood() const;
  /// True when the first type-size bytes of the block (as far as it reaches) are all zero.
  bool IsNull();
  /// Clears the type and the name and releases the block (the store keeps its size value).
  void Destory();

  /// The type of the given name (null included): 0 when found, kRecordWithoutType otherwise.
  int CastType(const char* typeName);
  /// Sets the type; with a type found, n = max(type size, len) bytes: raw not null puts n bytes
  /// from raw into the store (REQUIRES: raw holds n bytes), raw null allocates n zeroed bytes.
  void SetTarnType(const char* typeName, char* raw, int len);
  /// Sets the type; with a type found the record adopts raw (from the global operator new) as its block
  /// with the type's size, or allocates one when raw is null. Not found: raw stays the caller's.
  void SwellSetTarnType(const char* typeName, char* raw, int len);
  /// With a type: copies the store's size in bytes from raw into the block.
  void SetRawValue(char* raw);
  /// Puts len bytes from raw into the store (BrennicStore::put_buffer); the type is not touched.
  void SetRawValue(char* raw, int len);
  /// Adopts raw (from the global operator new) as the block with size len.
  void SwellSetRawValue(char* raw, int len);
  /// Copies other's value into this block: kValueTooSmall when the block is smaller than
  /// other.GetBufferSize(), kInvalidRecord when other has no block; type and name untouched.
  int DeepCopy(BrennicData& other);
  /// Writes the whole value to the data point of this record's name on the default server and
  /// position, through Ostrel::PutDataPoint (a replaced slot is honoured); that call's result,
  /// or kRecordWithoutName (-2) and no call when the record has no name.
  int Teleport();

  /// Pointer to the field's first byte inside the block, or null.
  void* GetValue(const char* path);
  /// @name Field reads
  /// Getters read their own width at the field's first byte (not the field's declared size);
  /// 0 when the field cannot be located. Bytes beyond the block's end read as zero.
  ///@{

  /// The byte at the field at `path`.
  char GetCharValue(const char* path);
  /// The byte at the field at `path`.
  unsigned char GetUnSignedCharValue(const char* path);
  /// The 2 bytes at the field at `path`.
  short GetShortValue(const char* path);
  /// The 2 bytes at the field at `path`.
  unsigned short GetUnsignedShortValue(const char* path);
  /// The 4 bytes at the field at `path`.
  int GetSignedIntValue(const char* path);
  /// The 4 bytes at the field at `path`.
  unsigned int GetUnSignedIntValue(const char* path);
  /// The 4 bytes at the field at `path`.
  float GetFloatValue(const char* path);
  /// The 8 bytes at the field at `path`.
  double GetDoubleValue(const char* path);
  /// A pointer into the block; the text is NUL-terminated only if the field holds a NUL.
  const char* GetStringValue(const char* path);
  /// A pointer into the block, at the field's UTF-16 units (as GetValue); NUL-terminated only if
  /// the field holds a NUL unit.
  const unsigned short* GetWStringValue(const char* path);
  ///@}

  /// True when the field is exactly len bytes long and equals the len bytes at value.
  bool compare(const char* path, void* value, int len);
  /// A new record of the field's type holding a copy of the field; empty when not located.
  BrennicData GetBrennicData(const char* path);
  /// The field's offset, size and type name; 0 or a result code.
  int VariableInfo(const char* path, BrennicVariable& info);

  // --- Meta data: elements as text (record_meta.cc, value_convertor.h) -----------------------
  // BrennicMetaData is in ostrel/data/meta_data.h, BrennicMetaList in ostrel/api/record_lists.h.

  /// Fills `meta` for the field at `path`: type name ("char*"/"wchar*" for a whole text), the
  /// path, offset, length and the value as text. kIndexOutOfRange for a null path,
  /// kRecordWithoutType without a type; 0 otherwise, `meta` untouched when the field is not
  /// found or its type has no text form. A non-numeric index throws boost::bad_lexical_cast.
  int GetMetaData(const char* path, struct BrennicMetaData& meta);
  /// Releases what `list` held, then fills it with one item per element of the type, in the
  /// type's order (offset and length stay 0). kRecordWithoutType (list empty) without a type.
  int GetMetaDataList(struct BrennicMetaList& list);
  /// Writes meta.value at the path meta.name as meta.typeName says. Always 0: a text that does
  /// not parse, a path not found or a type without routine leaves the record unchanged.
  int PutMetaData(struct BrennicMetaData& meta);
  /// PutMetaData for every item of the list, in order. Always 0.
  int PutMetaDataList(struct BrennicMetaList& list);
  /// Kept for applications that call it; it has no visible effect.
  void Logging();
  // --- end of meta data ----------------------------------------------------------------------

  /// Writes the stream form into `out`: u32 name length N, the name, u32 type name length T
  /// (0 without a type), the type name, u32 value length V, the raw value. No NULs; 12+N+T+V
  /// bytes, little-endian lengths.
  void toStream(BrennicStore& out);
  /// Replaces name, type and value from a stream form of `len` bytes. A stream whose lengths
  /// reach past `len` changes nothing. A name longer than 257 bytes is cut.
  void fromStream(const char* data, int len);
  /// As fromStream; false (and the record unchanged) when the stream is short or malformed.
  bool tryFromStream(const char* data, std::size_t len);
  /// Internal: whether `len` bytes are exactly one stream form, their three lengths and words
  /// adding up to the whole (fromStream takes a longer text too and ignores the rest).
  static bool isWholeStream(const char* data, std::size_t len);

  /// Internal, for the operations that move a whole value: the bytes the record really holds.
  /// kInvalidRecord without a block, or when the record has a type whose size the block does not
  /// reach; otherwise 0 with `bytes` the block and `length` GetBufferSize() (a raw record: the
  /// bytes the block holds), never more than the block.
  int heldValue(char*& bytes, unsigned int& length) const;

  /// Internal, for the operations that turn a middleware answer into records, with the type
  /// already looked up (null for a type this process does not know). owned: the record takes
  /// `bytes` (from new unsigned char[], `size` bytes) over as its block, without a copy. Otherwise
  /// the same as BrennicData(type name, 0) followed by SetRawValue(bytes, size).
  void takeValue(TarnDataType* valueType, unsigned char* bytes, unsigned int size, bool owned);

  /// Internal: the field's bytes when it lies wholly inside the block, otherwise null; `size` is
  /// the field's size whenever the path was located. May throw boost::bad_lexical_cast.
  char* heldField(const char* path, unsigned int& size);

  /// Internal: where a path's field lies. 0 with offset and size, or a result code.
  /// May throw boost::bad_lexical_cast. The field need not lie inside the block.
  int LocateField(const char* path, unsigned int& offset, unsigned int& size,
                  DataVariable** element = nullptr) const;

 protected:
  /// An empty record in a batch's block (makeBatch): only the name's first byte is cleared.
  struct BatchSlot {};
  /// A record placed in a batch's block; see makeBatch.
  explicit BrennicData(BatchSlot);

  /// The field's bytes when it lies wholly inside the block; null otherwise, with `code` set.
  char* fieldBytes(const char* path, unsigned int& size, int& code);
  /// Reads `width` bytes at the field, zero-extended past the block's end.
  void readField(const char* path, void* out, std::size_t width);
  /// The field at `path` read as a T (readField with T's width).
  template <typename T>
  T readAs(const char* path) {
    T value;
    readField(path, &value, sizeof value);
    return value;
  }

  TarnDataType* type;        ///< the record's type (owned by the type manager), or null
  BrennicStore store;        ///< the value's bytes
  char name[kNameCapacity];  ///< the full name, NUL-terminated
};
