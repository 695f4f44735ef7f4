#include "ostrel/data/store.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

char* allocateZeroed(unsigned int n) {
  char* p = static_cast<char*>(::operator new(n));
  if (n > 0) std::memset(p, 0, n);
  return p;
}

char* allocateCopy(unsigned int n, const char* src, unsigned int available) {
  char* p = static_cast<char*>(::operator new(n));
  unsigned int copied = std::min(n, available);
  if (copied > 0) std::memcpy(p, src, copied);
  if (n > copied) std::memset(p + copied, 0, n - copied);
  return p;
}

}  // namespace

BrennicStore::BrennicStore() : buffer_(nullptr), size_(0), arrayBlock_(false) {}

BrennicStore::BrennicStore(unsigned int n) : buffer_(allocateZeroed(n)), size_(n), arrayBlock_(false) {}

BrennicStore::BrennicStore(unsigned int n, const char* src)
    : buffer_(allocateCopy(n, src, src != nullptr ? n : 0)), size_(n), arrayBlock_(false) {}

BrennicStore::BrennicStore(const BrennicStore& other)
    : buffer_(allocateCopy(other.size_, other.buffer_, other.bytesHeld())), size_(other.size_), arrayBlock_(false) {}

BrennicStore::~BrennicStore() { release(); }

void BrennicStore::release() {
  if (arrayBlock_)
    delete[] reinterpret_cast<unsigned char*>(buffer_);
  else
    ::operator delete(buffer_);
  buffer_ = nullptr;
  arrayBlock_ = false;
}

const BrennicStore& BrennicStore::operator=(const BrennicStore& other) {
  if (this == &other) return *this;
  if (size_ != other.size_ || buffer_ == nullptr) {
    release();
    size_ = other.size_;
    buffer_ = allocateZeroed(size_);
  }
  unsigned int n = std::min(size_, other.bytesHeld());
  if (n > 0) std::memcpy(buffer_, other.buffer_, n);
  // Bytes that other's missing block cannot supply read as zero, as in the copy constructor.
  if (size_ > n) std::memset(buffer_ + n, 0, size_ - n);
  return *this;
}

bool BrennicStore::operator==(const BrennicStore& other) const {
  if (size_ == 0) return true;
  if (bytesHeld() < size_ || other.bytesHeld() < size_) return false;
  return std::memcmp(buffer_, other.buffer_, size_) == 0;
}

char* BrennicStore::operator()() const { return buffer_; }

int BrennicStore::allocate_size(unsigned long long n) {
  release();
  size_ = static_cast<unsigned int>(n);
  buffer_ = allocateZeroed(size_);
  return 0;
}

void BrennicStore::destory() { release(); }

void BrennicStore::swell_buffer(char* p, unsigned int n) {
  if (p == buffer_) {
    size_ = n;
    return;
  }
  release();
  buffer_ = p;
  size_ = n;
}

void BrennicStore::adopt_array(unsigned char* p, unsigned int n) {
  char* block = reinterpret_cast<char*>(p);
  if (block != buffer_) release();
  buffer_ = block;
  size_ = n;
  arrayBlock_ = block != nullptr;
}

void BrennicStore::put_buffer(const char* src, unsigned int n) {
  if (buffer_ == nullptr) {
    size_ = n;
    buffer_ = allocateCopy(n, src, src != nullptr ? n : 0);
    return;
  }
  unsigned int copied = std::min(size_, n);
  if (src != nullptr && copied > 0) std::memmove(buffer_, src, copied);
}

void BrennicStore::reset(char* src) {
  if (buffer_ != nullptr && src != nullptr && size_ > 0) std::memmove(buffer_, src, size_);
}

int BrennicStore::copy_buffer(BrennicStore& dst, unsigned int offset, unsigned int len) {
  if (buffer_ == nullptr || static_cast<unsigned long long>(offset) + len > size_) return -1;
  if (dst.buffer_ == nullptr) {
    dst.allocate_size(len);
  } else if (dst.size_ < len) {
    return -1;
  }
  if (len > 0) std::memmove(dst.buffer_, buffer_ + offset, len);
  return 0;
}

int BrennicStore::copy_buffer(char* dst) {
  if (bytesHeld() > 0 && dst != nullptr) std::memcpy(dst, buffer_, size_);
  return 0;
}

int BrennicStore::partial_copy(const BrennicStore& src, unsigned int offset, unsigned int len) {
  // Out-of-contract ranges are cut to what both blocks hold rather than overrun them.
  if (offset >= bytesHeld()) return 0;
  unsigned int n = std::min({len, bytesHeld() - offset, src.bytesHeld()});
  if (n > 0) std::memmove(buffer_ + offset, src.buffer_, n);
  return 0;
}

int BrennicStore::partial_copy(const char* src, unsigned int offset, unsigned int len) {
  if (src == nullptr || offset >= bytesHeld()) return 0;
  unsigned int n = std::min(len, bytesHeld() - offset);
  if (n > 0) std::memmove(buffer_ + offset, src, n);
  return static_cast<int>(n);
}
