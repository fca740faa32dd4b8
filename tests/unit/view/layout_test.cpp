// Wrapping into visual lines: character boundaries, two-byte characters, breaks, tabs, bold
// widths, growth of the line arrays, and incremental layout agreeing with a full one.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "view/layout.h"
#include "view/view_geometry.h"
#include "view_fixture.h"

namespace {

std::vector<std::string> lines_of(const TestView& view) {
  std::vector<std::string> lines;
  for (std::uint32_t k = 0; k < view.state->line_count; ++k)
    lines.push_back(view.line(k));
  return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(Layout, BreaksBetweenAnyTwoCharactersNotAtWords) {
  // 50 pixels: a budget of 49, five 8-pixel characters after the 1-pixel margin.
  TestView view(50);
  view.append("hello world");
  EXPECT_EQ(lines_of(view), (Lines{"hello", " worl", "d"}));
  EXPECT_EQ(view.state->line_starts[1], 5u);
}

TEST(Layout, NeverSplitsATwoByteCharacter) {
  TestView view(50);
  view.append("abcd\x82\xA0\x82\xA2xy");
  EXPECT_EQ(lines_of(view), (Lines{"abcd", "\x82\xA0\x82\xA2x", "y"}));
  TestView narrow(20);
  narrow.append("\x82\xA0\x82\xA0");
  EXPECT_EQ(lines_of(narrow), (Lines{"\x82\xA0", "\x82\xA0"}));
}

TEST(Layout, LineBreaksAndCarriageReturns) {
  TestView view;
  view.append("ab\r\ncd\nef\r\n");
  EXPECT_EQ(lines_of(view), (Lines{"ab", "cd", "ef", ""}));
  EXPECT_EQ(view.state->line_starts[1], 4u);
  EXPECT_EQ(view.state->line_starts[2], 7u);
  EXPECT_EQ(view.state->line_starts[3], 11u);
  // A lone CR stays in its line with no width.
  TestView lone;
  lone.append("ab\rcd");
  EXPECT_EQ(lines_of(lone), (Lines{"ab\rcd"}));
  EXPECT_EQ(offset_x(lone.state, 3), 17);
  EXPECT_EQ(offset_x(lone.state, 4), 25);
  // A CR that waits for its LF in the next append.
  lone.append("\r");
  lone.append("\nz");
  EXPECT_EQ(lines_of(lone), (Lines{"ab\rcd", "z"}));
}

TEST(Layout, TabsAdvanceToTheNextStop) {
  TestView view(400);
  view.append("a\tb\t\tc");
  EXPECT_EQ(offset_x(view.state, 1), 9);
  EXPECT_EQ(offset_x(view.state, 2), 1 + 8 * 8);
  EXPECT_EQ(offset_x(view.state, 3), 1 + 9 * 8);
  EXPECT_EQ(offset_x(view.state, 5), 1 + 24 * 8);
  // A tab past the budget ends its line after itself.
  TestView narrow(50);
  narrow.append("abc\td");
  EXPECT_EQ(lines_of(narrow), (Lines{"abc\t", "d"}));
}

TEST(Layout, BoldIsMeasuredWithTheBoldFont) {
  // Proportional fake: 'a' (97) is 4 + 2 = 6 pixels, 7 in bold. Budget 49: seven plain a's fit
  // (1 + 42 = 43, the eighth would reach 49), but only six bold ones (1 + 42 = 43, then 50).
  TestView plain(50, 100, true);
  plain.append(std::string(10, 'a'));
  EXPECT_EQ(plain.state->line_lengths[0], 7);
  TestView bold(50, 100, true);
  bold.append("\x02" + std::string(10, 'a'));
  EXPECT_EQ(bold.state->line_lengths[0], 6);
  // Bold goes on into the wrapped line, and a line feed ends it.
  EXPECT_TRUE(bold_at_line_start(bold.state, 1));
  bold.append("\nx");
  EXPECT_FALSE(bold_at_line_start(bold.state, 2));
  // In a fixed-pitch font plain text is not measured, bold text is.
  TestView fixed(50);
  fixed.append(
      "\x02"
      "aaaaaaaaaa");
  EXPECT_EQ(fixed.state->line_lengths[0], 6);
}

TEST(Layout, ACharacterWiderThanTheLineTakesALineOfItsOwn) {
  TestView view(10);
  view.append("ab\x82\xA0");
  EXPECT_EQ(lines_of(view), (Lines{"a", "b", "\x82\xA0"}));
}

TEST(Layout, LineArraysGrowAsLinesAreAdded) {
  TestView view;
  for (int i = 0; i < 250; ++i)
    view.append("line\r\n");
  EXPECT_EQ(view.state->line_count, 251u);
  EXPECT_GT(view.state->line_capacity, 251u);
  EXPECT_EQ(view.state->line_starts[250], 1500u);
  // A width change starts again from fresh arrays of 100 entries, which grow again.
  view_resize(view.state, 300, 100);
  EXPECT_EQ(view.state->line_count, 251u);
  EXPECT_EQ(view.state->line_starts[137], 137u * 6);
}

TEST(Layout, AppendingPieceByPieceWrapsAsAFullLayoutDoes) {
  std::mt19937 random(17);
  const char* pieces[] = {"ab",
                          "\x02",
                          "cd ef",
                          "\r\n",
                          "\x82\xA0\x82\xA2",
                          "\t",
                          "\x03"
                          "4",
                          "longword",
                          "\x1F",
                          "\n",
                          "\xFF"
                          "url\xFF",
                          "\r"};
  for (int round = 0; round < 20; ++round) {
    TestView view(40 + round * 7, 100, round % 2 == 0);
    for (int i = 0; i < 60; ++i)
      view.append(pieces[random() % std::size(pieces)]);
    Lines incremental = lines_of(view);
    std::vector<std::uint32_t> starts(view.state->line_starts,
                                      view.state->line_starts + view.state->line_count);
    layout_all(view.state);
    ASSERT_EQ(lines_of(view), incremental) << round;
    ASSERT_EQ(std::vector<std::uint32_t>(view.state->line_starts,
                                         view.state->line_starts + view.state->line_count),
              starts)
        << round;
  }
}

TEST(Layout, ScrollRangeFollowsTheLineCount) {
  TestView view(200, 35);  // three whole rows
  EXPECT_EQ(view_rows(view.state), 3u);
  view.append("1\n2\n3");
  EXPECT_EQ(view.state->max_first_line, 0u);
  view.append("\n4\n5");
  EXPECT_EQ(view.state->max_first_line, 2u);
}
