#include "tarn/server/file_io.h"

#include <array>

namespace tarn {
namespace {

inline std::uint32_t load32(const unsigned char* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t crc32(const char* data, std::size_t size) {
  // Eight bytes a step: tables[k][b] is the CRC of byte b followed by k zero bytes.
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  std::uint32_t c = 0xFFFFFFFFu;
  for (; size >= 8; p += 8, size -= 8) {
    const std::uint32_t lo = c ^ load32(p);
    const std::uint32_t hi = load32(p + 4);
    c = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^ tables[4][lo >> 24] ^
        tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^ tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
  }
  for (; size > 0; ++p, --size) c = tables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void putU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putU64(std::string& out, std::uint64_t value) {
  putU32(out, static_cast<std::uint32_t>(value));
  putU32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t getU32(const char* in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  return value;
}

std::uint64_t getU64(const char* in) {
  return getU32(in) | static_cast<std::uint64_t>(getU32(in + 4)) << 32;
}

void putBytes(std::string& out, const void* bytes, std::size_t size) {
  putU32(out, static_cast<std::uint32_t>(size));
  out.append(static_cast<const char*>(bytes), size);
}

bool ByteReader::byte(unsigned char& value) {
  if (at_ + 1 > size_) return false;
  value = static_cast<unsigned char>(data_[at_++]);
  return true;
}

bool ByteReader::u32(std::uint32_t& value) {
  if (size_ - at_ < 4) return false;
  value = getU32(data_ + at_);
  at_ += 4;
  return true;
}

bool ByteReader::text(std::string& value) {
  if (size_ - at_ < 4) return false;
  const std::uint32_t length = getU32(data_ + at_);
  if (length > size_ - at_ - 4) return false;
  value.assign(data_ + at_ + 4, length);
  at_ += 4 + length;
  return true;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace tarn
