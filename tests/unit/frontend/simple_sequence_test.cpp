// Which loops the parser marks as simple: the evaluator runs a marked loop without the statement
// loop, trusting its shape, so a loop of any other shape must never be marked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/syntax_node.h"
#include "parse_fixture.h"

namespace {

// The `simple_slot` of every LoopTop, in the order the loops start.
void collect_loops(const SyntaxNode* list, std::vector<std::int32_t>* slots) {
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->body != nullptr) collect_loops(node->body, slots);
    if (node->kind == NodeKind::LoopTop) slots->push_back(node->simple_slot);
  }
}

std::vector<std::int32_t> loop_marks(const char* text) {
  ParseRun run(text);
  std::vector<std::int32_t> slots;
  collect_loops(run.list(), &slots);
  return slots;
}

// The slots of the Names in `list` and under it, in order.
void collect_names(const SyntaxNode* list, std::string* names) {
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->kind == NodeKind::Name)
      *names += std::string(node->text) + "=" + std::to_string(node->simple_slot) + " ";
    if (node->body != nullptr) collect_names(node->body, names);
  }
}

}  // namespace

TEST(SimpleLoops, OnlyLoopsOfPlainArithmeticAreMarked) {
  using Marks = std::vector<std::int32_t>;
  // Marked: 1 + the number of names.
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i++) { s = s + i; }"), Marks{3});
  EXPECT_EQ(loop_marks("while (n < 50) n = n + 3;"), Marks{2});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i++) { }"), Marks{2});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i++);"), Marks{2});
  EXPECT_EQ(loop_marks("while (x = i++ < 5) c++;"), Marks{4});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i = i + 2) { a = i; b = a * 2; ; }"), Marks{4});
  // Not marked: a call, a string, an index, a nested loop, an if, a break, a lone name, a do loop,
  // a loop without a condition or a step, too many names.
  EXPECT_EQ(loop_marks("for (i = 0; i < len(x); i++) { }"), Marks{0});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i++) { s = s + \"x\"; }"), Marks{0});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; i++) { h[i] = i; }"), Marks{0});
  EXPECT_EQ(loop_marks("for (a = 0; a < 3; a++) { for (b = 0; b < a; b++) { s = s + b; } }"),
            (Marks{0, 4}));
  EXPECT_EQ(loop_marks("while (i < 9) { if (i) i++; }"), Marks{0});
  EXPECT_EQ(loop_marks("while (i < 9) { i++; break; }"), Marks{0});
  EXPECT_EQ(loop_marks("while (i < 9) { i; }"), Marks{0});
  EXPECT_EQ(loop_marks("do { i++; } while (i < 9);"), Marks{0});
  EXPECT_EQ(loop_marks("for (i = 0; ; i++) { }"), Marks{0});
  EXPECT_EQ(loop_marks("for (i = 0; i < 9; ) { i++; }"), Marks{0});
  EXPECT_EQ(loop_marks("while (a < b + c + d + e + f + g + h + j + k + l + m + n + o + p + q + r) "
                       "a++;"),
            Marks{0});
  EXPECT_EQ(
      loop_marks("while (a < b + c + d + e + f + g + h + j + k + l + m + n + o + p + q) a++;"),
      Marks{17});
}

TEST(SimpleLoops, NamesShareASlotPerName) {
  ParseRun run("for (i = 0; i < n; i++) { s = s + &i; }");
  std::string names;
  collect_names(run.list(), &names);
  // The initialisation is outside the loop; "&i" reads the same variable as "i".
  EXPECT_EQ(names, "i=0 i=1 n=2 s=3 s=3 &i=1 i=1 ");
}
