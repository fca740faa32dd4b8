// Hashes nested far deeper than any thread's stack could follow by recursion: copying, comparing,
// marking shared and releasing them must work at every depth.
#include <gtest/gtest.h>

#include <string>

#include "engine/cells.h"
#include "engine/operators.h"
#include "engine/script.h"
#include "engine/value.h"
#include "support/script_runner.h"

namespace {

constexpr int kDepth = 1000000;

// A hash nested `depth` levels: every level holds one number element, the next level under it,
// down to an innermost number. Each element above it also stands for a whole hash, so comparisons
// look into it.
ValueNode* make_deep_hash(int depth, std::int32_t innermost) {
  ValueNode* top = make_node();
  ValueNode* level = top;
  for (int i = 0; i < depth; ++i) {
    ValueNode* element = make_node();
    element->value->data.number = i;
    element->is_hash = 1;
    level->elements = element;
    level = element;
  }
  level->elements = make_node();
  level->elements->value->data.number = innermost;
  top->is_hash = 1;
  return top;
}

// The number of the innermost level, -1 when the chain is not `depth` levels deep.
std::int32_t innermost_number(const ValueNode* top, int depth) {
  const ValueNode* level = top;
  for (int i = 0; i < depth; ++i) {
    level = level->elements;
    if (level == nullptr || level->value->data.number != i) return -1;
  }
  level = level->elements;
  return level != nullptr && level->elements == nullptr ? level->value->data.number : -1;
}

}  // namespace

TEST(DeepValues, CopyCompareMarkAndFreeAMillionLevels) {
  ValueNode* original = make_deep_hash(kDepth, 7);
  bool failed = true;
  ValueNode* copy = make_node();
  copy->elements = copy_chain(original->elements, &failed);
  copy->is_hash = 1;
  ASSERT_FALSE(failed);
  EXPECT_EQ(innermost_number(copy, kDepth), 7);

  ScriptFixture scripts;
  CallContext frame = make_frame(scripts.add_module("main"), "main");
  bool equal = false;
  ASSERT_TRUE(entries_equal(&frame, original, copy, &equal));
  EXPECT_TRUE(equal);
  // A difference at the innermost level is found too.
  ValueNode* innermost = copy;
  while (innermost->elements != nullptr)
    innermost = innermost->elements;
  innermost->value->data.number = 8;
  ASSERT_TRUE(entries_equal(&frame, original, copy, &equal));
  EXPECT_FALSE(equal);

  ASSERT_TRUE(mark_shared(copy));
  EXPECT_EQ(innermost->value->shared, 1);
  free_node(copy);
  free_node(original);
}

TEST(DeepValues, WideAndDeepChainsCopyInOrder) {
  // Levels with siblings before and after the nested element: the walk must come back to each.
  ValueNode* top = make_node();
  ValueNode* level = top;
  for (int i = 0; i < 2000; ++i) {
    ValueNode* before = make_node();
    ValueNode* middle = make_node();
    ValueNode* after = make_node();
    before->value->data.number = 1;
    middle->value->data.number = 2;
    after->value->data.number = 3;
    before->next = middle;
    middle->next = after;
    level->elements = before;
    level = middle;
  }
  bool failed = true;
  ValueNode* copy = copy_chain(top->elements, &failed);
  ASSERT_FALSE(failed);
  int levels = 0;
  for (const ValueNode* cell = copy; cell != nullptr; cell = cell->next->elements, ++levels) {
    ASSERT_EQ(cell->value->data.number, 1);
    ASSERT_EQ(cell->next->value->data.number, 2);
    ASSERT_EQ(cell->next->next->value->data.number, 3);
    ASSERT_EQ(cell->next->next->next, nullptr);
  }
  EXPECT_EQ(levels, 2000);
  free_chain(copy);
  free_node(top);
}

TEST(DeepValues, ScriptsBuildCopyAndDropDeepHashes) {
  // A statement of 400 000 indexes at top level: the variable becomes a shared global.
  std::string text = "h";
  for (int i = 0; i < 400000; ++i)
    text += "[0]";
  text += " = 5;\n";
  // A recursive function goes 100 levels deeper per call through a reference parameter.
  text += "function deeper(&r, n) { if (n > 0) deeper(r";
  for (int i = 0; i < 100; ++i)
    text += "[0]";
  text += ", n - 1); else r = 9; }\n";
  text += "function build() { deeper(d, 2000); c[] = d[]; x = c[] == d[]; e[] = h[]; return x; }\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("build"), "1");
  EXPECT_TRUE(runner.errors().empty());
}
