// Expressions run through the parser and the evaluator.
#include <gtest/gtest.h>

#include "support/script_runner.h"

namespace {

struct Expressions : testing::Test {
  ScriptRunner runner{"x = 0;"};
  std::string eval(const char* expression) { return runner.eval(expression); }
  std::string error() {
    auto lines = runner.errors();
    return lines.empty() ? "" : lines.front();
  }
};

}  // namespace

TEST_F(Expressions, NumberArithmeticWrapsAndTruncates) {
  EXPECT_EQ(eval("7 / 2"), "3");
  EXPECT_EQ(eval("-7 / 2"), "-3");
  EXPECT_EQ(eval("-7 % 2"), "-1");
  EXPECT_EQ(eval("1 << 33"), "2");
  EXPECT_EQ(eval("-1 >> 28"), "15");
  EXPECT_EQ(eval("2147483647 + 1"), "-2147483648");
  EXPECT_EQ(eval("-2147483647 - 1 - 1"), "2147483647");
  EXPECT_EQ(eval("65536 * 65536"), "0");
  EXPECT_EQ(eval("(-2147483647 - 1) / -1"), "-2147483648");
  EXPECT_EQ(eval("(-2147483647 - 1) % -1"), "0");
  EXPECT_EQ(eval("1 + 2 * 3"), "7");
  EXPECT_EQ(eval("5 & 3 | 8 ^ 1"), "9");
  EXPECT_EQ(eval("~0"), "-1");
  EXPECT_EQ(eval("-(-2147483647 - 1)"), "-2147483648");
  EXPECT_EQ(eval("3 < 4 && 4 <= 4 && 5 > 4 && 4 >= 5 == 0"), "1");
  EXPECT_EQ(eval("0 || 0"), "0");
  EXPECT_EQ(eval("5 =~ 5"), "1");
  EXPECT_TRUE(runner.errors().empty());
}

TEST_F(Expressions, DivisionByZeroIsReported) {
  EXPECT_EQ(eval("5 / 0"), "<failed>");
  EXPECT_EQ(error(),
            "### Error: Divide by ZERO : meval_1.eval_1:(1) : function eval_1() { return 5 / 0; }");
  EXPECT_EQ(eval("5 % 0"), "<failed>");
}

TEST_F(Expressions, StringsConcatenateAndCompare) {
  EXPECT_EQ(eval("\"ab\" + 1"), "ab1");
  EXPECT_EQ(eval("1 + \"2\""), "12");
  EXPECT_EQ(eval("1 == \"01\""), "0");
  EXPECT_EQ(eval("\"a\" == \"a\""), "1");
  EXPECT_EQ(eval("\"a\" != \"b\""), "1");
  EXPECT_EQ(eval("\"abc\" =~ \"b\""), "1");
  EXPECT_EQ(eval("\"abc\" =~ \"^b\""), "0");
  EXPECT_EQ(eval("\"x\" && 0"), "0");
  EXPECT_EQ(eval("\"0\" && 1"), "1");  // a non-empty string is true
  EXPECT_EQ(eval("!\"abc\""), "1");    // but reads as the number 0
  EXPECT_EQ(eval("\"ab\" - 1"), "<failed>");
  EXPECT_EQ(error(),
            "### Error: Illegal operator to string : meval_11.eval_11:(1) : function eval_11() { "
            "return \"ab\" - 1; }");
  EXPECT_EQ(eval("\"b\" > \"a\""), "<failed>");
}

TEST_F(Expressions, StringLiteralsInterpolateAfterEscapes) {
  ASSERT_TRUE(runner.add_and_run("vars", "n = 42; s = \"x\";"));
  EXPECT_EQ(eval("\"100%%\""), "100%");
  EXPECT_EQ(eval("\"%%\""), "%");
  EXPECT_EQ(eval("\"a\\tb\""), "a\tb");
  EXPECT_EQ(eval("\"v=%vars.n%!\""), "v=42!");
  EXPECT_EQ(eval("\"%vars.s%%vars.n%\""), "x42");
  EXPECT_EQ(eval("\"\\x25vars.n%\""), "42");       // an escape that makes "%" opens an expression
  EXPECT_EQ(eval("\"open %vars.n\""), "open 42");  // unclosed: the value ends the text
  EXPECT_EQ(eval("\"abc%\""), "<failed>");
  EXPECT_EQ(error(), "### Error: Sentence error : meval_8.eval_8 : %");
  // A "\\" or "%" byte that ends a two-byte character is part of it: such a literal is its bytes.
  EXPECT_EQ(eval("\"\x95\\\x81%x\x95\\\""), "\x95\\\x81%x\x95\\");
  EXPECT_EQ(eval("\"plain text\""), "plain text");
  EXPECT_EQ(eval("\"\""), "");
}

TEST_F(Expressions, HashesCompareAndAdd) {
  EXPECT_EQ(eval("{1, 2, 3} == {1, 2, 3}"), "1");
  EXPECT_EQ(eval("{1, 2, 3} == {1, 2}"), "0");
  EXPECT_EQ(eval("{1, \"a\"} != {1, \"b\"}"), "1");
  EXPECT_EQ(eval("{1} < {2}"), "<failed>");
  EXPECT_EQ(error(),
            "### Error: Illegal operator to hash : meval_4.eval_4:(1) : function eval_4() { return "
            "{1} < {2}; }");
}

TEST(Evaluation, IncrementsApplyAfterTheirExpression) {
  ScriptRunner runner(
      "x = 5; y = x++; a = 1; b = ++a; c = 3; d = c-- + c; p = 2; q = p++ + p;"
      "function f(v) { return v; }\n"
      "function g() { i = 1; r = f(i++); return r + \",\" + i; }\n"
      "function h() { i = 1; r = f(i++) + i; return r; }\n"
      "function k() { s = \"7\"; s++; return s; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.global("x"), "6");
  EXPECT_EQ(runner.global("y"), "5");
  EXPECT_EQ(runner.global("a"), "2");
  EXPECT_EQ(runner.global("b"), "2");
  EXPECT_EQ(runner.global("d"), "6");  // c stays 3 until the statement ends
  EXPECT_EQ(runner.global("c"), "2");
  EXPECT_EQ(runner.global("q"), "4");
  // Inside a call's arguments the update waits until the call has returned.
  EXPECT_EQ(runner.call("g"), "1,2");
  EXPECT_EQ(runner.call("h"), "3");
  EXPECT_EQ(runner.call("k"), "8");  // a string reads as its number
  EXPECT_TRUE(runner.errors().empty());
}

TEST(Evaluation, ListLiteralsIndexingAndHashAssignment) {
  ScriptRunner runner(
      "h = {1, \"two\", 3}; n = 0; k = {a = 1, b = \"x\"};\n"
      "function count(t) { c = 0; while (1) { if (c >= 3) break; c++; } return c; }\n"
      "function keyed() { return k[\"a\"] + k[\"b\"] + k[1]; }\n"
      "function create() { e[\"k\"]; return e[0] + \"/\" + e[\"k\"]; }\n"
      "function whole() { a = h[]; a[0] = 9; return a[0] + \",\" + h[0] + \",\" + a[2]; }\n"
      "function sum() { s = {1, 2} + {3}; return s[2]; }\n"
      "function bare() { v = 4; t = {v}; return t[\"v\"]; }\n"
      "function gap() { t = {1, , 3}; return t[1] + t[2]; }\n"
      "function negative() { return t[-1]; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("keyed"), "1xx");  // keyed elements are reachable by position too
  EXPECT_EQ(runner.call("create"), "0/0");
  EXPECT_EQ(runner.call("whole"), "9,1,3");
  EXPECT_EQ(runner.call("sum"), "3");
  EXPECT_EQ(runner.call("bare"), "4");
  EXPECT_EQ(runner.call("gap"), "3");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.call("negative"), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0],
            "### Error: Index error : main.negative:(9) : function negative() { return t[-1]; }");
}

TEST(Evaluation, AnIndexFarPastTheEndFailsInsteadOfTakingAllMemory) {
  ScriptRunner runner(
      "g = {1, 2};\n"
      "function far() { g[2000000000] = 5; }\n"
      "function count() { return gethashcount(g); }\n"
      "function near() { var t; t[100000] = 7; return t[100000] + t[99999] + gethashcount(t); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("far"), "<failed>");
  ASSERT_EQ(runner.errors().size(), 1u);
  EXPECT_EQ(runner.errors()[0].rfind("### Error: Alloc failed : main.far", 0), 0u);
  EXPECT_EQ(runner.call("count"), "2");  // nothing was appended before the failure
  EXPECT_EQ(runner.call("near"), "100008");
}

TEST(Evaluation, DestructuringBindsCapturesOrEmptiesThem) {
  ScriptRunner runner(
      "function parse(line) { nick = \"?\"; rest = \"?\";\n"
      "  \"^:%nick%!\\S+ PRIVMSG \\S+ :%rest%$\" = line; return nick + \"|\" + rest; }\n"
      "function matchop() { if (\"abc\" =~ \"b\") return 1; return 0; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("parse", {":alice!u@h PRIVMSG #c :hello there"}), "alice|hello there");
  EXPECT_EQ(runner.call("parse", {"no match here"}), "|");
  EXPECT_EQ(runner.call("matchop"), "1");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(Evaluation, CaptureTargetsAreBoundAtEverySearchOfALiteral) {
  // The targets of a literal are parsed once and then reused: each pass must still bind its own
  // text, element targets must follow the index of the pass, a parameter pattern must declare its
  // targets in every call, and a target that does not parse must be reported at every search.
  ScriptRunner runner(
      "function loop() { var lines, seen; r = \"\";\n"
      "  lines[0] = \"a=1\"; lines[1] = \"bb=22\"; lines[2] = \"none\";\n"
      "  for (i = 0; i < 3; i++) { \"^%k%=%seen[i]%$\" = lines[i]; r = r + k + \":\" + seen[i] + "
      "\";\"; }\n"
      "  return r; }\n"
      "function pair(\"^%left%,%right%$\", extra) { return right + left + extra; }\n"
      "function pairs() { return pair(\"x,y\", 1) + pair(\"p,q\", 2) + pair(\"none\", 3); }\n"
      "function bad() { if (\"ab\" =~ \"(%h[%)b\") return 1; return 0; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("loop"), "a:1;bb:22;:;");
  EXPECT_EQ(runner.call("loop"), "a:1;bb:22;:;");
  EXPECT_EQ(runner.call("pairs"), "yx1qp23");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.call("bad"), "<failed>");
  EXPECT_EQ(runner.call("bad"), "<failed>");
  const std::vector<std::string> once{"### Error: Parenthesis error : main.bad : [",
                                      "### Error: Sentence error : main.bad : %h[%)b"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(runner.errors(), twice);
}

TEST(Evaluation, EmbeddedExpressionsFollowEveryEvaluationOfALiteral) {
  // A literal's embedded expressions are parsed once: later evaluations must still see the values
  // of the moment, a default value must still declare in bind mode at every call, and a part that
  // does not parse must be reported at every evaluation.
  ScriptRunner runner(
      "function f(a = \"<%b%>\") { return a + b; }\n"
      "function g() { var h; r = \"\"; for (i = 0; i < 3; i++) { h[i] = i * 10; "
      "r = r + \"[%i%:%h[i]%]\"; } return r; }\n"
      "function bad() { return \"%x%%len(%\"; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "<0>0");
  EXPECT_EQ(runner.call("f"), "<0>0");
  EXPECT_EQ(runner.call("f", {"5"}), "50");  // a text argument and an implicit b
  EXPECT_EQ(runner.call("g"), "[0:0][1:10][2:20]");
  EXPECT_EQ(runner.call("g"), "[0:0][1:10][2:20]");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.call("bad"), "<failed>");
  EXPECT_EQ(runner.call("bad"), "<failed>");
  ASSERT_EQ(runner.errors().size() % 2, 0u);
  ASSERT_FALSE(runner.errors().empty());
  std::vector<std::string> errors = runner.errors();
  std::vector<std::string> first(errors.begin(), errors.begin() + errors.size() / 2);
  std::vector<std::string> second(errors.begin() + errors.size() / 2, errors.end());
  EXPECT_EQ(first, second);
}

TEST(Evaluation, APostfixUpdateBeforeACallIsAppliedAtTheEndOfItsExpression) {
  ScriptRunner runner(
      "function id(x) { return x; }\n"
      "function before() { b = 1; d = b++ + len(\"xy\"); return b + \",\" + d; }\n"
      "function seen() { b = 1; d = b++ + id(b); return b + \",\" + d; }\n"
      "function inside() { b = 1; d = id(b++) + b; return b + \",\" + d; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("before"), "2,3");
  EXPECT_EQ(runner.call("seen"), "2,2");    // the callee still sees the old value
  EXPECT_EQ(runner.call("inside"), "2,3");  // an argument's update comes after its call
  EXPECT_TRUE(runner.errors().empty());
}

TEST(Evaluation, ExplicitModulesRejectUndeclaredNames) {
  ScriptRunner runner("#option(explicit)\nvar a = 1;\nfunction f() { return y; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0],
            "### Error: y :Variable is not defined : main.f:(3) : function f() { return y; }");
  ASSERT_TRUE(runner.add_and_run("loose", "function g() { return y; }"));
}

TEST(Evaluation, AFailureInsideCallArgumentsLeavesNoMarkerBehind) {
  // The list literal's body fails between a call's start and the call: what the body leaves must
  // not include the call's start marker.
  ScriptRunner runner(
      "function f() { x = {len(1 / 0)}; return 1; }\n"
      "function g() { return \"%len(%\"; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "<failed>");
  EXPECT_EQ(
      runner.errors().front(),
      "### Error: Divide by ZERO : main.f:(1) : function f() { x = {len(1 / 0)}; return 1; }");
  EXPECT_EQ(runner.call("g"), "<failed>");
}

TEST(Evaluation, ErrorsInsideEmbeddedExpressionsPointAtTheLiteral) {
  ScriptRunner runner(
      "#option(explicit)\n"
      "function f() {\n"
      "  return \"<%missing%>\";\n"
      "}");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "<failed>");
  EXPECT_EQ(runner.errors().front(),
            "### Error: missing :Variable is not defined : main.f:(3) : return \"<%missing%>\";");
}

TEST(Evaluation, ListValuesCarryTheNamesOfTheirVariables) {
  // Only a variable's own reference, an assignment or a variable passed to a native function
  // names a value; what operators and indexing make has no name.
  ScriptRunner runner(
      "function keys(t, n) { s = \"\";\n"
      "  for (i = 0; i < n; i++) s = s + \"[\" + gethashkey(t, i) + \"]\"; return s; }\n"
      "function plain() { a = 1; b = 2; h[0] = 0;\n"
      "  return keys({a, b = 3, c = a, a + b, h[0], b++}, 6); }\n"
      "function byref(&x) { return keys({x, y}, 2); }\n"
      "function callbyref() { y = 5; return byref(y); }\n"
      "function native() { v = 7; g = 0;\n"
      "  { hashinsert(g, 0, v); } hashinsert(g, 0, v); return keys(g, 2); }\n"
      // A block statement's values are what its last statement leaves; return takes them.
      "function statements() { { k = 5; m = 6, n } return; }\n"
      "function ended() { { k = 5; m = 6; } return; }\n"
      "function blocks() { return keys(statements(), 2) + \"/\" + keys(ended(), 1); }\n"
      "function nested() { p = 1; t = { {p, q = p} }; return keys(t[0], 2); }\n"
      // More names and open calls than a run keeps without the heap.
      "function many() { a = 1; b = 2; c = 3; d = 4; e = 5; f = 6; g = 7; h = 8; i = 9; j = 10;\n"
      "  return keys({a, b, c, d, e, f, g, h, i, j}, 10) + len(len(len(len(len(len(j)))))); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("plain"), "[a][b][c][][][b]");
  EXPECT_EQ(runner.call("callbyref"), "[x][y]");
  EXPECT_EQ(runner.call("native"), "[][v]");
  EXPECT_EQ(runner.call("blocks"), "[m][n]/[]");
  EXPECT_EQ(runner.call("nested"), "[p][q]");
  EXPECT_EQ(runner.call("many"), "[a][b][c][d][e][f][g][h][i][j]1");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(Evaluation, AssigningAHashToATemporaryLeavesNothingBehind) {
  // The target is a value an operator made: the copied chain goes with it, once.
  ScriptRunner runner(
      "h[\"a\"] = 1; h[\"b\"] = 2;\n"
      "function plus() { +x = h; -y = {1, 2, 3}; (z) = h; return gethashcount(h) + \",\" + z; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("plus"), "2,0");
  EXPECT_TRUE(runner.errors().empty());
}
