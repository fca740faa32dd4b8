#include "connection/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Collected {
  std::vector<std::string> lines;
  int fail_at = -1;  // index of the delivery that fails, -1 for none
};

bool collect(void* context, const char* line, std::size_t length) {
  auto* collected = static_cast<Collected*>(context);
  // The line is NUL-terminated at its length.
  EXPECT_EQ(line[length], '\0');
  collected->lines.emplace_back(line, length);
  return static_cast<int>(collected->lines.size()) - 1 != collected->fail_at;
}

class SplitterTest : public ::testing::Test {
 protected:
  ~SplitterTest() override { splitter_free(&splitter_); }

  void push(const std::string& chunk) {
    ASSERT_TRUE(splitter_push(&splitter_, chunk.data(), chunk.size(), collect, &out_));
  }
  std::string carry() const { return std::string(splitter_.buffer, splitter_.carry); }

  LineSplitter splitter_{};
  Collected out_;
};

using Lines = std::vector<std::string>;

TEST_F(SplitterTest, LineCompletedInALaterChunk) {
  push("abc");
  EXPECT_TRUE(out_.lines.empty());
  EXPECT_EQ(carry(), "abc");
  push("def\r\n");
  EXPECT_EQ(out_.lines, Lines{"abcdef"});
  EXPECT_EQ(carry(), "");
}

TEST_F(SplitterTest, EveryRunOfBreaksEndsOneLineAndEmptyLinesAreNotDelivered) {
  push("a\r\n\r\nb\n");
  EXPECT_EQ(out_.lines, (Lines{"a", "b"}));
  out_.lines.clear();
  push("\r\n\n\rc\rd\ne\n\rf");
  EXPECT_EQ(out_.lines, (Lines{"c", "d", "e"}));
  EXPECT_EQ(carry(), "f");
}

TEST_F(SplitterTest, BreakAtTheStartOfAChunkEndsTheCarriedLine) {
  push("abc\r");
  push("\ndef");
  push("\n");
  EXPECT_EQ(out_.lines, (Lines{"abc", "def"}));
}

TEST_F(SplitterTest, NulEndsWhatTheChunkContributes) {
  push(std::string("ab\ncd\0ef\ngh", 11));
  EXPECT_EQ(out_.lines, Lines{"ab"});
  EXPECT_EQ(carry(), "cd");
  push("\n");
  EXPECT_EQ(out_.lines, (Lines{"ab", "cd"}));
}

TEST_F(SplitterTest, ChunkStartingWithNulDeliversNothingAndKeepsTheCarry) {
  push(std::string("\0a\n", 3));
  EXPECT_TRUE(out_.lines.empty());
  EXPECT_EQ(carry(), "");
  push("xy");
  push(std::string("\0z\n", 3));
  EXPECT_TRUE(out_.lines.empty());
  EXPECT_EQ(carry(), "xy");
}

TEST_F(SplitterTest, LineLongerThanAReceiveChunkIsDeliveredWhole) {
  std::string long_line(3 * RECEIVE_CHUNK + 17, 'x');
  for (std::size_t i = 0; i < long_line.size(); ++i)
    long_line[i] = static_cast<char>('a' + i % 26);
  for (std::size_t at = 0; at < long_line.size(); at += RECEIVE_CHUNK)
    push(long_line.substr(at, RECEIVE_CHUNK));
  EXPECT_TRUE(out_.lines.empty());
  push("\r\nnext\r\n");
  ASSERT_EQ(out_.lines.size(), 2u);
  EXPECT_EQ(out_.lines[0], long_line);
  EXPECT_EQ(out_.lines[1], "next");
}

TEST_F(SplitterTest, FailingConsumerDropsTheRestOfTheChunkAndTheCarry) {
  out_.fail_at = 1;
  push("one\ntwo\nthree\nfour");
  EXPECT_EQ(out_.lines, (Lines{"one", "two"}));
  EXPECT_EQ(carry(), "");
  push("five\n");
  EXPECT_EQ(out_.lines, (Lines{"one", "two", "five"}));
}

TEST_F(SplitterTest, ResetDropsTheCarry) {
  push("half");
  splitter_reset(&splitter_);
  push("new\n");
  EXPECT_EQ(out_.lines, Lines{"new"});
}

TEST_F(SplitterTest, TwoByteCharactersPassUnchanged) {
  // Two-byte characters are content: a 0x5C trail byte and high bytes reach the line unchanged.
  push("\x83\x5C\x95\\\x0a\x82\xa0");
  push("\r");
  EXPECT_EQ(out_.lines, (Lines{"\x83\x5C\x95\\", "\x82\xa0"}));
}

// A peer that never sends a line break: the carry never reaches the limit; each time it would, the
// bytes it holds go out as one piece, and no byte is lost or delivered twice.
TEST_F(SplitterTest, CarryAtTheLimitIsDeliveredAsAPiece) {
  splitter_.limit = 10;
  push("0123456");
  EXPECT_TRUE(out_.lines.empty());
  push("789abcdefghijklmnopqrstu");
  EXPECT_EQ(out_.lines, (Lines{"0123456789", "abcdefghij", "klmnopqrst"}));
  EXPECT_EQ(carry(), "u");
  push("vw\nABCDEFGHIJ\nKLMNOPQRSTUVWXYZ\n");
  EXPECT_EQ(out_.lines, (Lines{"0123456789", "abcdefghij", "klmnopqrst", "uvw", "ABCDEFGHIJ",
                               "KLMNOPQRST", "UVWXYZ"}));
  EXPECT_EQ(carry(), "");
}

TEST_F(SplitterTest, DefaultLimitIsOneMebibyteAndMemoryStaysBounded) {
  std::string chunk(RECEIVE_CHUNK, 'q');
  std::size_t sent = 0;
  for (int i = 0; i < 100; ++i) {
    push(chunk);
    sent += chunk.size();
    EXPECT_LT(splitter_.carry, CARRY_LIMIT);
    EXPECT_LE(splitter_.capacity, CARRY_LIMIT + RECEIVE_CHUNK + 1);
  }
  std::size_t delivered = 0;
  for (const std::string& piece : out_.lines) {
    EXPECT_EQ(piece.size(), CARRY_LIMIT);
    delivered += piece.size();
  }
  EXPECT_EQ(delivered + splitter_.carry, sent);
  EXPECT_EQ(out_.lines.size(), sent / CARRY_LIMIT);
}

TEST_F(SplitterTest, EmptyChunkChangesNothing) {
  push("abc");
  push("");
  EXPECT_TRUE(out_.lines.empty());
  EXPECT_EQ(carry(), "abc");
}

}  // namespace
