// Postfix node lists of expressions, as statements of a script and through parse_expression_text.
#include <gtest/gtest.h>

#include "engine/context_parse.h"
#include "frontend/expression_parser.h"
#include "frontend/lexer.h"
#include "parse_fixture.h"

namespace {

// The node list of a one-statement script, or "!" and the error lines when it failed.
std::string parsed(const char* text) {
  ParseRun run(text);
  if (run.list() == nullptr && !run.errors().empty()) return "!" + run.errors()[0];
  return run.rendered();
}

}  // namespace

TEST(ExpressionParser, PrecedenceAndAssociativity) {
  EXPECT_EQ(parsed("a = b = 3"), "[a] [b] 3 Assign Assign");
  EXPECT_EQ(parsed("1 + 2 * 3"), "1 2 3 Multiply Add");
  EXPECT_EQ(parsed("1 - 2 - 3"), "1 2 Subtract 3 Subtract");
  EXPECT_EQ(parsed("a == b & c"), "[a] [b] Equal [c] BitAnd");
  EXPECT_EQ(parsed("!a == b"), "[a] Not [b] Equal");
  EXPECT_EQ(parsed("-a[1]"), "[a] 1 Index Negate");
  EXPECT_EQ(parsed("a || b && c | d ^ e & f"),
            "[a] [b] [c] [d] [e] [f] BitAnd BitXor BitOr LogicalAnd LogicalOr");
  EXPECT_EQ(parsed("a < b << c + d % e"), "[a] [b] [c] [d] [e] Modulo Add ShiftLeft Less");
  EXPECT_EQ(parsed("x =~ \"a\" != y >= 2"), "[x] \"a\" Match [y] 2 GreaterEqual NotEqual");
  EXPECT_EQ(parsed("(1 + 2) * 3"), "1 2 Add 3 Multiply");
  EXPECT_EQ(parsed("- ~ !a"), "[a] Not Complement Negate");
}

TEST(ExpressionParser, PostfixOperatorsAndApplyPostfix) {
  EXPECT_EQ(parsed("f(i++, j)"), "CallStart [i] PostIncrement ApplyPostfix Comma [j] call:f");
  EXPECT_EQ(parsed("-x++"), "[x] PostIncrement Negate ApplyPostfix");
  EXPECT_EQ(parsed("++x"), "[x] PreIncrement");
  // Inside an index or parentheses the update waits for the end of the enclosing full expression.
  EXPECT_EQ(parsed("a[i--] = (j++)"),
            "[a] [i] PostDecrement Index [j] PostIncrement Assign ApplyPostfix");
  EXPECT_EQ(parsed("x++, y"), "[x] PostIncrement ApplyPostfix Comma [y]");
  // An update written before a call still ends its own expression: the call's arguments do not
  // take it over (it was lost when they did).
  EXPECT_EQ(parsed("b++ + f(1)"), "[b] PostIncrement CallStart 1 call:f Add ApplyPostfix");
  EXPECT_EQ(parsed("b++ + f(c++)"),
            "[b] PostIncrement CallStart [c] PostIncrement ApplyPostfix call:f Add ApplyPostfix");
}

TEST(ExpressionParser, CallsListsAndIndexes) {
  EXPECT_EQ(parsed("f()"), "CallStart call:f");
  EXPECT_EQ(parsed("f(a,)"), "CallStart [a] Comma call:f");
  EXPECT_EQ(parsed("Foo.Bar(g(1), 2)"), "CallStart CallStart 1 call:g Comma 2 call:foo.bar");
  EXPECT_EQ(parsed("x = {1, 2}"), "[x] Block{1 Comma 2} Assign");
  EXPECT_EQ(parsed("x = {}"), "[x] Block{} Assign");
  EXPECT_EQ(parsed("x[]"), "[x] \"\" Index");
  EXPECT_EQ(parsed("x[i][j + 1]"), "[x] [i] Index [j] 1 Add Index");
  EXPECT_EQ(parsed("X = &Y"), "[x] [&y] Assign");
  // Missing operands are left for the evaluator to report.
  EXPECT_EQ(parsed("a = ;"), "[a] Assign Semicolon");
}

TEST(ExpressionParser, EmptyIndexStringHasTextButNoPattern) {
  ParseRun run("x[]");
  ASSERT_NE(run.list(), nullptr);
  const SyntaxNode* key = run.list()->next;
  ASSERT_EQ(key->kind, NodeKind::String);
  EXPECT_STREQ(key->text, "");
  EXPECT_EQ(key->pattern, nullptr);
}

TEST(ExpressionParser, NumberValues) {
  EXPECT_EQ(parsed("0x1f, 0XFF, 017, 1.9, .5, 08, 0x, 0, 019"),
            "31 Comma 255 Comma 15 Comma 1 Comma 0 Comma 0 Comma 0 Comma 0 Comma 1");
  // 32-bit values wrap.
  EXPECT_EQ(parsed("2147483648, 0xFFFFFFFF, 0x100000001"), "-2147483648 Comma -1 Comma 1");
}

TEST(ExpressionParser, StringLiteralsAndPatterns) {
  EXPECT_EQ(parsed("\"(\\d+)\" = x;"), "pat:\"(\\d+)\" [x] Assign Semicolon");
  EXPECT_EQ(parsed("y = \"(\\d+)\";"), "[y] \"(\\d+)\" Assign Semicolon");
  ParseRun run("s = \"ab\\\"c\"");
  ASSERT_NE(run.list(), nullptr);
  const SyntaxNode* literal = run.list()->next;
  EXPECT_STREQ(literal->text, "ab\\\"c");
  EXPECT_NE(literal->pattern, nullptr);
}

TEST(ExpressionParser, NodesPointAtTheirTokens) {
  ParseRun run("a =\n  b + 1");
  const SyntaxNode* node = run.list();
  ASSERT_NE(node, nullptr);
  const char* text = run.text();
  EXPECT_EQ(node->source - text, 0);                          // a
  EXPECT_EQ(node->next->source - text, 6);                    // b
  EXPECT_EQ(node->next->next->next->source - text, 8);        // + (after its operand 1)
  EXPECT_EQ(node->next->next->next->next->source - text, 2);  // =
}

TEST(ExpressionParser, MissingClosersAreSentenceErrors) {
  EXPECT_EQ(parsed("x = (1;)"), "!### Error: Sentence error : main:(1) : x = (1;)");
  EXPECT_EQ(parsed("a[1;]"), "!### Error: Sentence error : main:(1) : a[1;]");
  EXPECT_EQ(parsed("x = {1;}"), "!### Error: Sentence error : main:(1) : x = {1;}");
  EXPECT_EQ(parsed("f(1;)"), "!### Error: Sentence error : main:(1) : f(1;)");
  EXPECT_EQ(parsed("\n  f(1"), "!### Error: Parenthesis error : main:(2) : f(1");
}

TEST(ParseExpressionText, OneOperandWithIndexesAndNothingElse) {
  ScriptFixture fixture;
  Script* module = fixture.add_module("main");
  CallContext context = make_frame(module, "f");
  SyntaxNode* list = parse_expression_text(&context, "A[1][\"k\"]");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(render(list), "[a] 1 Index \"k\" Index");
  free_syntax_node(&list);
  EXPECT_EQ(list, nullptr);

  EXPECT_EQ(parse_expression_text(&context, "a + 1"), nullptr);
  EXPECT_EQ(parse_expression_text(&context, "a b"), nullptr);
  EXPECT_EQ(parse_expression_text(&context, ""), nullptr);

  list = parse_expression_text(&context, "f(x, 2)");
  EXPECT_EQ(render(list), "CallStart [x] Comma 2 call:f");
  free_syntax_node(&list);
}

TEST(ParseExpressionText, TrailingTokensAreLeftToTheCaller) {
  TestHost host;
  ScriptFixture fixture(host.host());
  Script* module = fixture.add_module("main");
  CallContext context = make_frame(module, "f");
  EXPECT_EQ(parse_expression_text(&context, "a + 1"), nullptr);
  EXPECT_TRUE(host.error_lines().empty());
  // Errors of the scanner itself are still reported.
  EXPECT_EQ(parse_expression_text(&context, "(a"), nullptr);
  EXPECT_EQ(host.error_lines().size(), 1u);
}

TEST(ParseExpressionText, NamesDeclareWhileBinding) {
  ScriptFixture fixture;
  Script* module = fixture.add_module("main");
  CallContext context = make_frame(module, "f");
  context.bind_mode = 1;
  SyntaxNode* list = parse_expression_text(&context, "Cap");
  EXPECT_EQ(render(list), "decl:cap");
  free_syntax_node(&list);
}

TEST(ExpressionParser, NestingIsBounded) {
  // Within the bound, deep nesting parses.
  std::string ok = "x = " + std::string(50, '(') + "1" + std::string(50, ')');
  EXPECT_NE(ParseRun(ok.c_str()).list(), nullptr);

  const std::size_t deep = 100000;
  const std::string cases[] = {
      "x = " + std::string(deep, '(') + "1" + std::string(deep, ')'),
      "x = " + std::string(deep, '!') + "1",
      [&] {
        std::string chain;
        for (std::size_t i = 0; i < deep; ++i)
          chain += "a=";
        return chain + "1";
      }(),
      [&] {
        std::string list = "x = ";
        for (std::size_t i = 0; i < deep; ++i)
          list += "{";
        return list + std::string(deep, '}');
      }(),
      "x" +
          [&] {
            std::string index;
            for (std::size_t i = 0; i < deep; ++i)
              index += "[a";
            return index + std::string(deep, ']');
          }(),
  };
  for (const std::string& text : cases) {
    ParseRun run(text.c_str());
    EXPECT_EQ(run.list(), nullptr);
    ASSERT_EQ(run.errors().size(), 1u);
    EXPECT_EQ(run.errors()[0].rfind("### Error: Sentence error : main:(1) : ", 0), 0u);
  }
}

TEST(ExpressionParser, NestingErrorPointsAtTheFirstTokenPastTheBound) {
  // Each "(" opens one level; the full expression and the right side of "=" take two.
  std::string text = "x = " + std::string(MAX_NESTING, '(') + "1" + std::string(MAX_NESTING, ')');
  ParserState state;
  init_parser_state(&state, nullptr, text.c_str(), 0);
  SyntaxNode head{};
  ASSERT_EQ(next_token(&state), 1);
  EXPECT_EQ(parse_full_expression(&state, &head), nullptr);
  EXPECT_EQ(state.start - text.c_str(), 4 + MAX_NESTING - 1);
  free_syntax_node(&head.next);
}
