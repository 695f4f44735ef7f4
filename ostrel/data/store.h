/// @file
/// BrennicStore: the byte buffer under every record.
///
/// A store owns one heap block or none. Every block it allocates comes from the global
/// operator new and is zero-filled unless it is filled by a copy in the same step; such blocks
/// go back through the global operator delete. swell_buffer adopts a caller's block, which must come from
/// the same allocator (the middleware's out buffers do), and frees it the same way. adopt_array
/// takes a block from new unsigned char[] (an ORB sequence's buffer, orphaned): the store
/// remembers that and frees it with delete[], whoever releases it (destructor, destory,
/// allocate_size, swell_buffer, assignment of another size).
///
/// `size` is the number of bytes the store counts as its content. It equals the block's length
/// whenever the store allocated the block itself; after destory() the block is gone but the size
/// stays; after swell_buffer the store trusts the size it was given. Operations that copy out of
/// or compare the store's own block never reach past a missing block: a missing block counts as
/// holding no bytes.
///
/// Allocation failure throws std::bad_alloc; nothing else is reported by exception. No locking:
/// one thread uses a store at a time. Copying makes a deep copy; there is no move.
#pragma once

#include "ostrel/api/export.h"

/// A byte buffer that owns one heap block or none; copies are deep.
class OSTREL_EXPORT BrennicStore {
 public:
  /// No block, size 0.
  BrennicStore();
  /// n zeroed bytes.
  BrennicStore(unsigned int n);
  /// n bytes copied from src (src must hold n bytes).
  BrennicStore(unsigned int n, const char* src);
  /// A deep copy: other's size, and its bytes (zeros where other holds none).
  BrennicStore(const BrennicStore& other);
  /// Frees the block.
  virtual ~BrennicStore();

  /// A deep copy of other's size and bytes (zeros where other holds none); the block is kept when
  /// the sizes match.
  virtual const BrennicStore& operator=(const BrennicStore& other);
  /// True when the first size bytes of both blocks are equal; other's size is not compared.
  /// When either block holds fewer than this store's size bytes (a missing block holds none),
  /// the stores are unequal, unless that size is 0.
  virtual bool operator==(const BrennicStore& other) const;
  /// The block, or null; the store keeps owning it.
  virtual char* operator()() const;

  /// The block, or null; the store keeps owning it.
  char* get() const { return buffer_; }
  /// The block, or null; the store keeps owning it.
  char* get_buffer() { return buffer_; }
  /// The block, or null; the store keeps owning it.
  char* get_buffer() const { return buffer_; }
  /// The size: the number of bytes the store counts as its content (see bytesHeld).
  unsigned long long buffer_size() const { return size_; }

  /// Releases the old block and allocates n zeroed bytes (n is kept in 32 bits). Always 0.
  int allocate_size(unsigned long long n);
  /// Releases the block; the size is left as it was.
  void destory();
  /// Releases the old block and takes p (from the global operator new) as the block, without copying.
  void swell_buffer(char* p, unsigned int n);
  /// Releases the old block and takes p, from new unsigned char[] (at least n bytes), as the
  /// block with size n, without copying.
  void adopt_array(unsigned char* p, unsigned int n);
  /// Without a block: allocates n bytes and copies them from src. With a block: copies the
  /// smaller of size and n bytes into it; the block and size stay.
  void put_buffer(const char* src, unsigned int n);
  /// With a block: copies size bytes from src into it. Without a block: nothing.
  void reset(char* src);
  /// Copies len bytes at offset into dst (allocating len bytes for a dst without a block).
  /// -1 when this store has no block, offset + len exceeds its size, or dst has a block of
  /// fewer than len bytes; 0 otherwise.
  int copy_buffer(BrennicStore& dst, unsigned int offset, unsigned int len);
  /// Copies size bytes to dst (nothing without a block). Always 0.
  int copy_buffer(char* dst);
  /// Copies len bytes from the start of src's block to offset. Always 0.
  /// REQUIRES: offset + len <= size and src holds len bytes; a range beyond either block is cut
  /// to what the blocks hold.
  int partial_copy(const BrennicStore& src, unsigned int offset, unsigned int len);
  /// Copies len bytes from src to offset; returns the number of bytes copied (len when
  /// offset + len <= size, as callers must keep it; fewer when the range is cut to the block).
  int partial_copy(const char* src, unsigned int offset, unsigned int len);

  /// The number of bytes that really lie in the block: size, or 0 without a block.
  unsigned int bytesHeld() const { return buffer_ != nullptr ? size_ : 0; }

 private:
  void release();

  char* buffer_;
  unsigned int size_;
  bool arrayBlock_;  ///< buffer_ came from new[] (adopt_array), not from the global operator new
};
