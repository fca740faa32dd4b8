// Token kinds as the scanner produces them, and the byte-string helpers it shares.
#include <gtest/gtest.h>

#include <cstring>

#include "frontend/lexer.h"
#include "frontend/text_helpers.h"
#include "parse_fixture.h"

TEST(Lexer, SignsReadByWhatTheGrammarExpects) {
  EXPECT_EQ(tokens("a = -b"), "Name Assign Negate Name");
  EXPECT_EQ(tokens("a - b"), "Name Subtract Name");
  EXPECT_EQ(tokens("a-b"), "Name Subtract Name");
  EXPECT_EQ(tokens("+a + !b"), "Plus Name Add Not Name");
  EXPECT_EQ(tokens("x++ - --y"), "Name PostIncrement Subtract PreDecrement Name");
  EXPECT_EQ(tokens("++x"), "PreIncrement Name");
  // After a postfix operator an operator is expected, so a second operand is refused.
  EXPECT_EQ(tokens("x++ y"), "Name PostIncrement !error@4");
  EXPECT_EQ(tokens("~a != b"), "Complement Name NotEqual Name");
}

TEST(Lexer, EveryBinaryOperatorAfterAnOperand) {
  EXPECT_EQ(tokens("a && b || c < d <= e > f >= g == h =~ i != j"),
            "Name LogicalAnd Name LogicalOr Name Less Name LessEqual Name Greater Name "
            "GreaterEqual Name Equal Name Match Name NotEqual Name");
  EXPECT_EQ(tokens("a & b | c ^ d << e >> f * g / h % i = j"),
            "Name BitAnd Name BitOr Name BitXor Name ShiftLeft Name ShiftRight Name Multiply Name "
            "Divide Name Modulo Name Assign Name");
}

TEST(Lexer, OperatorsAndOperandsOutOfPlaceAreRefused) {
  EXPECT_EQ(tokens("x y"), "Name !error@2");
  EXPECT_EQ(tokens("1 2"), "Number !error@2");
  EXPECT_EQ(tokens("a \"s\""), "Name !error@2");
  EXPECT_EQ(tokens("a ! b"), "Name !error@2");
  EXPECT_EQ(tokens("a ~"), "Name !error@2");
  EXPECT_EQ(tokens("(a) (b)"), "LParen Name RParen !error@4");
  EXPECT_EQ(tokens("a {b}"), "Name !error@2");
  EXPECT_EQ(tokens("x if"), "Name !error@2");
  for (const char* text : {"= a", "* a", "% a", "< a", "> a", "^ a", "| a", "[a]", "/ a"}) {
    EXPECT_EQ(tokens(text), "!error@0") << text;
  }
  // Bytes that can begin no token.
  EXPECT_EQ(tokens("@"), "!error@0");
  EXPECT_EQ(tokens("a = $"), "Name Assign !error@4");
}

TEST(Lexer, NamesCallsAndKeywords) {
  EXPECT_EQ(tokens("f (1)"), "Call LParen Number RParen");
  EXPECT_EQ(tokens("f\r\n\t(1)"), "Call LParen Number RParen");
  EXPECT_EQ(tokens("If(x)"), "If LParen Name RParen");
  EXPECT_EQ(tokens("WHILE resume Return exit var else for do break continue switch case default"),
            "While Return Return Exit Var Else For Do Break Continue Switch Case Default");
  EXPECT_EQ(tokens("function argmatch"), "Function Argmatch");
  // Prefixes and extensions of keywords are names.
  EXPECT_EQ(tokens("iff"), "Name");
  EXPECT_EQ(tokens("fo"), "Name");
  EXPECT_EQ(tokens("a.b?_9 .x"), "Name !error@7");
  EXPECT_EQ(tokens("&name"), "Name");
  EXPECT_EQ(tokens("& ;"), "Name Semicolon");
  // A comment between a name and "(" keeps it a plain name.
  EXPECT_EQ(tokens("f /**/ (1)"), "Name !error@7");
}

TEST(Lexer, DoubleByteCharactersInNames) {
  EXPECT_EQ(tokens("\x83\x65\x83\x58\x83\x67 = 1"), "Name Assign Number");
  // A trail byte in the ASCII range is part of the character, not a bracket or quote.
  EXPECT_EQ(tokens("a\x81[ = 1"), "Name Assign Number");
  // Single-byte katakana ends a name and cannot begin one.
  EXPECT_EQ(tokens("ab\xB1"), "Name !error@2");
  EXPECT_EQ(tokens("\xB1"), "!error@0");
  // A lead byte at the very end takes nothing past the terminator.
  EXPECT_EQ(tokens("a\x81"), "Name");
}

TEST(Lexer, NumbersAreOneToken) {
  for (const char* text : {"0x1F", "0X1f", "017", "1.5", ".5", "1.2.3", "0x", "08"}) {
    EXPECT_EQ(tokens(text), "Number") << text;
  }
  EXPECT_EQ(tokens("0x1g"), "Number !error@3");
  EXPECT_EQ(tokens(".a"), "Name");
}

TEST(Lexer, Comments) {
  EXPECT_EQ(tokens("/*/ x"), "Name");
  EXPECT_EQ(tokens("// c"), "");
  EXPECT_EQ(tokens("a // c\n- b"), "Name Subtract Name");
  // A comment leaves the expectation as it was.
  EXPECT_EQ(tokens("a /* x */ - b"), "Name Subtract Name");
  EXPECT_EQ(tokens("a = /* x */ - b"), "Name Assign Negate Name");
  EXPECT_EQ(tokens("a /* unclosed"), "Name");
  EXPECT_EQ(tokens("/* a */ /* b */ c"), "Name");
  EXPECT_EQ(tokens("a / b"), "Name Divide Name");
}

TEST(Lexer, BracketCheck) {
  EXPECT_EQ(tokens("(a"), "!error@0");
  // Brackets inside strings and line comments are not counted.
  EXPECT_EQ(tokens("(\")\""), "!error@0");
  EXPECT_EQ(tokens("(a // )\n"), "!error@0");
  EXPECT_EQ(tokens("(a // )\n)"), "LParen Name RParen");
  // Only the same bracket type is counted; block comments are not special.
  EXPECT_EQ(tokens("(a])"), "LParen Name RBracket RParen");
  EXPECT_EQ(tokens("( /* ) */"), "LParen");
  EXPECT_EQ(tokens("x[\x81]"), "Name !error@1");
  EXPECT_EQ(tokens("{ }"), "Block RBrace");
  EXPECT_EQ(tokens("{ \"}\" "), "!error@0");
}

TEST(Lexer, Strings) {
  EXPECT_EQ(tokens("\"ab\\\"c\""), "String");
  EXPECT_EQ(tokens("\"abc"), "!error@0");
  EXPECT_EQ(tokens("x = \"abc\\"), "Name Assign !error@4");
  // A lead byte takes the closing quote with it.
  EXPECT_EQ(tokens("\"\x81\""), "!error@0");
  EXPECT_EQ(tokens("\"\x81\"\""), "String");
  EXPECT_EQ(tokens("\"\x81"), "!error@0");
}

TEST(Lexer, DirectiveAndPunctuation) {
  EXPECT_EQ(tokens("#"), "Directive");
  EXPECT_EQ(tokens("a #"), "Name Directive");
  EXPECT_EQ(tokens("a; b, c: d"), "Name Semicolon Name Comma Name Colon Name");
  EXPECT_EQ(tokens("a[1] (b)"), "Name LBracket Number RBracket !error@5");
}

TEST(Lexer, TokenBoundsAndExpectation) {
  ScriptFixture fixture;
  Script* module = fixture.add_module("main", "  x++ ");
  ParserState state;
  init_parser_state(&state, nullptr, module->text, 0);
  ASSERT_EQ(next_token(&state), 1);
  EXPECT_EQ(state.start - module->text, 2);
  EXPECT_EQ(state.cur - module->text, 3);
  ASSERT_EQ(next_token(&state), 1);
  EXPECT_EQ(state.kind, NodeKind::PostIncrement);
  EXPECT_EQ(state.cur - module->text, 5);
  EXPECT_EQ(state.expect_operand, 0);
  ASSERT_EQ(next_token(&state), 1);
  EXPECT_EQ(state.kind, NodeKind::End);
  EXPECT_EQ(state.start - module->text, 6);
  // End is sticky: the scan never moves past the terminator.
  ASSERT_EQ(next_token(&state), 1);
  EXPECT_EQ(state.kind, NodeKind::End);
  EXPECT_EQ(state.cur - module->text, 6);
}

TEST(TextHelpers, CaseInsensitiveComparison) {
  EXPECT_EQ(compare_ignoring_case("MaIn", "main"), 0);
  EXPECT_LT(compare_ignoring_case("a", "b"), 0);
  EXPECT_LT(compare_ignoring_case("ab", "abc"), 0);
  // Only A-Z fold: "Z" becomes "z" (0x7A), which sorts after "[" (0x5B).
  EXPECT_EQ(compare_ignoring_case("Z", "["), 'z' - '[');
  EXPECT_NE(compare_ignoring_case("\xC0", "\xE0"), 0);
  EXPECT_EQ(compare_ignoring_case_n("importer", "IMPORT", 6), 0);
  EXPECT_NE(compare_ignoring_case_n("imp", "import", 6), 0);
  EXPECT_EQ(compare_ignoring_case_n("abc", "xyz", 0), 0);
}

TEST(TextHelpers, LowerCaseAndBoundedCopy) {
  char text[] = "AbC\x83\x41Z";
  lower_case_in_place(text);
  // The second byte of a double-byte character folds too, where names are defined and used alike.
  EXPECT_STREQ(text, "abc\x83\x61z");

  char buffer[4] = {'x', 'x', 'x', 'x'};
  copy_bounded(buffer, "abcdef", sizeof buffer);
  EXPECT_STREQ(buffer, "abc");
  copy_bounded(buffer, "", sizeof buffer);
  EXPECT_STREQ(buffer, "");
}

TEST(TextHelpers, StringEndAndBracketMatch) {
  const char* quoted = "\"a\\\"b\" c";
  EXPECT_EQ(find_string_end(quoted), quoted + 5);
  EXPECT_EQ(find_string_end("\"a\\"), nullptr);
  const char* nested = "((a)\"(\")";
  EXPECT_EQ(find_closing_bracket(nested), nested + 7);
  const char* braces = "{\x81}}";
  EXPECT_EQ(find_closing_bracket(braces), braces + 3);
  EXPECT_EQ(find_closing_bracket("[a\x81"), nullptr);
}
