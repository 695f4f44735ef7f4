// The record stream form, byte for byte in both directions, and streams that lie about their
// lengths or carry names too long to keep.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ostrel/data/record.h"
#include "tests/data/type_fixture.h"

namespace {

// name "p1", type "T_Inner", value x=0x0201 y=0x0403 z=0x08070605.
const char kInnerStream[] =
    "\x02\x00\x00\x00" "p1"
    "\x07\x00\x00\x00" "T_Inner"
    "\x08\x00\x00\x00" "\x01\x02\x03\x04\x05\x06\x07\x08";
const std::size_t kInnerStreamSize = sizeof(kInnerStream) - 1;

std::string streamOf(BrennicData& r) {
  BrennicStore out;
  r.toStream(out);
  return std::string(out.get(), static_cast<std::size_t>(out.buffer_size()));
}

class RecordStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { data_test::registeredTypes(); }
};

TEST_F(RecordStreamTest, WritesAndReadsTheExactBytes) {
  ASSERT_EQ(kInnerStreamSize, 12u + 2 + 7 + 8);
  BrennicData r("T_Inner", 0);
  r.SetFullName("p1");
  r.PutValue("x", static_cast<unsigned short>(0x0201));
  r.PutValue("y", static_cast<unsigned short>(0x0403));
  r.PutValue("z", 0x08070605u);
  EXPECT_EQ(streamOf(r), std::string(kInnerStream, kInnerStreamSize));

  BrennicData back("T_Rec", 0);
  back.SetFullName("a much longer name than the streamed one");
  back.fromStream(kInnerStream, static_cast<int>(kInnerStreamSize));
  EXPECT_STREQ(back.GetDataName(), "p1");
  EXPECT_STREQ(back.GetTypeName(), "T_Inner");
  EXPECT_EQ(back.GetBufferSize(), 8u);
  EXPECT_EQ(back.GetUnSignedIntValue("z"), 0x08070605u);
  EXPECT_EQ(streamOf(back), std::string(kInnerStream, kInnerStreamSize));
}

TEST_F(RecordStreamTest, RecordsWithoutATypeRoundTripAsRaw) {
  BrennicData raw;
  raw.SetRawValue(const_cast<char*>("xyz"), 3);
  raw.SetFullName("n");
  const std::string expected("\x01\x00\x00\x00n\x00\x00\x00\x00\x03\x00\x00\x00xyz", 16);
  EXPECT_EQ(streamOf(raw), expected);

  BrennicData back("T_Inner", 0);
  back.fromStream(expected.data(), static_cast<int>(expected.size()));
  EXPECT_EQ(back.GetTypeName(), nullptr);
  EXPECT_STREQ(back.GetDataName(), "n");
  EXPECT_EQ(std::string(back.GetRawValue(), 3), "xyz");

  // A type name that is not registered (here with a NUL inside) also gives a raw record.
  std::string odd("\x00\x00\x00\x00\x08\x00\x00\x00T_Inner\x00\x01\x00\x00\x00Q", 21);
  back.fromStream(odd.data(), static_cast<int>(odd.size()));
  EXPECT_EQ(back.GetTypeName(), nullptr);
  EXPECT_EQ(back.GetBufferSize(), 1u);
}

TEST_F(RecordStreamTest, ShortOrLyingStreamsChangeNothing) {
  const std::string good(kInnerStream, kInnerStreamSize);
  BrennicData r("T_Rec", 0);
  r.SetFullName("keep");
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::string cut = good.substr(0, n);
    EXPECT_FALSE(r.tryFromStream(cut.data(), cut.size())) << "length " << n;
    r.fromStream(cut.data(), static_cast<int>(cut.size()));
  }
  std::string lying = good;
  lying[0] = '\xff';  // a name length far past the end
  r.fromStream(lying.data(), static_cast<int>(lying.size()));
  lying = good;
  lying[kInnerStreamSize - 12] = '\x7f';  // the value length
  r.fromStream(lying.data(), static_cast<int>(lying.size()));
  r.fromStream(good.data(), -1);
  EXPECT_STREQ(r.GetDataName(), "keep");
  EXPECT_STREQ(r.GetTypeName(), "T_Rec");

  std::string trailing = good + "extra";
  EXPECT_TRUE(r.tryFromStream(trailing.data(), trailing.size())) << "bytes after the value are ignored";

  std::string longName = std::string("\x2c\x01\0\0", 4) + std::string(300, 'n') + std::string(8, '\0');  // 300
  ASSERT_TRUE(r.tryFromStream(longName.data(), longName.size()));
  EXPECT_EQ(std::string(r.GetDataName()), std::string(257, 'n')) << "a long name is cut";
}

}  // namespace
