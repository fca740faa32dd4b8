// The conversion and string built-ins, called from scripts.
#include <gtest/gtest.h>

#include "builtins/strings.h"
#include "support/script_runner.h"

namespace {

struct StringBuiltins : testing::Test {
  ScriptRunner runner{"x = 0;"};
  std::string eval(const char* expression) { return runner.eval(expression); }
};

}  // namespace

TEST_F(StringBuiltins, Conversions) {
  EXPECT_EQ(eval("istype(1)"), "0");
  EXPECT_EQ(eval("istype(\"1\")"), "1");
  EXPECT_EQ(eval("int(\"0x1f\")"), "31");
  EXPECT_EQ(eval("int(\"0X1F\")"), "31");
  EXPECT_EQ(eval("int(\"017\")"), "15");
  EXPECT_EQ(eval("int(\"09\")"), "9");
  EXPECT_EQ(eval("int(\"0\")"), "0");
  EXPECT_EQ(eval("int(\"12abc\")"), "12");
  EXPECT_EQ(eval("int(\"abc\")"), "0");
  EXPECT_EQ(eval("int(\"-12\")"), "-12");
  EXPECT_EQ(eval("int(\"-0x10\")"), "0");
  EXPECT_EQ(eval("int(\"0x\")"), "0");
  EXPECT_EQ(eval("int(7)"), "7");
  EXPECT_EQ(eval("uintstr(-2)"), "4294967294");
  EXPECT_EQ(eval("uintstr(-1)"), "4294967295");
  EXPECT_EQ(eval("asc(\"\\x82\\xa0\")"), "-126");
  EXPECT_EQ(eval("asc(\"\")"), "0");
  EXPECT_EQ(eval("asc(65)"), "54");  // the first character of "65"
  EXPECT_EQ(eval("chr(321)"), "A");
  EXPECT_EQ(eval("len(chr(256))"), "0");
}

TEST_F(StringBuiltins, LengthsAndPieces) {
  EXPECT_EQ(eval("len(\"\")"), "0");
  EXPECT_EQ(eval("len(-15)"), "3");
  EXPECT_EQ(eval("len(\"\\x82\\xa0\")"), "2");
  EXPECT_EQ(eval("left(\"abc\", 5)"), "abc");
  EXPECT_EQ(eval("left(\"abc\", -1)"), "0");
  EXPECT_EQ(eval("istype(left(\"abc\", -1))"), "0");
  EXPECT_EQ(eval("right(\"abc\", 2)"), "bc");
  EXPECT_EQ(eval("right(\"abc\", 9)"), "abc");
  EXPECT_EQ(eval("mid(\"abcdef\", 2)"), "cdef");
  EXPECT_EQ(eval("mid(\"abcdef\", 2, 3)"), "cde");
  EXPECT_EQ(eval("mid(\"abcdef\", 2, 30)"), "cdef");
  EXPECT_EQ(eval("mid(\"abc\", 3)"), "");
  EXPECT_EQ(eval("mid(\"abc\", -1, 2)"), "");  // a position before the text gives ""
  EXPECT_EQ(eval("string(3, \"xyz\")"), "xxx");
  EXPECT_EQ(eval("string(0, \"x\")"), "");
  EXPECT_EQ(eval("string(-4, \"x\")"), "");
  EXPECT_EQ(eval("string(3, \"\")"), "");
  EXPECT_EQ(eval("trim(\" \\tab c\\t \")"), "ab c");
  EXPECT_EQ(eval("trim(\" \\t \")"), "");
  EXPECT_EQ(eval("trim(\"\\r\\nx\")"), "\r\nx");
  EXPECT_EQ(eval("tolower(\"ABC\")"), "abc");
  EXPECT_EQ(eval("toupper(12)"), "12");
  // The second byte of a two-byte character is not a letter, whatever its value.
  EXPECT_EQ(eval("toupper(\"\\x83\\x61a\")"),
            "\x83\x61"
            "A");
  EXPECT_EQ(eval("tolower(\"\\x82\\x41A\")"),
            "\x82\x41"
            "a");
}

TEST_F(StringBuiltins, SearchAndCompare) {
  EXPECT_EQ(eval("instr(\"abcabc\", \"c\")"), "2");
  EXPECT_EQ(eval("instr(\"abcabc\", \"c\", 3)"), "5");
  EXPECT_EQ(eval("instr(\"abc\", \"B\", 0, 1)"), "1");
  EXPECT_EQ(eval("instr(\"abc\", \"B\")"), "-1");
  EXPECT_EQ(eval("instr(\"abc\", \"x\")"), "-1");
  EXPECT_EQ(eval("instr(\"\", \"\")"), "-1");
  EXPECT_EQ(eval("instr(\"abc\", \"\", 1)"), "1");
  EXPECT_EQ(eval("instr(\"abc\", \"a\", 3)"), "-1");
  EXPECT_EQ(eval("instr(\"abc\", \"a\", -1)"), "-1");
  EXPECT_EQ(eval("instr(\"abc\", \"bcd\")"), "-1");
  // Overlapping starts, and bytes inside two-byte characters (the search is byte for byte).
  EXPECT_EQ(eval("instr(\"aaab\", \"aab\")"), "1");
  EXPECT_EQ(eval("instr(\"\\x82\\xa0\\x82\\xa0\", \"\\xa0\\x82\")"), "1");
  EXPECT_EQ(eval("instr(\"\\x82\\xa0\\x82\\xa0\", \"\\xa0\\x82\", 2)"), "-1");
  EXPECT_EQ(eval("strcmp(\"abc\", \"abd\", 2)"), "0");
  EXPECT_EQ(eval("strcmp(\"abc\", \"abd\")"), "-1");
  EXPECT_EQ(eval("strcmp(\"abd\", \"abc\")"), "1");
  EXPECT_EQ(eval("strcmp(\"abc\", \"abc\")"), "0");
  EXPECT_EQ(eval("strcmp(\"a\", \"B\")"), "-1");  // letters before case
  EXPECT_EQ(eval("strcmp(\"a\", \"A\")"), "-1");  // lower case first
  EXPECT_EQ(eval("strcmp(\"9\", \"a\")"), "-1");
  EXPECT_EQ(eval("strcmp(\"\\x82\\xa0\", \"z\")"), "1");  // Japanese after Latin letters
  EXPECT_EQ(eval("strcmp(\"\\x80\", \"a\", 1)"), "-1");   // signed bytes with a count
  EXPECT_EQ(eval("strcmp(\"ab\", \"abc\", 5)"), "-1");
  EXPECT_EQ(eval("strcmp(\"x\", \"y\", 0)"), "0");
  EXPECT_EQ(eval("strmatch(\"File.TXT\", \"*.txt\")"), "1");
  EXPECT_EQ(eval("strmatch(\"abc\", \"a?\")"), "0");
  EXPECT_EQ(eval("strmatch(\"\", \"*\")"), "1");
  EXPECT_EQ(eval("strmatch(\"abc\", \"a*\")"), "1");
  EXPECT_EQ(eval("strmatch(\"abc\", \"b\")"), "0");
  EXPECT_EQ(eval("strmatch(\"abc\", \"*b*\")"), "1");
  EXPECT_EQ(eval("strmatch(\"abc\", \"a*c*\")"), "1");
  EXPECT_EQ(eval("strmatch(\"ab\", \"a*?*?\")"), "0");
  EXPECT_TRUE(runner.errors().empty());
}

TEST_F(StringBuiltins, TooFewArgumentsHaveNoEffect) {
  for (const char* call : {"len()", "left(\"a\")", "right(\"a\")", "mid(\"a\")", "instr(\"a\")",
                           "string(1)", "strcmp(\"a\")", "strmatch(\"a\")", "chr()", "int()"}) {
    runner.host().clear();
    EXPECT_EQ(eval(call), "<failed>") << call;
    auto errors = runner.errors();
    ASSERT_FALSE(errors.empty()) << call;
    EXPECT_NE(errors[0].find("Too few arguments"), std::string::npos) << errors[0];
  }
}

TEST(Wildcards, LongPatternsNeitherRecurseNorExplode) {
  std::string text(100000, 'a');
  std::string pattern;
  for (int i = 0; i < 50; ++i)
    pattern += "*a";
  EXPECT_TRUE(wildcard_match(text.c_str(), pattern.c_str()));
  EXPECT_FALSE(wildcard_match(text.c_str(), (pattern + "b").c_str()));
}
