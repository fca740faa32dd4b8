// lumo-cli's front end: what it shows, what "send" gets, and whole sessions of a script file.
#include "shell/cli/terminal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "engine/engine.h"

namespace fs = std::filesystem;

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
  // interrupt_after: Ctrl+C this many milliseconds after the start, and no end of input.
  std::string run(const std::string& text, const std::vector<std::string>& lines,
                  int interrupt_after = -1, bool plain = true) {
    std::ofstream(path_, std::ios::binary) << text;
    TerminalOptions options;
    options.plain = plain;
    Terminal terminal(options, out_);
    for (const std::string& line : lines)
      terminal.push_line(line);
    std::thread interrupter;
    if (interrupt_after >= 0) {
      interrupter = std::thread([&terminal, interrupt_after] {
        std::this_thread::sleep_for(std::chrono::milliseconds(interrupt_after));
        terminal.interrupt();
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
