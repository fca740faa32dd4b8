// Painting through a recording sink: styles and colours in their order, selection highlight,
// reverse, tabs, and the state carried into lines that start inside a hard line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/view_paint.h"
#include "view_fixture.h"

namespace {

constexpr PaintColors COLORS{0x000001, 0x000002, 0x000003, 0x000004};

struct DrawnRun {
  std::string text;
  int x;
  int top;
  int width;
  std::uint32_t foreground;
  std::uint32_t background;
  bool bold;
  bool italic;
  bool underline;
  bool operator==(const DrawnRun&) const = default;
};

class RecordingSink final : public PaintSink {
 public:
  std::vector<DrawnRun> runs;
  std::vector<DrawnRun> fills;

  void select_font(bool bold, bool italic, bool underline) override {
    bold_ = bold;
    italic_ = italic;
    underline_ = underline;
  }
  void set_colors(std::uint32_t foreground, std::uint32_t background) override {
    foreground_ = foreground;
    background_ = background;
  }
  void draw_run(int x, int top, int width, int text_y, const char* bytes,
                std::uint32_t count) override {
    EXPECT_EQ(text_y, top + 1);
    runs.push_back(DrawnRun{std::string(bytes, count), x, top, width, foreground_, background_,
                            bold_, italic_, underline_});
  }
  void fill(int x, int top, int width) override {
    fills.push_back(DrawnRun{"", x, top, width, foreground_, background_, false, false, false});
  }

 private:
  bool bold_ = false, italic_ = false, underline_ = false;
  std::uint32_t foreground_ = 0, background_ = 0;
};

std::vector<DrawnRun> paint(TestView& view, int top = 0, int bottom = 1000) {
  RecordingSink sink;
  paint_view(view.state, COLORS, top, bottom, &sink);
  return sink.runs;
}

}  // namespace

TEST(Paint, StylesAndColoursChangeAtTheirBytes) {
  TestView view;
  view.append(
      "a\x02"
      "b\x02\x1F\x14"
      "c\x03"
      "4,2d\x03"
      "e");
  std::vector<DrawnRun> runs = paint(view);
  const std::uint32_t red = VIEW_PALETTE[4], navy = VIEW_PALETTE[2];
  std::vector<DrawnRun> expected = {
      {"a", 1, 0, 8, 1, 2, false, false, false},
      {"b", 9, 0, 8, 1, 2, true, false, false},  // bold: measured ('b' is 4 + 3 + 1)
      {"c", 17, 0, 8, 1, 2, false, true, true},
      {"d", 25, 0, 8, red, navy, false, true, true},
      {"e", 33, 0, 8, 1, 2, false, true, true},
  };
  EXPECT_EQ(runs, expected);
}

TEST(Paint, SelectionAcrossABoldColouredRunShowsHighlightThenTheRunsColours) {
  TestView view;
  view.append(
      "ab\x02\x03"
      "4cde\x02"
      "fg");
  view.select(1, 4);
  std::vector<DrawnRun> runs = paint(view);
  const std::uint32_t red = VIEW_PALETTE[4];
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_EQ(runs[0], (DrawnRun{"a", 1, 0, 8, 1, 2, false, false, false}));
  EXPECT_EQ(runs[1], (DrawnRun{"b", 9, 0, 8, 3, 4, false, false, false}));
  EXPECT_EQ(runs[2].text, "c");  // bold is drawn a character at a time
  EXPECT_EQ(runs[2].foreground, 3u);
  EXPECT_EQ(runs[3].text, "d");
  EXPECT_EQ(runs[3].foreground, 3u);
  EXPECT_EQ(runs[4], (DrawnRun{"e", runs[4].x, 0, runs[4].width, red, 2, true, false, false}));
  EXPECT_EQ(runs[5].text, "fg");
  EXPECT_EQ(runs[5].foreground, red);
  EXPECT_FALSE(runs[5].bold);
}

TEST(Paint, ReverseSwapsTheDefaultsAndRestoresTheColoursBefore) {
  TestView view;
  view.append(
      "\x03"
      "4a\x16"
      "b\x03"
      "9c\x16"
      "d");
  std::vector<DrawnRun> runs = paint(view);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].foreground, VIEW_PALETTE[4]);
  EXPECT_EQ(runs[1].foreground, 2u);  // the default background
  EXPECT_EQ(runs[1].background, 1u);  // the default text colour
  EXPECT_EQ(runs[2].foreground, VIEW_PALETTE[9]);
  EXPECT_EQ(runs[3].foreground, VIEW_PALETTE[4]);
  EXPECT_EQ(runs[3].background, 2u);
}

TEST(Paint, TabsFillToTheStopAndLineBreaksResetEverything) {
  TestView view;
  view.append(
      "\x03"
      "4,3a\tb\x02\r\nc\rd");
  RecordingSink sink;
  paint_view(view.state, COLORS, 0, 1000, &sink);
  ASSERT_EQ(sink.fills.size(), 1u);
  EXPECT_EQ(sink.fills[0].x, 9);
  EXPECT_EQ(sink.fills[0].width, 7 * 8);
  EXPECT_EQ(sink.fills[0].background, VIEW_PALETTE[3]);
  ASSERT_EQ(sink.runs.size(), 4u);
  EXPECT_EQ(sink.runs[1].text, "b");
  EXPECT_EQ(sink.runs[1].x, 65);
  // The second line starts plain; its lone CR shows nothing and takes no room.
  EXPECT_EQ(sink.runs[2], (DrawnRun{"c", 1, 10, 8, 1, 2, false, false, false}));
  EXPECT_EQ(sink.runs[3], (DrawnRun{"d", 9, 10, 8, 1, 2, false, false, false}));
}

TEST(Paint, OnlyTheRowsAskedForAreDrawnWithTheStateOfTheirHardLine) {
  TestView view(50, 30);
  view.append(
      "\x03"
      "4\x02"
      "aaaaaaaaaaaa\r\nx\r\ny\r\nz");
  ASSERT_EQ(view.line(1), "aaaaaa");  // bold 'a' is 7 pixels
  view.state->first_visible_line = 1;
  // Row 0 only: visual line 1, which continues the bold red hard line.
  std::vector<DrawnRun> runs = paint(view, 0, 9);
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs.front().text, "a");
  EXPECT_EQ(runs.front().top, 0);
  EXPECT_TRUE(runs.front().bold);
  EXPECT_EQ(runs.front().foreground, VIEW_PALETTE[4]);
  EXPECT_EQ(runs.back().top, 0);
  // Rows 1 and 2 from the middle of an update rectangle.
  runs = paint(view, 12, 25);
  EXPECT_EQ(runs.front().text, "x");
  EXPECT_EQ(runs.front().top, 10);
  EXPECT_EQ(runs.back().text, "y");
  EXPECT_EQ(runs.back().top, 20);
}
