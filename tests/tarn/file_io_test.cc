// The checksum of the server's files is the standard CRC-32 at every length and alignment, so
// files written before keep their checksums.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tarn/server/file_io.h"

namespace {

std::uint32_t bitwiseCrc32(const std::string& bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    c ^= byte;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

TEST(FileIo, Crc32IsTheStandardChecksumAtEveryLengthAndOffset) {
  EXPECT_EQ(tarn::crc32("123456789", 9), 0xCBF43926u) << "the check value";
  EXPECT_EQ(tarn::crc32("", 0), 0u);
  std::string bytes;
  for (int i = 0; i < 80; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
  for (std::size_t from = 0; from < 8; ++from)
    for (std::size_t size = 0; from + size <= bytes.size(); ++size)
      ASSERT_EQ(tarn::crc32(bytes.data() + from, size), bitwiseCrc32(bytes.substr(from, size)))
          << "from " << from << ", " << size << " bytes";
}

}  // namespace
