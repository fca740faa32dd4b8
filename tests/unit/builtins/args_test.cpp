#include "builtins/args.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory.h"
#include "support/test_host.h"

namespace {

std::string take(char* text) {
  std::string copy = text != nullptr ? text : "<null>";
  release(&text);
  return copy;
}

}  // namespace

TEST(ArgumentHelpers, ReadIntAndString) {
  EXPECT_EQ(read_int_arg(nullptr), 0);
  EXPECT_EQ(take(read_string_arg(nullptr)), "");
  ValueNode* argument = make_node();
  argument->value->data.number = -15;
  EXPECT_EQ(read_int_arg(argument), -15);
  EXPECT_EQ(take(read_string_arg(argument)), "-15");
  set_string_value(argument->value, " 42x");
  EXPECT_EQ(read_int_arg(argument), 42);
  EXPECT_EQ(take(read_string_arg(argument)), " 42x");
  free_node(argument);
}

TEST(ArgumentHelpers, StoreBytesReusesExtendsAndKeepsTheRest) {
  ValueNode* hash = make_node();
  const unsigned char five[] = {1, 2, 3, 0xFF, 0};
  ASSERT_TRUE(store_bytes_in_hash(nullptr, hash, five, 5));
  ValueNode* first = hash->elements;
  set_string_value(first->value, "text");  // a string element is replaced by a number
  const unsigned char two[] = {9, 8};
  ASSERT_TRUE(store_bytes_in_hash(nullptr, hash, two, 2));
  EXPECT_EQ(hash->elements, first);  // reused, not replaced
  std::int32_t count = 0;
  unsigned char* bytes = read_bytes_from_hash(hash, &count);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), std::string("\x09\x08\x03\xFF\x00", 5));
  release(&bytes);

  ASSERT_TRUE(store_bytes_in_hash(nullptr, hash, nullptr, 0));  // count 0: element 0 becomes 0
  EXPECT_EQ(hash->elements->value->data.number, 0);
  EXPECT_EQ(hash->elements->next->value->data.number, 8);
  free_node(hash);

  ValueNode* empty = make_node();
  empty->value->shared = 1;
  ASSERT_TRUE(store_bytes_in_hash(nullptr, empty, nullptr, 0));
  ASSERT_NE(empty->elements, nullptr);
  EXPECT_EQ(empty->elements->next, nullptr);
  EXPECT_EQ(empty->elements->value->shared, 1);
  free_node(empty);
}

TEST(ArgumentHelpers, ReadBytesTakesLowBitsOrFirstByte) {
  ValueNode* hash = make_node();
  for (int i = 0; i < 4; ++i)
    element_by_position(nullptr, hash, i);
  hash->elements->value->data.number = 0x141;
  set_string_value(hash->elements->next->value, "Bc");
  set_string_value(hash->elements->next->next->value, "");
  hash->elements->next->next->next->value->data.number = -1;
  std::int32_t count = 0;
  unsigned char* bytes = read_bytes_from_hash(hash, &count);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(bytes[0], 0x41);
  EXPECT_EQ(bytes[1], 'B');
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], 0xFF);
  release(&bytes);
  free_node(hash);
  bytes = read_bytes_from_hash(nullptr, &count);
  EXPECT_EQ(count, 0);
  release(&bytes);
}
