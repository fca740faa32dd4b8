// lumo-cli's front end: what it shows, what "send" gets, and whole sessions of a script file.
#include "shell/cli/terminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "engine/engine.h"

namespace fs = std::filesystem;

namespace {

std::string strip_formatting(const char* text) {
  std::string copy = text;
  copy.resize(strip_formatting_in_place(copy.data()));
  return copy;
}

}  // namespace

TEST(StripFormatting, RemovesStyleAndColourCodes) {
  EXPECT_EQ(strip_formatting("\x02"
                             "b\x14i\x16r\x1Fu"),
            "biru");
  EXPECT_EQ(strip_formatting("\x03"
                             "04red \x03"
                             "4,12on \x03"
                             "123"),
            "red on 3");
  // A comma is taken only after digits, and with no digits after it, it still goes.
  EXPECT_EQ(strip_formatting("\x03"
                             "4,x \x03,5"),
            "x ,5");
}

TEST(StripFormatting, LinkMarksAndDoubleByteCharacters) {
  EXPECT_EQ(strip_formatting("a\xFFhttp://x\xFF b"), "ahttp://x b");
  // 0xFF 0x03 opens a plain link: the 0x03 belongs to the mark, the digits stay text.
  EXPECT_EQ(strip_formatting("\xFF\x03"
                             "12\xFF"),
            "12");
  EXPECT_EQ(strip_formatting("\xFF\xFF"), "\xFF");
  // The second byte of a double-byte character is never a code.
  EXPECT_EQ(strip_formatting("\x81\x02z"), "\x81\x02z");
}

TEST(TypedLine, CutToTheLimitWithoutHalfACharacter) {
  EXPECT_EQ(typed_line(std::string(300, 'x'), false), std::string(254, 'x'));
  std::string dangling = std::string(253, 'a') + "\x82\xA0";
  EXPECT_EQ(typed_line(dangling, false), std::string(253, 'a'));
  EXPECT_EQ(typed_line("\xE3\x81\x82", true), "\x82\xA0");  // UTF-8 "a" in hiragana
}

TEST(SplitScriptPath, FolderKeepsItsBackslashAndBareNamesUseTheCurrentFolder) {
  std::string directory;
  std::string name;
  split_script_path("scripts\\main.lum", &directory, &name);
  EXPECT_EQ(directory, "scripts\\");
  EXPECT_EQ(name, "main.lum");
  split_script_path("main.lum", &directory, &name);
  EXPECT_EQ(directory, ".\\");
  // 0x95 0x5C is one character (a trail byte 0x5C), not a separator.
  split_script_path("\x95\\x.lum", &directory, &name);
  EXPECT_EQ(directory, ".\\");
  EXPECT_EQ(name, "\x95\\x.lum");
}

namespace {

// Runs one session of a script text with the given typed lines; returns what it printed.
class Session {
 public:
  Session() {
    engine_start();
    path_ = fs::temp_directory_path() /
            ("lumo-session-" + std::to_string(std::random_device{}()) + ".lum");
    out_ = std::tmpfile();
  }
  ~Session() {
    std::fclose(out_);
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  // interrupt_after: Ctrl+C this many milliseconds after the start (`presses` times, that far
  // apart), and no end of input.
  std::string run(const std::string& text, const std::vector<std::string>& lines,
                  int interrupt_after = -1, bool plain = true, int presses = 1, bool utf8 = false) {
    std::ofstream(path_, std::ios::binary) << text;
    TerminalOptions options;
    options.plain = plain;
    options.utf8 = utf8;
    Terminal terminal(options, out_);
    for (const std::string& line : lines)
      terminal.push_line(line);
    std::thread interrupter;
    if (interrupt_after >= 0) {
      interrupter = std::thread([&terminal, interrupt_after, presses] {
        for (int press = 0; press < presses; ++press) {
          std::this_thread::sleep_for(std::chrono::milliseconds(interrupt_after));
          terminal.interrupt();
        }
      });
    } else {
      terminal.push_end();
    }
    std::string path = path_.string();
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    terminal.session(path.c_str());
    if (interrupter.joinable()) interrupter.join();
    std::string printed;
    std::rewind(out_);
    for (int c; (c = std::fgetc(out_)) != EOF;)
      printed.push_back(static_cast<char>(c));
    return printed;
  }

 private:
  fs::path path_;
  std::FILE* out_;
};

}  // namespace

TEST(TerminalSession, EventsRunInOrderAndTheOutputEndsWithOneLineBreak) {
  Session session;
  EXPECT_EQ(session.run("n = 0;\n"
                        "function start() { error(\"start\"); }\n"
                        "function send(l) { n++; error(n + \":\" + l); }\n"
                        "function end() { error(\"end \" + n); }\n",
                        {"a", "", "c"}),
            "start\n1:a\n2:\n3:c\nend 3\n");
}

TEST(TerminalSession, NothingEchoedPrintsNothing) {
  Session session;
  EXPECT_EQ(session.run("x = 1;", {}), "");
}

TEST(TerminalSession, WaitsForAsynchronousCallsThatDeliverBeforeClosing) {
  // Many threads deliver at once; each must be served on the host's thread before "end".
  Session session;
  std::string printed = session.run(
      "function w(i) { error(\"w\"); }\n"
      "function start() { for (i = 0; i < 40; i++) &w(i); }\n"
      "function end() { error(\"end\"); }\n",
      {});
  std::string expected;
  for (int i = 0; i < 40; ++i)
    expected += "w\n";
  EXPECT_EQ(printed, expected + "end\n");
}

TEST(TerminalSession, InterruptStopsAScriptThatNeverEnds) {
  Session session;
  EXPECT_EQ(session.run("function start() { error(\"looping\"); while (1) { } }\n"
                        "function end() { error(\"end\"); }\n",
                        {}, 50),
            "looping\nend\n");
}

TEST(TerminalSession, InterruptReachesCodeOnTheHostsOwnThread) {
  // The top level runs on the UI thread: a stop ends it, "start" is not fired, "end" still runs.
  Session session;
  EXPECT_EQ(session.run("lineecho(0, \"top\"); while (1) { }\n"
                        "function start() { lineecho(0, \"start\"); }\n"
                        "function end() { lineecho(0, \"end\"); }\n",
                        {}, 50),
            "top\nend\n");
}

TEST(TerminalSession, ASecondInterruptStopsAnEndThatNeverReturns) {
  // The first Ctrl+C stops "start"; "end" then loops until the second one, and the close goes on.
  Session session;
  EXPECT_EQ(session.run("function start() { lineecho(0, \"start\"); while (1) { } }\n"
                        "function end() { lineecho(0, \"end\"); while (1) { } }\n",
                        {}, 50, true, 2),
            "start\nend\n");
}

TEST(TypedInput, AVeryLongLineIsReadInPiecesAndCut) {
  // 20 MB without a line break, then a short line: only the first bytes of the long line are kept.
  std::FILE* in = std::tmpfile();
  std::string chunk(1 << 16, 'x');
  for (int i = 0; i < 320; ++i)
    std::fwrite(chunk.data(), 1, chunk.size(), in);
  std::fputs("\r\nshort\r\nlast", in);
  std::rewind(in);
  std::string raw;
  ASSERT_TRUE(read_typed_line(in, &raw));
  EXPECT_EQ(raw.size(), RAW_LINE_LIMIT);
  EXPECT_LE(raw.capacity(), 4 * RAW_LINE_LIMIT);
  EXPECT_EQ(typed_line(raw, false), std::string(INPUT_LINE_LIMIT, 'x'));
  ASSERT_TRUE(read_typed_line(in, &raw));
  EXPECT_EQ(raw, "short");
  ASSERT_TRUE(read_typed_line(in, &raw));
  EXPECT_EQ(raw, "last");
  EXPECT_FALSE(read_typed_line(in, &raw));
  std::fclose(in);
}

TEST(TypedInput, TheKeptBytesHoldALimitOfUtf8) {
  // 300 hiragana characters in UTF-8 (900 bytes) still give 127 whole CP932 characters.
  std::string line;
  for (int i = 0; i < 300; ++i)
    line += "\xE3\x81\x82";
  std::FILE* in = std::tmpfile();
  std::fputs((line + "\n").c_str(), in);
  std::rewind(in);
  std::string raw;
  ASSERT_TRUE(read_typed_line(in, &raw));
  std::string expected;
  for (int i = 0; i < 127; ++i)
    expected += "\x82\xA0";
  EXPECT_EQ(typed_line(raw, true), expected);
  std::fclose(in);
}

TEST(TerminalSession, PrefixesAndTextAreConvertedToUtf8) {
  // A channel named with the hiragana "a" (CP932 82 A0), and a red line with its code kept.
  Session session;
  EXPECT_EQ(session.run("h = channeladd(\"\x82\xA0\");\n"
                        "lineecho(h, \"\x82\xA0!\");\n"
                        "lineecho(0, chr(3) + \"04red\");\n",
                        {}, -1, false, 1, true),
            "[\xE3\x81\x82] \xE3\x81\x82!\n\x03"
            "04red\n");
}
