#include "engine/value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/cp932.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "support/test_host.h"

namespace {

std::string take(char* text) {
  std::string copy = text != nullptr ? text : "<null>";
  release(&text);
  return copy;
}

std::string unescaped(std::string text) {
  std::string buffer = text;
  unescape_text(buffer.data());
  return std::string(buffer.c_str());
}

Value string_value(const char* text) {
  Value value{};
  value.data.text = const_cast<char*>(text);
  value.is_string = 1;
  return value;
}

Value number_value(std::int32_t number) {
  Value value{};
  value.data.number = number;
  return value;
}

}  // namespace

TEST(Value, MadeNodeIsAnUnnamedNumberZeroOwningItsValue) {
  ValueNode* node = make_node();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->value->data.number, 0);
  EXPECT_EQ(node->value->is_string, 0);
  EXPECT_EQ(node->value->owner, node);
  EXPECT_EQ(node->name, nullptr);
  EXPECT_EQ(node->elements, nullptr);
  EXPECT_EQ(node->is_hash, 0);
  free_node(node);
}

TEST(Value, NumberToTextCoversSignsAndTheExtremes) {
  EXPECT_EQ(take(number_to_text(0)), "0");
  EXPECT_EQ(take(number_to_text(-5)), "-5");
  EXPECT_EQ(take(number_to_text(1234567890)), "1234567890");
  EXPECT_EQ(take(number_to_text(INT32_MIN)), "-2147483648");
  EXPECT_EQ(take(number_to_text(INT32_MAX)), "2147483647");
}

TEST(Value, NumberOfValueReadsLeadingDecimalOnly) {
  Value v = string_value("  42abc");
  EXPECT_EQ(number_of_value(&v), 42);
  v = string_value("-7");
  EXPECT_EQ(number_of_value(&v), -7);
  v = string_value("+8");
  EXPECT_EQ(number_of_value(&v), 8);
  for (const char* zero : {"abc", "", "0x1F", "-", " + 1"}) {
    v = string_value(zero);
    EXPECT_EQ(number_of_value(&v), 0) << zero;
  }
  v = string_value("1.9");
  EXPECT_EQ(number_of_value(&v), 1);
  v = string_value("\t\n 12");
  EXPECT_EQ(number_of_value(&v), 12);
  v = string_value("4294967297");  // wraps modulo 2^32
  EXPECT_EQ(number_of_value(&v), 1);
  v = string_value("-2147483648");
  EXPECT_EQ(number_of_value(&v), INT32_MIN);
  v = number_value(-3);
  EXPECT_EQ(number_of_value(&v), -3);
}

TEST(Value, TextOfValueCopiesStringsAndFormatsNumbers) {
  Value v = string_value("abc");
  char* copy = text_of_value(&v);
  EXPECT_NE(copy, v.data.text);
  EXPECT_EQ(take(copy), "abc");
  v = number_value(-12);
  EXPECT_EQ(take(text_of_value(&v)), "-12");
}

TEST(Value, HexAndOctalStopAtTheFirstForeignByte) {
  EXPECT_EQ(parse_hex("1F"), 31);
  EXPECT_EQ(parse_hex("ff"), 255);
  EXPECT_EQ(parse_hex("g"), 0);
  EXPECT_EQ(parse_hex("10g1"), 16);
  EXPECT_EQ(parse_hex("FFFFFFFF"), -1);
  EXPECT_EQ(parse_hex("100000001"), 1);  // wraps
  EXPECT_EQ(parse_octal("777"), 511);
  EXPECT_EQ(parse_octal("8"), 0);
  EXPECT_EQ(parse_octal("178"), 15);
}

TEST(Value, UnescapeRewritesEscapesInPlace) {
  EXPECT_EQ(unescaped("a\\tb"), "a\tb");
  EXPECT_EQ(unescaped("\\101"), "A");
  EXPECT_EQ(unescaped("\\1012"), "A2");  // at most three octal digits
  EXPECT_EQ(unescaped("\\x41z"), "Az");
  EXPECT_EQ(unescaped("\\x414"), "A4");  // at most two hex digits
  EXPECT_EQ(unescaped("\\q"), "\\q");
  EXPECT_EQ(unescaped("ab\\x"), "ab");
  EXPECT_EQ(unescaped("\\\"\\\\\\b\\n\\r"), "\"\\\b\n\r");
  EXPECT_EQ(unescaped("a\\xzb"), "a");   // no hex digit: byte 0 ends the text
  EXPECT_EQ(unescaped("a\\0b"), "a");    // a produced NUL ends the text
  EXPECT_EQ(unescaped("\\501"), "A");    // low 8 bits of 0501
  EXPECT_EQ(unescaped("\\\\n"), "\\n");  // a produced backslash is not examined again
  EXPECT_EQ(unescaped("ab\\"), "ab\\");  // a lone trailing backslash stays
}

TEST(Value, UnescapeStepsOverDoubleByteCharacters) {
  // 0x95 0x5C is one character whose second byte is a backslash: it is not an escape.
  EXPECT_EQ(unescaped("\x95\\n"), "\x95\\n");
  EXPECT_EQ(unescaped("\x82\xa0\\t"), "\x82\xa0\t");
  // A lead byte at the very end stands alone.
  EXPECT_EQ(unescaped("a\x82"), "a\x82");
  // A produced lead byte is not paired with what follows.
  EXPECT_EQ(unescaped("\\x82\\t"), "\x82\t");
}

TEST(Value, NameSignaturesTakeBytesAsSigned) {
  static_assert(name_hash_of("ab") == 2 * 97 + 98);
  EXPECT_EQ(name_hash_of(nullptr), 0);
  EXPECT_EQ(name_hash_of(""), 0);
  EXPECT_EQ(name_hash_of("\x82"), -126);
  EXPECT_EQ(name_hash_of("a\x82"), 2 * 97 - 126);
  // Long names wrap around without undefined behaviour.
  std::string long_name(100, 'z');
  EXPECT_EQ(name_hash_of(long_name.c_str()), name_hash_of(long_name.c_str()));
}

TEST(Value, StringHelpers) {
  EXPECT_EQ(take(dup_string("x")), "x");
  EXPECT_EQ(dup_string(nullptr), nullptr);
  EXPECT_EQ(take(concat_strings("ab", "cd")), "abcd");
  EXPECT_EQ(take(concat_strings("ab", nullptr)), "ab");
  EXPECT_EQ(take(concat_strings(nullptr, "cd")), "cd");
  const char* text = "hello";
  EXPECT_EQ(take(copy_span(text + 1, 3)), "el");
  EXPECT_EQ(take(copy_span(text, 100)), "hello");  // stops at the NUL
  EXPECT_EQ(take(copy_span(text, 1)), "");
  EXPECT_EQ(take(copy_span(text, 0)), "");
  EXPECT_EQ(copy_span(nullptr, 3), nullptr);
  char buffer[16];
  char* end = append_text(append_text(append_text(buffer, "ab"), nullptr), "c");
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(end, buffer + 3);
}

// Appending fills the room the heap left in the block, and moves to a new block exactly when the
// text would no longer fit; with no memory for a new block the old text stays.
TEST(Value, AppendStringUsesTheBlocksRoomThenMoves) {
  char* text = dup_string("a");
  ASSERT_NE(text, nullptr);
  std::string expected = "a";
  bool moved = false;
  for (int i = 0; i < 200; ++i) {
    std::size_t room = block_capacity(text);
    const char* piece = i % 2 == 0 ? "\x82\xa0" : "bc";
    expected += piece;
    char* joined = append_string(text, piece);
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined == text, expected.size() < room) << i;
    moved = moved || joined != text;
    text = joined;
    EXPECT_EQ(std::string(text), expected);
  }
  EXPECT_TRUE(moved);
  // A text that fills its block exactly has no room: the next append needs a new block.
  std::size_t room = block_capacity(text);
  std::string fill(room - 1 - expected.size(), 'z');
  text = append_string(text, fill.c_str());
  ASSERT_NE(text, nullptr);
  ASSERT_EQ(std::strlen(text) + 1, block_capacity(text));
  set_allocation_limit(1);
  EXPECT_EQ(append_string(text, "more"), nullptr);
  set_allocation_limit(0);
  EXPECT_EQ(std::string(text), expected + fill);
  EXPECT_EQ(take(append_string(text, "")), expected + fill);
}

TEST(Value, AssignCopiesScalarsAndKeepsElements) {
  ValueNode* target = make_node();
  ValueNode* element = make_node();
  target->elements = element;
  Value text = string_value("hi");
  assign_value(nullptr, target->value, &text);
  EXPECT_EQ(target->value->is_string, 1);
  EXPECT_NE(target->value->data.text, text.data.text);
  EXPECT_STREQ(target->value->data.text, "hi");
  assign_value(nullptr, target->value, target->value);  // to itself
  EXPECT_STREQ(target->value->data.text, "hi");
  Value number = number_value(5);
  assign_value(nullptr, target->value, &number);
  EXPECT_EQ(target->value->is_string, 0);
  EXPECT_EQ(target->value->data.number, 5);
  EXPECT_EQ(target->elements, element);
  EXPECT_EQ(target->value->owner, target);
  free_node(target);
}

TEST(Value, ElementByKeyFindsOrAppends) {
  ValueNode* container = make_node();
  Value empty = string_value("");
  EXPECT_EQ(element_by_key(nullptr, container, &empty), container);
  EXPECT_EQ(container->elements, nullptr);

  Value key = string_value("Key");
  ValueNode* first = element_by_key(nullptr, container, &key);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->name, "Key");
  EXPECT_EQ(first->name_hash, name_hash_of("Key"));
  EXPECT_EQ(first->value->data.number, 0);
  EXPECT_EQ(element_by_key(nullptr, container, &key), first);
  Value other_case = string_value("key");  // keys keep their case
  ValueNode* second = element_by_key(nullptr, container, &other_case);
  EXPECT_NE(second, first);
  EXPECT_EQ(first->next, second);
  // A number key is a position.
  Value position = number_value(1);
  EXPECT_EQ(element_by_key(nullptr, container, &position), second);
  free_node(container);
}

TEST(Value, ElementByPositionExtendsTheChain) {
  TestHost test_host;
  ScriptFixture scripts(test_host.host());
  Script* main_module = scripts.add_module("main", "x = a[-1];\n");
  CallContext frame = make_frame(main_module, "main");
  frame.position = main_module->text + 4;

  ValueNode* container = make_node();
  container->value->shared = 1;
  ValueNode* third = element_by_position(&frame, container, 2);
  ASSERT_NE(third, nullptr);
  int count = 0;
  for (ValueNode* cell = container->elements; cell != nullptr; cell = cell->next) {
    ++count;
    EXPECT_EQ(cell->name, nullptr);
    EXPECT_EQ(cell->value->shared, 1);  // inherited from the container
  }
  EXPECT_EQ(count, 3);
  EXPECT_EQ(container->elements->next->next, third);
  EXPECT_EQ(element_by_position(&frame, container, 0), container->elements);
  EXPECT_EQ(element_by_position(&frame, container, 2), third);

  EXPECT_EQ(element_by_position(&frame, container, -1), nullptr);
  std::vector<std::string> lines = test_host.error_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "### Error: Index error : main.main:(1) : x = a[-1];");
  free_node(container);
}

TEST(Value, FreeingAReferenceLeavesTheReferencedValue) {
  ValueNode* owner = make_node();
  owner->elements = make_node();
  ValueNode* reference = make_cell();
  free_node(nullptr);
  free_node(CALL_FAILED);
  free_chain(CALL_FAILED);
  // Make the cell a reference, as the evaluator does.
  reference->value = owner->value;
  reference->elements = owner->elements;
  reference->name = dup_string("ref");
  free_node(reference);
  EXPECT_EQ(owner->value->owner, owner);
  EXPECT_NE(owner->elements, nullptr);
  EXPECT_EQ(owner->elements->value->owner, owner->elements);
  free_node(owner);
}

// An extension appends elements as two blocks of its own (the header's lumo_append_element); the
// engine releases them with the hash, and its cells made afterwards are whole.
TEST(Value, ElementsMadeByAnExtensionAreReleasedWithTheHash) {
  ValueNode* hash = make_node();
  ValueNode** tail = &hash->elements;
  for (int i = 0; i < 3; ++i) {
    auto* element = static_cast<ValueNode*>(alloc_zeroed(sizeof(ValueNode)));
    auto* value = static_cast<Value*>(alloc_zeroed(sizeof(Value)));
    ASSERT_NE(element, nullptr);
    ASSERT_NE(value, nullptr);
    value->owner = element;
    if (i == 1) {
      value->data.text = dup_string("text");
      value->is_string = 1;
    }
    element->name = dup_string(i == 0 ? "a" : i == 1 ? "b" : "c");
    element->value = value;
    *tail = element;
    tail = &element->next;
  }
  hash->is_hash = 1;
  bool failed = false;
  ValueNode* copy = copy_chain(hash, &failed);
  ASSERT_FALSE(failed);
  free_node(hash);
  ValueNode* cells[8];
  for (ValueNode*& cell : cells) {
    cell = make_node();
    ASSERT_NE(cell, nullptr);
    cell->value->data.number = 7;
    EXPECT_EQ(cell->value->owner, cell);
  }
  for (ValueNode* cell : cells)
    free_node(cell);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->elements, nullptr);
  EXPECT_STREQ(copy->elements->next->value->data.text, "text");
  free_chain(copy);
}

TEST(Value, CopyChainIsDeepAndUnshared) {
  ValueNode* hash = make_node();
  hash->value->shared = 1;
  Value key = string_value("name");
  ValueNode* named = element_by_key(nullptr, hash, &key);
  Value text = string_value("value");
  assign_value(nullptr, named->value, &text);
  Value inner_key = string_value("inner");
  ValueNode* inner = element_by_key(nullptr, named, &inner_key);
  inner->value->data.number = 9;
  ValueNode* unnamed = element_by_position(nullptr, hash, 1);
  unnamed->value->data.number = -4;

  bool failed = true;
  ValueNode* copy = copy_chain(hash->elements, &failed);
  ASSERT_FALSE(failed);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->name, "name");
  EXPECT_NE(copy->name, named->name);
  EXPECT_EQ(copy->name_hash, named->name_hash);
  EXPECT_STREQ(copy->value->data.text, "value");
  EXPECT_NE(copy->value->data.text, named->value->data.text);
  EXPECT_EQ(copy->value->shared, 0);
  EXPECT_EQ(copy->value->owner, copy);
  ASSERT_NE(copy->elements, nullptr);
  EXPECT_STREQ(copy->elements->name, "inner");
  EXPECT_EQ(copy->elements->value->data.number, 9);
  EXPECT_EQ(copy->elements->value->shared, 0);
  ASSERT_NE(copy->next, nullptr);
  EXPECT_EQ(copy->next->name, nullptr);
  EXPECT_EQ(copy->next->value->data.number, -4);
  EXPECT_EQ(copy->next->next, nullptr);
  free_chain(copy);
  free_node(hash);
  EXPECT_EQ(copy_chain(nullptr, &failed), nullptr);
  EXPECT_FALSE(failed);
}

TEST(Cp932, FolderLengthStopsOnlyAtRealBackslashes) {
  EXPECT_EQ(folder_length(""), 0u);
  EXPECT_EQ(folder_length("main.lum"), 0u);
  EXPECT_EQ(folder_length("a\\b\\main.lum"), 4u);
  EXPECT_EQ(folder_length("a\\"), 2u);
  // 0x95 0x5C is one character: its second byte is no separator.
  EXPECT_EQ(folder_length("\x95\\main.lum"), 0u);
  EXPECT_EQ(folder_length("d\\\x95\\"), 2u);
  // A lead byte at the very end is a byte of its own.
  EXPECT_EQ(folder_length("d\\\x95"), 2u);
}
