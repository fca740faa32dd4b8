// The append walk: formatting codes, colour specs, links, pending codes, growth, clear and the
// store limit.
#include <gtest/gtest.h>

#include <string>

#include "platform/memory.h"
#include "view/text_store.h"
#include "view/view_geometry.h"
#include "view_fixture.h"

TEST(TextStore, CodesAreRemovedAndToggleAtTheNextByte) {
  TestView view;
  view.append(
      "a\x02"
      "b\x14"
      "c\x16"
      "d\x1F"
      "e");
  EXPECT_EQ(view.text(), "abcde");
  EXPECT_EQ(view.attrs(0), 0);
  EXPECT_EQ(view.attrs(1), ATTR_BOLD);
  EXPECT_EQ(view.attrs(2), ATTR_ITALIC);
  EXPECT_EQ(view.attrs(3), ATTR_REVERSE);
  EXPECT_EQ(view.attrs(4), ATTR_UNDERLINE);
}

TEST(TextStore, TwoFlipsAtOneByteCancel) {
  TestView view;
  view.append("\x02\x02x");
  EXPECT_EQ(view.text(), "x");
  EXPECT_EQ(view.attrs(0), 0);
}

TEST(TextStore, CodesAtTheEndWaitForTheNextAppend) {
  TestView view;
  view.append("ab");
  view.append("\x02");
  EXPECT_EQ(view.state->length, 2u);
  EXPECT_EQ(view.attrs(2), ATTR_BOLD);
  view.append("cd");
  EXPECT_EQ(view.text(), "abcd");
  EXPECT_EQ(view.attrs(2), ATTR_BOLD);
  EXPECT_EQ(view.attrs(3), 0);
  // A colour code alone at the end resets at the end position.
  view.append("\x03");
  EXPECT_EQ(view.attrs(4), ATTR_RESET);
}

TEST(TextStore, ColourSpecs) {
  struct Case {
    const char* input;
    const char* stored;
    std::uint8_t attrs;
    std::uint8_t colors;
  };
  const Case cases[] = {
      {"\x03"
       "04x",
       "x", ATTR_FG, 0x04},
      {"\x03"
       "4,1x",
       "x", ATTR_FG | ATTR_BG, 0x14},
      {"\x03"
       "16x",
       "x", ATTR_FG, 0x00},  // 16 modulo 16
      {"\x03"
       "123",
       "3", ATTR_FG, 0x0C},  // two digits at most
      {"\x03"
       "4,x",
       "x", ATTR_FG, 0x04},  // the comma goes, no background
      {"\x03"
       "7,99x",
       "x", ATTR_FG | ATTR_BG, 0x37},
      {"\x03,5x", ",5x", ATTR_RESET, 0x00},  // no digit: a reset; the comma stays text
      {"\x03"
       "4\x03"
       "5,2x",
       "x", ATTR_FG | ATTR_BG, 0x25},  // codes at one byte accumulate
  };
  for (const Case& c : cases) {
    TestView view;
    view.append(c.input);
    EXPECT_EQ(view.text(), c.stored) << c.input;
    EXPECT_EQ(view.attrs(0), c.attrs) << c.input;
    EXPECT_EQ(view.colors(0), c.colors) << c.input;
  }
}

TEST(TextStore, StyledLinkIsMarkedUnderlinedAndBlueThenReturnsToTheColourInEffect) {
  TestView view;
  view.append("\xFFhttp://a\xFFz");
  EXPECT_EQ(view.text(), "http://az");
  for (int i = 0; i < 8; ++i)
    EXPECT_TRUE(view.attrs(i) & ATTR_LINK) << i;
  EXPECT_EQ(view.attrs(0), ATTR_LINK | ATTR_UNDERLINE | ATTR_FG);
  EXPECT_EQ(view.colors(0), LINK_COLOR);
  EXPECT_EQ(view.attrs(8), ATTR_UNDERLINE | ATTR_RESET);  // no colour in effect: the defaults

  TestView coloured;
  coloured.append(
      "\x03"
      "4,1a\xFF"
      "b\xFF"
      "c");
  EXPECT_EQ(coloured.attrs(1), ATTR_LINK | ATTR_UNDERLINE | ATTR_FG);
  EXPECT_EQ(coloured.colors(1), LINK_COLOR);
  EXPECT_EQ(coloured.attrs(2), ATTR_UNDERLINE | ATTR_FG);
  EXPECT_EQ(coloured.colors(2), 0x14);
}

TEST(TextStore, LinkStylingRespectsUnderlineReverseAndResets) {
  TestView underlined;
  underlined.append(
      "\x1F"
      "a\xFF"
      "b\xFF"
      "c");
  EXPECT_EQ(underlined.attrs(1), ATTR_LINK | ATTR_FG);  // already underlined: no flip
  EXPECT_EQ(underlined.attrs(2), ATTR_RESET);

  TestView reversed;
  reversed.append(
      "\x16"
      "a\xFF"
      "b\xFF"
      "c");
  EXPECT_EQ(reversed.attrs(1), ATTR_LINK | ATTR_UNDERLINE);  // reversed: no colour
  EXPECT_EQ(reversed.attrs(2), ATTR_UNDERLINE);

  TestView reset_inside;
  reset_inside.append(
      "\xFF"
      "a\x03"
      "b\xFF");
  EXPECT_EQ(reset_inside.attrs(1), ATTR_LINK | ATTR_RESET | ATTR_FG);  // the link keeps blue
  EXPECT_EQ(reset_inside.colors(1), LINK_COLOR);
}

TEST(TextStore, UnderlineCodeInsideAStyledLinkShowsAfterTheLink) {
  TestView view;
  view.append(
      "\xFF"
      "ab\x1F"
      "cd\xFF"
      "ef");
  EXPECT_EQ(view.text(), "abcdef");
  EXPECT_EQ(view.attrs(2), ATTR_LINK);  // the link stays underlined
  // The underline state is on at the closing mark, so the link's underline is not ended.
  EXPECT_EQ(view.attrs(4), ATTR_RESET);
  // A 0x1F at the very end inside a link stops at the NUL.
  TestView at_end;
  at_end.append(
      "\xFF"
      "a\x1F");
  EXPECT_EQ(at_end.text(), "a");
  EXPECT_EQ(at_end.attrs(1), 0);
}

TEST(TextStore, PlainLinksAndLiteralMarks) {
  TestView view;
  view.append(
      "\xFF\x03"
      "abc\xFF"
      "d");
  EXPECT_EQ(view.text(), "abcd");
  EXPECT_EQ(view.attrs(0), ATTR_LINK);
  EXPECT_EQ(view.attrs(2), ATTR_LINK);
  EXPECT_EQ(view.attrs(3), 0);

  TestView literal;
  literal.append(
      "a\xFF\xFF"
      "b");
  EXPECT_EQ(literal.text(),
            "a\xFF"
            "b");
  EXPECT_EQ(literal.attrs(1), 0);
  EXPECT_EQ(literal.attrs(2), 0);
}

TEST(TextStore, TwoByteCharactersAreStoredWhole) {
  TestView view;
  // 0x95 0x5C and 0x83 0x7C: trail bytes that are backslash and bar; 0x81 0x1F is no code.
  view.append("\xFF\x95\x5C\x83\x7C\xFF\x81\x1F");
  EXPECT_EQ(view.text(), "\x95\x5C\x83\x7C\x81\x1F");
  EXPECT_EQ(view.attrs(0), ATTR_LINK | ATTR_UNDERLINE | ATTR_FG);
  EXPECT_EQ(view.attrs(1), 0);  // LINK only on the first byte
  EXPECT_EQ(view.attrs(2), ATTR_LINK);
  EXPECT_EQ(view.attrs(4), ATTR_UNDERLINE | ATTR_RESET);
  // A lead byte before the NUL is stored alone.
  TestView lone;
  lone.append("a\x82");
  EXPECT_EQ(lone.text(), "a\x82");
}

TEST(TextStore, LineBreaksEndTheAppendStateButNotTheLink) {
  TestView view;
  view.append(
      "\x03"
      "4\x1F"
      "a\r\nb\x1F"
      "c");
  // After the break the underline state is off again: the code flips it on.
  EXPECT_EQ(view.attrs(4), ATTR_UNDERLINE);
  TestView link;
  link.append(
      "\xFF"
      "a\r\nb\xFF"
      "c");
  EXPECT_TRUE(link.attrs(1) & ATTR_LINK);
  EXPECT_TRUE(link.attrs(2) & ATTR_LINK);
  // The next line starts plain, so the link's look is given again at its first byte there, and
  // the closing mark ends it.
  EXPECT_EQ(link.attrs(3), ATTR_LINK | ATTR_UNDERLINE | ATTR_FG);
  EXPECT_EQ(link.attrs(4), ATTR_UNDERLINE | ATTR_RESET);
  // Closed right after a break: nothing to end.
  TestView closed;
  closed.append(
      "\xFF"
      "a\n\xFF"
      "b");
  EXPECT_EQ(closed.attrs(2), 0);
}

TEST(TextStore, GrowsByTheNeededSizeAndAStepAndKeepsPendingBits) {
  TestView view;
  EXPECT_EQ(view.state->capacity, 4096u);
  view.append(std::string(5000, 'x'));
  EXPECT_EQ(view.state->capacity, 9096u);
  view.append("\x02");
  view.append(std::string(5000, 'y'));
  EXPECT_EQ(view.state->length, 10000u);
  EXPECT_EQ(view.attrs(5000), ATTR_BOLD);
  for (std::uint32_t i = 5001; i < view.state->capacity; ++i)
    ASSERT_EQ(view.attrs(i), 0) << i;
}

TEST(TextStore, NullAppendDoesNothingAndClearStartsOver) {
  TestView view;
  EXPECT_TRUE(view_append(view.state, nullptr).ok);
  view.append(std::string(6000, 'x') + "\x02");
  view.select(10, 20);
  ViewChange change = view_set_text(view.state, "new");
  EXPECT_TRUE(change.ok);
  EXPECT_EQ(view.text(), "new");
  EXPECT_EQ(view.state->capacity, 4096u);
  EXPECT_EQ(view.attrs(0), 0);  // the pending bold went with the old text
  EXPECT_EQ(view.state->caret, 3u);
  EXPECT_EQ(view.state->anchor, 3u);
  EXPECT_EQ(view.state->line_count, 1u);
}

TEST(TextStore, ClearThatCannotAllocateKeepsTheText) {
  TestView view;
  view.append("kept\r\nlines");
  set_allocation_limit(STORE_INITIAL_CAPACITY - 1);
  ViewChange change = view_set_text(view.state, "new");
  set_allocation_limit(0);
  EXPECT_FALSE(change.ok);
  EXPECT_EQ(view.text(), "kept\r\nlines");
  EXPECT_EQ(view.state->line_count, 2u);
  // Still whole: it takes more text afterwards.
  view.append("!");
  EXPECT_EQ(view.text(), "kept\r\nlines!");
}

// Fills a view with numbered hard lines of 80 bytes until the store was trimmed once.
TEST(StoreLimit, DropsWholeOldLinesAndMovesTheSelectionWithTheText) {
  TestView view(800, 100);
  std::string line(78, 'x');
  // A selection inside the text that will be dropped, and one in the text that stays.
  while (view.state->length + 80 < STORE_LIMIT / 2) {
    view.append(line + "\r\n");
  }
  view.select(100, 200);
  view.state->first_visible_line = 3;  // scrolled up: not following
  for (;;) {
    std::uint32_t before = view.state->length;
    view.append(line + "\r\n");
    if (view.state->length < before) break;
  }
  EXPECT_LE(view.state->length, STORE_LIMIT);
  EXPECT_GE(view.state->length, STORE_LIMIT - STORE_TRIM_SLACK - 100);
  // Whole lines went: the text still starts at a line start, with every line of 80 bytes.
  EXPECT_EQ(view.state->length % 80, 0u);
  EXPECT_EQ(view.line(0), line);
  EXPECT_EQ(view.state->caret, 0u);
  EXPECT_EQ(view.state->anchor, 0u);
  EXPECT_EQ(view.state->first_visible_line, 0u);
  EXPECT_LE(view.state->capacity, STORE_LIMIT + STORE_GROWTH);
  EXPECT_EQ(view.state->line_count, view.state->length / 80 + 1);
  for (std::uint32_t i = view.state->length + 1; i < view.state->capacity; ++i)
    ASSERT_EQ(view.attrs(i), 0) << i;
}

TEST(StoreLimit, AKeptSelectionAndTheLineIndexMoveWithTheText) {
  TestView view(800, 100);
  std::string line(78, 'y');
  while (view.state->length + 81 <= STORE_LIMIT)
    view.append(line + "\r\n");
  std::uint32_t length = view.state->length;
  std::uint32_t lines = view.state->line_count;
  // Select the last line's text; the view follows the end.
  view.select(length - 80, length - 2);
  std::string last = "last" + std::string(80, 'z');
  view.append(
      "\x03"
      "4" +
      last);
  std::uint32_t dropped = length - (view.state->length - 84);
  EXPECT_GT(dropped, STORE_TRIM_SLACK - 100);
  EXPECT_EQ(dropped % 80, 0u);
  EXPECT_EQ(view.state->anchor, length - 80 - dropped);
  EXPECT_EQ(view.state->caret, length - 2 - dropped);
  EXPECT_EQ(view.state->line_count, lines - dropped / 80);
  EXPECT_EQ(view.line(view.state->line_count - 1), last);
  EXPECT_EQ(view.attrs(view.state->length - 84), ATTR_FG);
  EXPECT_EQ(view.state->first_visible_line, view.state->max_first_line);
  for (std::uint32_t k = 0; k + 1 < view.state->line_count; ++k)
    ASSERT_EQ(view.state->line_starts[k], k * 80) << k;
}

TEST(StoreLimit, OneHugeLineIsCutAtACharacterBoundary) {
  TestView view(800, 100);
  // Two-byte characters only, no line break at all.
  std::string chunk;
  for (int i = 0; i < 4096; ++i)
    chunk += "\x82\xA0";
  while (view.state->length < STORE_LIMIT - 2 * chunk.size())
    view.append(chunk);
  view.append(chunk);
  view.append(chunk);
  EXPECT_LE(view.state->length, STORE_LIMIT);
  EXPECT_EQ(view.state->length % 2, 0u);
  EXPECT_EQ(static_cast<unsigned char>(view.state->text[0]), 0x82);
  for (std::uint32_t k = 0; k < view.state->line_count; ++k)
    ASSERT_EQ(view.state->line_starts[k] % 2, 0u);
}
