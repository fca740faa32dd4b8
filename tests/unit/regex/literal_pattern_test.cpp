// String literals' patterns: compiled on first use, shared by threads, kept within a budget.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

// Whether the subject matches, searched through a PatternUse.
bool matches(const CompiledPattern* pattern, const char* subject) {
  PatternUse use(pattern);
  GroupSpan* groups = nullptr;
  bool found = find_first_match(use.get(), subject, 0, &groups) != 0;
  release(&groups);
  return found;
}

}  // namespace

TEST(LiteralPattern, CompiledOnFirstUseWithTheSameResults) {
  const char* text = "(\\d+)-(\\d+)";
  CompiledPattern* literal = make_literal_pattern(text);
  ASSERT_NE(literal, nullptr);
  EXPECT_EQ(literal->compiled, nullptr);
  {
    PatternUse use(literal);
    ASSERT_NE(use.get(), nullptr);
    EXPECT_EQ(use.get(), literal->compiled);  // kept with the literal
    GroupSpan* groups = nullptr;
    ASSERT_EQ(find_first_match(use.get(), "ab 12-345", 0, &groups), 3);
    EXPECT_EQ(std::string(groups[2].start, groups[2].end), "345");
    release(&groups);
  }
  const CompiledPattern* kept = literal->compiled;
  EXPECT_FALSE(matches(literal, "12 345"));
  EXPECT_EQ(literal->compiled, kept);  // compiled once
  free_pattern(&literal);
  EXPECT_EQ(literal, nullptr);
}

TEST(LiteralPattern, ThreadsShareTheFirstUse) {
  for (int round = 0; round < 20; ++round) {
    CompiledPattern* literal = make_literal_pattern("x(a|b)*y");
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
      threads.emplace_back([&] {
        if (matches(literal, "--xababy--") && !matches(literal, "xabc")) ++found;
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_EQ(found.load(), 6);
    EXPECT_NE(literal->compiled, nullptr);
    free_pattern(&literal);
  }
}

TEST(LiteralPattern, PastTheBudgetEachUseCompilesItsOwn) {
  std::size_t before = kept_literal_pattern_bytes();
  std::vector<CompiledPattern*> literals;
  for (int i = 0; i < 12; ++i)
    literals.push_back(make_literal_pattern("a{130000}"));
  std::string subject(130000, 'a');
  std::string short_subject = std::string(1000, 'a') + "b";
  int kept = 0;
  for (CompiledPattern* literal : literals) {
    EXPECT_TRUE(matches(literal, subject.c_str()));
    EXPECT_FALSE(matches(literal, short_subject.c_str()));
    kept += literal->compiled != nullptr;
    EXPECT_LE(kept_literal_pattern_bytes(), LITERAL_PATTERN_BUDGET);
  }
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 12);
  for (CompiledPattern* literal : literals)
    free_pattern(&literal);
  EXPECT_EQ(kept_literal_pattern_bytes(), before);
}

TEST(LiteralPattern, TooComplexIsToldAndRemembered) {
  std::string deep(20000, '(');
  CompiledPattern* literal = make_literal_pattern(deep.c_str());
  {
    PatternUse use(literal);
    EXPECT_EQ(use.get(), nullptr);
    EXPECT_EQ(use.problem(), PATTERN_TOO_COMPLEX);
  }
  EXPECT_EQ(literal->literal_problem, PATTERN_TOO_COMPLEX);
  PatternUse again(literal);
  EXPECT_EQ(again.problem(), PATTERN_TOO_COMPLEX);
  free_pattern(&literal);
}

TEST(MatchBounds, RunningOutOfBacktrackRoomIsToldApartFromNoMatch) {
  CompiledPattern* pattern = compile_pattern("(a|c)*b");
  std::string subject(100000, 'a');
  subject += 'b';
  GroupSpan* groups = nullptr;
  std::int32_t stopped = MATCH_RUNNING;
  set_allocation_limit(1 << 20);
  std::int32_t slots = find_first_match(pattern, subject.c_str(), 0, &groups, &stopped);
  set_allocation_limit(0);
  EXPECT_EQ(slots, 0);
  EXPECT_EQ(stopped, MATCH_TOO_DEEP);
  // A plain miss is no give-up.
  EXPECT_EQ(find_first_match(pattern, "aaac", 0, &groups, &stopped), 0);
  EXPECT_EQ(stopped, MATCH_RUNNING);
  // With memory there is room for millions of pending choices.
  std::string long_subject(9000000, 'a');
  long_subject += 'b';
  ASSERT_EQ(find_first_match(pattern, long_subject.c_str(), 0, &groups, &stopped), 2);
  EXPECT_EQ(groups[0].end - groups[0].start, 9000001);
  release(&groups);
  free_pattern(&pattern);
}
