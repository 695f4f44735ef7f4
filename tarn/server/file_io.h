// The byte-level steps that the server's files share (the journal and the snapshot files):
// little-endian numbers, length-prefixed texts, CRC-32 and folder names (the files themselves are
// env.h's).
// Plain functions without state; any thread may call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn {

std::uint32_t crc32(const char* data, std::size_t size);

void putU32(std::string& out, std::uint32_t value);
void putU64(std::string& out, std::uint64_t value);
std::uint32_t getU32(const char* in);
std::uint64_t getU64(const char* in);
// A 4-byte length, then the bytes.
void putBytes(std::string& out, const void* bytes, std::size_t size);

// Reads what putU32/putBytes wrote; every read answers false, and moves nothing, when the
// bytes left are too few for it.
class ByteReader {
 public:
  ByteReader(const char* data, std::size_t size) : data_(data), size_(size) {}
  bool byte(unsigned char& value);
  bool u32(std::uint32_t& value);
  bool text(std::string& value);
  bool done() const { return at_ == size_; }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The folder part of `path` ("." when it has none).
std::string folderOf(const std::string& path);

}  // namespace tarn
