// Hit tests, keyboard moves, word selection, links, mouse selection with auto-scroll, scrolling
// and following the end on append.
#include <gtest/gtest.h>

#include <string>

#include "view/view_geometry.h"
#include "view_fixture.h"

TEST(HitTest, LandsBeforeACharacterWhenLeftOfItsMiddle) {
  TestView view;
  view.append("abc\r\n\x82\xA0z");
  // 'a' spans pixels 1 to 9, its middle at 5.
  EXPECT_EQ(hit_test(view.state, 0, 0), 0u);
  EXPECT_EQ(hit_test(view.state, 4, 5), 0u);
  EXPECT_EQ(hit_test(view.state, 5, 5), 1u);
  EXPECT_EQ(hit_test(view.state, 12, 9), 1u);
  EXPECT_EQ(hit_test(view.state, 13, 9), 2u);
  // Right of the end of a line: the end of that visual line, before its CR LF.
  EXPECT_EQ(hit_test(view.state, 150, 3), 3u);
  // The two-byte character spans 1 to 17: never a position inside it.
  EXPECT_EQ(hit_test(view.state, 8, 10), 5u);
  EXPECT_EQ(hit_test(view.state, 9, 10), 7u);
  // Above the text and below it.
  EXPECT_EQ(hit_test(view.state, 30, -1), 0u);
  EXPECT_EQ(hit_test(view.state, 0, 20), view.state->length);
  // The cell under the pointer: the character whose box holds x.
  EXPECT_EQ(hit_test(view.state, 8, 0, HitMode::CELL), 0u);
  EXPECT_EQ(hit_test(view.state, 9, 0, HitMode::CELL), 1u);
}

TEST(HitTest, CountsBoldFromTheHardLineStartAndFollowsTheScrollPosition) {
  TestView view(50, 20, true);
  // 'a' is 7 pixels in bold: the second visual line starts bold.
  view.append(
      "\x02"
      "aaaaaaaa\r\n1\r\n2\r\n3");
  ASSERT_EQ(view.state->line_lengths[0], 6);
  view.state->first_visible_line = 0;
  EXPECT_EQ(hit_test(view.state, 10, 10), 7u);  // 1 + 7 = 8, middle of the second 'a' at 11.5
  view.state->first_visible_line = 2;
  EXPECT_EQ(hit_test(view.state, 0, 0), 10u);
  EXPECT_EQ(caret_x(view.state), offset_x(view.state, view.state->length));
}

TEST(Keys, LeftAndRightStepOverCharactersAndLineBreaks) {
  TestView view(50);
  view.append(
      "ab\r\n\x82\xA0"
      "cdefgh\nxy");  // the second hard line wraps after "\x82\xA0cde"
  ASSERT_EQ(view.line(1),
            "\x82\xA0"
            "cde");
  view.select(0, 0);
  std::uint32_t expected_right[] = {1, 2, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  for (std::uint32_t expected : expected_right) {
    view.key(ViewKey::RIGHT);
    EXPECT_EQ(view.state->caret, expected);
    EXPECT_EQ(view.state->anchor, expected);
  }
  std::uint32_t expected_left[] = {14, 13, 12, 11, 10, 9, 8, 7, 6, 4, 2, 1, 0, 0};
  for (std::uint32_t expected : expected_left) {
    view.key(ViewKey::LEFT);
    EXPECT_EQ(view.state->caret, expected);
  }
}

TEST(Keys, ShiftExtendsAndPlainArrowsCollapseTheSelection) {
  TestView view;
  view.append("abcdef");
  view.select(2, 2);
  view.key(ViewKey::RIGHT, true);
  view.key(ViewKey::RIGHT, true);
  EXPECT_EQ(view.state->anchor, 2u);
  EXPECT_EQ(view.state->caret, 4u);
  view.key(ViewKey::LEFT);
  EXPECT_EQ(view.state->caret, 2u);
  EXPECT_EQ(view.state->anchor, 2u);
  view.select(1, 5);
  view.key(ViewKey::RIGHT);
  EXPECT_EQ(view.state->caret, 5u);
  EXPECT_EQ(view.state->anchor, 5u);
}

TEST(Keys, HomeAndEndStayInTheHardLine) {
  TestView view(50);
  view.append("first\r\n\r\nsecond line here\r\nlast");
  view.select(14, 14);  // inside "second line here", on its second visual line
  view.key(ViewKey::HOME);
  EXPECT_EQ(view.state->caret, 9u);
  view.key(ViewKey::END, true);
  EXPECT_EQ(view.state->caret, 25u);
  EXPECT_EQ(view.state->anchor, 9u);
  // An empty line is a hard line of its own.
  view.select(7, 7);
  view.key(ViewKey::HOME);
  EXPECT_EQ(view.state->caret, 7u);
  view.key(ViewKey::END);
  EXPECT_EQ(view.state->caret, 7u);
  view.key(ViewKey::HOME, false, true);
  EXPECT_EQ(view.state->caret, 0u);
  EXPECT_EQ(view.state->first_visible_line, 0u);
  view.key(ViewKey::END, false, true);
  EXPECT_EQ(view.state->caret, view.state->length);
  EXPECT_EQ(view.state->first_visible_line, view.state->max_first_line);
}

TEST(Keys, UpAndDownKeepTheRememberedColumn) {
  TestView view;
  view.append("abcdefgh\r\nab\r\nabcdefgh");
  view.select(6, 6);
  view.key(ViewKey::UP);  // nothing on the first line
  EXPECT_EQ(view.state->caret, 6u);
  view.key(ViewKey::DOWN);
  EXPECT_EQ(view.state->caret, 12u);  // the end of the short line
  EXPECT_EQ(view.state->remembered_x, 1 + 6 * 8);
  view.key(ViewKey::DOWN);
  EXPECT_EQ(view.state->caret, 20u);  // back in column 6
  view.key(ViewKey::DOWN);
  EXPECT_EQ(view.state->caret, 20u);  // nothing on the last line
  view.key(ViewKey::LEFT);
  EXPECT_EQ(view.state->remembered_x, 0);
}

TEST(Keys, PagesCtrlAAndIgnoredKeys) {
  TestView view(200, 30);  // three rows
  for (int i = 0; i < 10; ++i)
    view.append("line\r\n");
  view.append("end");
  view.key(ViewKey::HOME, false, true);
  ViewChange page = view.key(ViewKey::PAGE_DOWN);
  EXPECT_EQ(view.state->caret, 18u);  // line 3
  EXPECT_EQ(view.state->first_visible_line, 3u);
  EXPECT_EQ(page.scroll_rows, -3);
  EXPECT_TRUE(page.repaint_all);
  view.key(ViewKey::PAGE_UP, true);
  EXPECT_EQ(view.state->caret, 0u);
  EXPECT_EQ(view.state->anchor, 18u);
  EXPECT_EQ(view.state->first_visible_line, 0u);

  ViewChange all = view.key(ViewKey::A, false, true);
  EXPECT_EQ(view.state->anchor, 0u);
  EXPECT_EQ(view.state->caret, view.state->length);
  EXPECT_EQ(view.state->first_visible_line, view.state->max_first_line);
  EXPECT_TRUE(all.repaint_all);
  EXPECT_TRUE(view.key(ViewKey::C, false, true).copy);
  EXPECT_FALSE(view.key(ViewKey::C).copy);
  view.key(ViewKey::A);
  view.key(ViewKey::OTHER);
  EXPECT_EQ(view.state->anchor, 0u);
  EXPECT_EQ(view.state->caret, view.state->length);
}

TEST(Keys, EmptyViewSelectsNothing) {
  TestView view;
  view.key(ViewKey::A, false, true);
  EXPECT_EQ(view.state->caret, 0u);
  EXPECT_EQ(view.state->anchor, 0u);
  EXPECT_EQ(view.state->max_first_line, 0u);
  for (ViewKey key : {ViewKey::LEFT, ViewKey::RIGHT, ViewKey::UP, ViewKey::DOWN, ViewKey::HOME,
                      ViewKey::END, ViewKey::PAGE_UP, ViewKey::PAGE_DOWN}) {
    view.key(key);
    EXPECT_EQ(view.state->caret, 0u);
  }
}

TEST(Keys, TheCaretIsBroughtIntoSightAndChangedLinesRepainted) {
  TestView view(200, 30);
  for (int i = 0; i < 10; ++i)
    view.append("line\r\n");
  view.select(0, 0);
  view.state->first_visible_line = 0;
  for (int i = 0; i < 3; ++i)
    view.key(ViewKey::DOWN);
  EXPECT_EQ(view.state->first_visible_line, 1u);
  ViewChange change = view.key(ViewKey::DOWN);
  EXPECT_EQ(view.state->first_visible_line, 2u);
  EXPECT_EQ(change.scroll_rows, -1);
  ASSERT_EQ(change.line_ranges, 2);  // the anchor followed the caret
  for (const LineRange& range : change.lines) {
    EXPECT_EQ(range.first, 3u);
    EXPECT_EQ(range.last, 4u);
  }
  view.state->first_visible_line = 7;
  change = view.key(ViewKey::RIGHT, true);
  EXPECT_EQ(view.state->first_visible_line, 4u);
  EXPECT_EQ(change.scroll_rows, 3);
}

TEST(WordSelection, LettersDigitsUnderscoresTwoByteRunsAndSpaces) {
  TestView view;
  view.append(
      "say foo_bar1 \x82\xA0\x82\xA2"
      "abc!\r\nnext");
  ViewChange change = view_double_click(view.state, 1 + 6 * 8, 0);  // on the 'o' of foo
  EXPECT_EQ(view.state->anchor, 4u);
  EXPECT_EQ(view.state->caret, 12u);
  EXPECT_FALSE(change.open_link);
  // The right half of the last letter is still that word.
  view_double_click(view.state, 1 + 11 * 8 + 7, 0);
  EXPECT_EQ(view.state->anchor, 4u);
  EXPECT_EQ(view.state->caret, 12u);
  view_double_click(view.state, 1 + 3 * 8 + 2, 0);  // on the space
  EXPECT_EQ(view.state->anchor, 3u);
  EXPECT_EQ(view.state->caret, 4u);
  view_double_click(view.state, 1 + 15 * 8, 0);  // on the second two-byte character
  EXPECT_EQ(view.state->anchor, 13u);
  EXPECT_EQ(view.state->caret, 17u);
  view_double_click(view.state, 1 + 20 * 8 + 1, 0);  // '!' alone
  EXPECT_EQ(view.state->anchor, 20u);
  EXPECT_EQ(view.state->caret, 21u);
  view.select(2, 2);
  view_double_click(view.state, 190, 0);  // right of the line's end: nothing
  EXPECT_EQ(view.state->anchor, 2u);
  EXPECT_EQ(view.state->caret, 2u);
}

TEST(Links, DoubleClickOpensTheWholeLinkAndChangesNoText) {
  TestView view;
  view.append("see \xFFhttp://x/\x82\xA0\xFF now");
  std::string before = view.text();
  ViewChange change = view_double_click(view.state, 1 + 6 * 8, 0);
  ASSERT_TRUE(change.open_link);
  EXPECT_EQ(view.text().substr(change.link_start, change.link_length), "http://x/\x82\xA0");
  EXPECT_EQ(view.text(), before);
  EXPECT_TRUE(view_link_at(view.state, 1 + 13 * 8 + 10, 5));  // on the two-byte character
  EXPECT_FALSE(view_link_at(view.state, 1 + 2 * 8, 5));
  EXPECT_FALSE(view_link_at(view.state, 1 + 16 * 8, 5));
}

TEST(Mouse, DragSelectsAndScrollsAtTheEdges) {
  TestView view(200, 30);
  for (int i = 0; i < 10; ++i)
    view.append("line\r\n");
  view.state->first_visible_line = 2;
  ViewChange down = view_mouse(view.state, MouseEvent::LEFT_DOWN, 1 + 2 * 8, 5, false, true);
  EXPECT_EQ(down.capture, 1);
  EXPECT_TRUE(down.focus);
  EXPECT_EQ(view.state->caret, 14u);
  EXPECT_EQ(view.state->anchor, 14u);
  ViewChange below = view_mouse(view.state, MouseEvent::MOVE, 20, 45, false, true);
  EXPECT_EQ(view.state->first_visible_line, 4u);  // row 6 becomes the last visible row
  EXPECT_EQ(below.scroll_rows, -2);
  EXPECT_EQ(view.state->anchor, 14u);
  ViewChange above = view_mouse(view.state, MouseEvent::MOVE, 20, -1, false, true);
  EXPECT_EQ(view.state->first_visible_line, 3u);
  EXPECT_EQ(above.scroll_rows, 1);
  EXPECT_EQ(view_mouse(view.state, MouseEvent::LEFT_UP, 3, 5, false, false).capture, -1);
  EXPECT_EQ(view.state->caret, 18u);
  EXPECT_EQ(view.state->anchor, 14u);
  // Without a drag, moving and releasing change nothing.
  view_mouse(view.state, MouseEvent::MOVE, 3, 15, false, true);
  EXPECT_EQ(view_mouse(view.state, MouseEvent::LEFT_UP, 3, 15, false, false).capture, 0);
  EXPECT_EQ(view.state->caret, 18u);
  // Shift with a click extends.
  view_mouse(view.state, MouseEvent::LEFT_DOWN, 100, 15, true, true);
  EXPECT_EQ(view.state->anchor, 14u);
  EXPECT_EQ(view.state->caret, 28u);
}

TEST(Scrolling, CodesAreLimitedToTheRange) {
  TestView view(200, 30);
  for (int i = 0; i < 10; ++i)
    view.append("line\r\n");
  ASSERT_EQ(view.state->max_first_line, 8u);
  struct Step {
    ScrollCode code;
    std::int64_t track;
    std::uint32_t first;
  };
  const Step steps[] = {
      {ScrollCode::TOP, 0, 0},       {ScrollCode::LINE_UP, 0, 0},   {ScrollCode::LINE_DOWN, 0, 1},
      {ScrollCode::PAGE_DOWN, 0, 4}, {ScrollCode::PAGE_DOWN, 0, 7}, {ScrollCode::PAGE_DOWN, 0, 8},
      {ScrollCode::LINE_DOWN, 0, 8}, {ScrollCode::PAGE_UP, 0, 5},   {ScrollCode::THUMB, 99, 8},
      {ScrollCode::THUMB, -3, 0},    {ScrollCode::THUMB, 6, 6},     {ScrollCode::OTHER, 0, 6},
      {ScrollCode::BOTTOM, 0, 8},    {ScrollCode::PAGE_UP, 0, 5}};
  std::uint32_t first = view.state->first_visible_line;
  for (const Step& step : steps) {
    ViewChange change = view_scroll(view.state, step.code, step.track);
    EXPECT_EQ(view.state->first_visible_line, step.first);
    EXPECT_EQ(change.scroll_rows, std::int64_t{first} - step.first);
    first = step.first;
  }
  view_wheel(view.state, 120);
  EXPECT_EQ(view.state->first_visible_line, 2u);
  EXPECT_EQ(view_wheel(view.state, -120).scroll_rows, -3);
  EXPECT_EQ(view.state->first_visible_line, 5u);
}

TEST(Following, AppendedTextScrollsIntoSightOnlyAtTheBottom) {
  TestView view(200, 30);
  for (int i = 0; i < 3; ++i)
    view.append("line\r\n");
  EXPECT_EQ(view.state->first_visible_line, 1u);
  ViewChange change = view.append("more\r\nand more\r\n");
  EXPECT_EQ(view.state->first_visible_line, 3u);
  EXPECT_EQ(change.scroll_rows, -2);
  EXPECT_EQ(change.repaint_from_row, 0);  // rows 3 + old count 4 - new count 6 - 1
  EXPECT_TRUE(change.update_now);
  EXPECT_EQ(view.state->caret, view.state->length);
  view_scroll(view.state, ScrollCode::TOP);
  change = view.append("unseen\r\n");
  EXPECT_EQ(view.state->first_visible_line, 0u);
  EXPECT_EQ(change.scroll_rows, 0);
  EXPECT_FALSE(change.repaint_all);
  EXPECT_EQ(change.repaint_from_row, -1);
  // A caret inside the text, or a selection, stays where it is.
  view.select(2, 2);
  view.append("x");
  EXPECT_EQ(view.state->caret, 2u);
}

TEST(Following, WideningRewrapsAndKeepsTheBottomInSight) {
  TestView view(50, 30);
  for (int i = 0; i < 4; ++i)
    view.append("0123456789\r\n");
  EXPECT_EQ(view.state->line_count, 9u);
  EXPECT_EQ(view.state->first_visible_line, 6u);
  view_resize(view.state, 200, 30);
  EXPECT_EQ(view.state->line_count, 5u);
  EXPECT_EQ(view.state->first_visible_line, 2u);
  // Scrolled up, a resize keeps the first line unless it is past the new range.
  view_scroll(view.state, ScrollCode::TOP);
  view_resize(view.state, 50, 30);
  EXPECT_EQ(view.state->first_visible_line, 0u);
}
