#include "builtins/args.h"

#include <gtest/gtest.h>

#include <cstring>
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

TEST(ArgumentHelpers, TimeHashRoundTripAndLooseReading) {
  SystemTime time{2026, 12, 1, 7, 23, 59, 58, 999};
  ValueNode* result = make_node();
  ASSERT_TRUE(time_hash_from_system_time(time, result));
  EXPECT_EQ(result->is_hash, 1);
  std::string keys;
  for (ValueNode* cell = result->elements; cell != nullptr; cell = cell->next) {
    keys += std::string(cell->name) + "=" + std::to_string(cell->value->data.number) + " ";
  }
  EXPECT_EQ(keys, "year=2026 month=12 week=1 day=7 hour=23 minute=59 second=58 milliseconds=999 ");
  SystemTime back = system_time_from_time_hash(result);
  EXPECT_EQ(std::memcmp(&back, &time, sizeof time), 0);

  // Any order, unknown and unkeyed elements ignored, later duplicates win, 16-bit truncation,
  // keys compared exactly.
  ValueNode* loose = make_node();
  const char* keys_in[] = {"day", "Year", "day", "junk", "year"};
  const char* values_in[] = {"3", "1999", "4", "5", "65537"};
  for (int i = 0; i < 5; ++i) {
    Value key{};
    key.data.text = const_cast<char*>(keys_in[i]);
    key.is_string = 1;
    Value text{};
    text.data.text = const_cast<char*>(values_in[i]);
    text.is_string = 1;
    assign_value(nullptr, element_by_key(nullptr, loose, &key)->value, &text);
  }
  element_by_position(nullptr, loose, 9);
  SystemTime read = system_time_from_time_hash(loose);
  EXPECT_EQ(read.day, 4);
  EXPECT_EQ(read.year, 1);
  EXPECT_EQ(read.month, 0);
  free_node(loose);
  free_node(result);
}
