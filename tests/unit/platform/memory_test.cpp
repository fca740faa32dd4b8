#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Memory, ZeroedBlocksAreZeroAndReleaseClearsThePointer) {
  auto* block = static_cast<unsigned char*>(alloc_zeroed(4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i)
    ASSERT_EQ(block[i], 0) << i;
  release(&block);
  EXPECT_EQ(block, nullptr);
  release(&block);  // a null pointer is ignored
  EXPECT_EQ(block, nullptr);
}

TEST(Memory, EmptyRequestsStillGiveABlock) {
  char* text = static_cast<char*>(alloc_block(0));
  ASSERT_NE(text, nullptr);
  release(&text);
  void* record = alloc_zeroed(0);
  ASSERT_NE(record, nullptr);
  release(&record);
}

TEST(Memory, BlocksKeepWhatIsWritten) {
  char* text = static_cast<char*>(alloc_block(6));
  ASSERT_NE(text, nullptr);
  std::memcpy(text, "hello", 6);
  EXPECT_STREQ(text, "hello");
  release(&text);
}
