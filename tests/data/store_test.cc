#include "ostrel/data/store.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string bytes(const BrennicStore& s) {
  return s.get() ? std::string(s.get(), static_cast<std::size_t>(s.buffer_size())) : std::string();
}

TEST(StoreTest, PutBufferNeverResizesAnExistingBlock) {
  BrennicStore s;
  s.put_buffer("ABCDEFGH", 8);
  EXPECT_EQ(bytes(s), "ABCDEFGH");
  char* block = s.get();
  s.put_buffer("0123456789abcdef", 16);
  EXPECT_EQ(s.buffer_size(), 8u);
  EXPECT_EQ(s.get(), block);
  EXPECT_EQ(bytes(s), "01234567") << "only the first size bytes are copied";
  s.put_buffer("wxyz", 4);
  EXPECT_EQ(bytes(s), "wxyz4567") << "a shorter put overwrites only its own bytes";
}

TEST(StoreTest, DestoryKeepsTheSizeAndCopiesStayInsideTheBlocksThatExist) {
  BrennicStore empty, dst;
  EXPECT_EQ(empty.copy_buffer(dst, 0, 0), -1) << "a store without a block has nothing to cut";
  EXPECT_EQ(dst.get(), nullptr);
  EXPECT_EQ(dst.allocate_size(0), 0);
  EXPECT_NE(dst.get(), nullptr) << "a zero-byte allocation still gives a block";

  BrennicStore s(6, "abcdef");
  s.destory();
  EXPECT_EQ(s.get(), nullptr);
  EXPECT_EQ(s.buffer_size(), 6u);
  EXPECT_EQ(s.bytesHeld(), 0u);

  char out[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(s.copy_buffer(out), 0);
  EXPECT_EQ(std::string(out, 6), "xxxxxx") << "nothing to copy from a missing block";
  BrennicStore full(6, "abcdef");
  EXPECT_FALSE(s == full);
  EXPECT_FALSE(full == s);

  BrennicStore copy(s);  // copy and assignment from a store without a block: zeroed bytes
  EXPECT_EQ(bytes(copy), std::string(6, '\0'));
  full = s;
  EXPECT_EQ(bytes(full), std::string(6, '\0'));
  s.reset(const_cast<char*>("zzzzzz"));  // no block: nothing happens
  EXPECT_EQ(s.get(), nullptr);
}

TEST(StoreTest, CopyBufferCutsSlicesWithinTheContent) {
  BrennicStore s(6, "abcdef");
  BrennicStore dst;
  EXPECT_EQ(s.copy_buffer(dst, 2, 4), 0);
  EXPECT_EQ(bytes(dst), "cdef");
  BrennicStore other;
  EXPECT_EQ(s.copy_buffer(other, 3, 4), -1);
  EXPECT_EQ(other.get(), nullptr) << "a refused cut changes nothing";
  BrennicStore small(2);
  EXPECT_EQ(s.copy_buffer(small, 0, 4), -1) << "a destination block too small is refused";
  EXPECT_EQ(bytes(small), std::string(2, '\0'));
}

TEST(StoreTest, PartialCopyResults) {
  BrennicStore s(6);
  EXPECT_EQ(s.partial_copy("XY", 2, 2), 2);
  BrennicStore src(2, "PQ");
  EXPECT_EQ(s.partial_copy(src, 4, 2), 0);
  EXPECT_EQ(bytes(s), std::string("\0\0XYPQ", 6));
  EXPECT_EQ(s.partial_copy("1234", 4, 4), 2) << "a range past the block is cut to it";
  EXPECT_EQ(bytes(s), std::string("\0\0XY12", 6));
  // Offsets at or past the end, and null sources, write nothing at all.
  EXPECT_EQ(s.partial_copy("ZZ", 6, 2), 0);
  EXPECT_EQ(s.partial_copy(src, 6, 2), 0);
  EXPECT_EQ(s.partial_copy(nullptr, 0, 2), 0);
  EXPECT_EQ(bytes(s), std::string("\0\0XY12", 6));
  BrennicStore empty;
  char out[4] = {'k', 'k', 'k', 'k'};
  EXPECT_EQ(empty.copy_buffer(out), 0);
  EXPECT_EQ(std::string(out, 4), "kkkk") << "an empty store copies nothing out";
  EXPECT_EQ(s.copy_buffer(static_cast<char*>(nullptr)), 0);
}

TEST(StoreTest, AssignmentCopyAndComparison) {
  BrennicStore a(4, "abcd");
  a = a;
  EXPECT_EQ(bytes(a), "abcd");
  BrennicStore b(8, "abcdefgh");
  EXPECT_TRUE(a == b) << "only this store's size counts: a longer equal prefix is equal";
  EXPECT_FALSE(b == a) << "a shorter other cannot match eight bytes";
  b = a;
  EXPECT_EQ(b.buffer_size(), 4u);
  EXPECT_EQ(bytes(b), "abcd");
  b.get()[0] = 'Z';
  EXPECT_EQ(bytes(a), "abcd") << "copies are deep";
  BrennicStore c(a);
  EXPECT_NE(c.get(), a.get());
  EXPECT_TRUE(c == a);
}

}  // namespace
