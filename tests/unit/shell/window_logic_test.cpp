// The main window's portable decisions: link filtering, sent-line recall, layout, the send text and
// focus cycling.
#include <gtest/gtest.h>

#include <string>

#include "shell/input_history.h"
#include "shell/link_filter.h"
#include "shell/main_layout.h"

TEST(LinkFilter, OpensOnlyWebFtpAndMailLinksInAnyCase) {
  for (const char* link : {"http://example.com/", "https://a.b/c?d=e", "ftp://files.example/x",
                           "mailto:someone@example.com", "HTTP://SHOUT.EXAMPLE", "hTtPs://mixed",
                           "FTP://x", "MailTo:x@y"}) {
    EXPECT_TRUE(link_may_open(link)) << link;
  }
}

TEST(LinkFilter, RefusesPathsProgramsAndLookAlikes) {
  for (const char* link :
       {"", "C:\\Windows\\System32\\calc.exe", "calc.exe", "file:///C:/x.exe", "\\\\host\\share\\a",
        "cmd /c del x", " http://leading.space", "http:/one-slash", "http:", "https:/", "mailto",
        "javascript:alert(1)", "httpx://a", "ftps://a", "news:comp.lang", "www.example.com",
        "\x82\xa0http://after-japanese"}) {
    EXPECT_FALSE(link_may_open(link)) << link;
  }
  EXPECT_FALSE(link_may_open(nullptr));
}

TEST(InputHistory, UpWalksBackAndStopsAtTheOldest) {
  InputHistory history;
  std::string line = "untouched";
  EXPECT_FALSE(history_older(&history, &line));  // nothing sent yet
  EXPECT_FALSE(history_newer(&history, &line));
  EXPECT_EQ(line, "untouched");

  history_add(&history, "first");
  history_add(&history, "");  // empty lines are sent too
  history_add(&history, "third");
  ASSERT_TRUE(history_older(&history, &line));
  EXPECT_EQ(line, "third");
  ASSERT_TRUE(history_older(&history, &line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(history_older(&history, &line));
  EXPECT_EQ(line, "first");
  line = "kept";
  EXPECT_FALSE(history_older(&history, &line));
  EXPECT_EQ(line, "kept");
}

TEST(InputHistory, DownPastTheNewestGivesAnEmptyLineOnce) {
  InputHistory history;
  history_add(&history, "a");
  history_add(&history, "b");
  std::string line;
  history_older(&history, &line);
  history_older(&history, &line);
  ASSERT_TRUE(history_newer(&history, &line));
  EXPECT_EQ(line, "b");
  ASSERT_TRUE(history_newer(&history, &line));
  EXPECT_EQ(line, "");
  line = "typed";
  EXPECT_FALSE(history_newer(&history, &line));  // already below the newest: nothing changes
  EXPECT_EQ(line, "typed");
}

TEST(InputHistory, SendingRestartsBelowTheNewestAndKeepsTheLastHundred) {
  InputHistory history;
  for (int i = 0; i < 130; ++i)
    history_add(&history, std::to_string(i));
  std::string line;
  history_older(&history, &line);
  history_older(&history, &line);
  EXPECT_EQ(line, "128");
  history_add(&history, "new");  // browsing starts again from the newest
  ASSERT_TRUE(history_older(&history, &line));
  EXPECT_EQ(line, "new");

  int steps = 1;
  while (history_older(&history, &line))
    ++steps;
  EXPECT_EQ(steps, 100);
  EXPECT_EQ(line, "31");  // 0..30 fell out as "new" and 129 lines came after them
}

TEST(MainLayout, ChildrenFollowTheClientArea) {
  MainLayout first = initial_layout(312, 194);
  EXPECT_EQ(first.selector.width, 312);
  EXPECT_EQ(first.selector.height, 194);
  EXPECT_EQ(first.view.y, 0);
  EXPECT_EQ(first.view.height, 194 - 22);
  EXPECT_EQ(first.input.y, 174);
  EXPECT_EQ(first.input.width, 262);
  EXPECT_EQ(first.send.x, 262);
  EXPECT_EQ(first.send.width, 50);

  MainLayout later = main_layout(640, 480, 21);
  EXPECT_EQ(later.view.y, 23);
  EXPECT_EQ(later.view.width, 640);
  EXPECT_EQ(later.view.height, 480 - 21 - 24);
  // The view ends two pixels above the bottom row.
  EXPECT_EQ(later.view.y + later.view.height, later.input.y - 2);
  EXPECT_EQ(later.input.height, 20);
  EXPECT_EQ(later.send.y, 460);
  EXPECT_EQ(later.send.x + later.send.width, 640);
}

TEST(SendLine, CutsAt254BytesWithoutHalfACharacter) {
  EXPECT_EQ(send_line_text(""), "");
  EXPECT_EQ(send_line_text(std::string(300, 'a')), std::string(254, 'a'));
  // 253 single bytes then a two-byte character: the character would end at byte 255, so it goes.
  std::string text = std::string(253, 'a') + "\x82\xa0" + "b";
  EXPECT_EQ(send_line_text(text), std::string(253, 'a'));
  // 252 single bytes then a two-byte character: it fits exactly.
  text = std::string(252, 'a') + "\x82\xa0" + "b";
  EXPECT_EQ(send_line_text(text), std::string(252, 'a') + "\x82\xa0");
  // All two-byte characters: 127 of them make 254 bytes.
  std::string japanese;
  for (int i = 0; i < 200; ++i)
    japanese += "\x83\x65";
  EXPECT_EQ(send_line_text(japanese).size(), 254u);
  // A trail byte that looks like a lead byte is still the second half.
  EXPECT_EQ(send_line_text(std::string(253, 'a') + "\x81\x81"), std::string(253, 'a'));
}

TEST(FocusCycle, NextVisibleChildOrBackToTheSelector) {
  // selector, server view, input, send, channel view 1 (hidden), channel view 2 (visible)
  bool visible[] = {true, false, true, true, false, true};
  EXPECT_EQ(next_focus_index(visible, 6, 2), 3u);   // input -> send
  EXPECT_EQ(next_focus_index(visible, 6, 3), 5u);   // send skips the hidden view
  EXPECT_EQ(next_focus_index(visible, 6, 5), 0u);   // wraps to the selector
  EXPECT_EQ(next_focus_index(visible, 6, 0), 2u);   // selector skips the hidden server view
  EXPECT_EQ(next_focus_index(visible, 6, -1), 0u);  // nothing focused: the first visible child
  bool only_hidden_after[] = {true, true, true, true, false};
  EXPECT_EQ(next_focus_index(only_hidden_after, 5, 3), 0u);
}
