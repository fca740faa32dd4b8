// The regular-expression built-ins, called from scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/syntax_node.h"
#include "regex/pattern.h"
#include "support/script_runner.h"

namespace {

// Joins a hash's elements with "|".
constexpr const char* kJoin =
    "function join(hash) {\n"
    "  out = \"\";\n"
    "  for (n = 0; n < gethashcount(hash); n++) { if (n > 0) out = out + \"|\"; out = out + "
    "hash[n]; }\n"
    "  return out;\n"
    "}\n";

std::string run(const std::string& body) {
  std::string text = std::string(kJoin) + "function t() {\n" + body + "\n}\n";
  ScriptRunner runner(text.c_str());
  if (!runner.loaded()) return "<load failed>";
  std::string result = runner.call("t");
  std::vector<std::string> errors = runner.errors();
  if (!errors.empty()) result += " | " + errors[0].substr(0, errors[0].find(" : "));
  return result;
}

}  // namespace

TEST(RegexBuiltins, MatchFillsGroups) {
  EXPECT_EQ(run("r = regmatch(\"(a)(x)?\", \"cab\", g); return r + \":\" + gethashcount(g) + "
                "\":\" + join(g);"),
            "1:3:a|a|");
  EXPECT_EQ(run("g = {1, 2}; r = regmatch(\"a\", \"\", g); return r + \":\" + gethashcount(g);"),
            "0:0");
  EXPECT_EQ(run("g = {1}; return regmatch(\"\", \"\", g) + gethashcount(g);"), "0");
  EXPECT_EQ(run("return regmatch(\"b+\", \"abbbc\");"), "1");
  // Groups come out as strings without keys, also digits.
  EXPECT_EQ(run("regmatch(\"([0-9]+)\", \"x42\", g); return istype(g[1]) + gethashkey(g, 1) + "
                "g[1];"),
            "142");
}

TEST(RegexBuiltins, IgnoreCaseOnlyWithLowerCaseI) {
  EXPECT_EQ(run("return regmatch(\"A\", \"a\");"), "0");
  EXPECT_EQ(run("return regmatch(\"A\", \"a\", g, \"i\");"), "1");
  EXPECT_EQ(run("return regmatch(\"A\", \"a\", g, \"xiy\");"), "1");
  EXPECT_EQ(run("return regmatch(\"A\", \"a\", g, \"I\");"), "0");
  EXPECT_EQ(run("return regmatchall(\"ab\", \"AB ab Ab\", m, \"i\");"), "3");
  EXPECT_EQ(run("return regreplace(\"ab\", \"-\", \"AB ab\", \"i\");"), "- -");
}

TEST(RegexBuiltins, PatternsFromVariablesCompilePerCall) {
  // A literal carries its compiled pattern; a variable's text is compiled for the call.
  EXPECT_EQ(run("p = \"[0-9]+\"; return regmatchall(p, \"a1b22c333\", m) + join(m);"), "31|22|333");
  EXPECT_EQ(run("p = 5; return regmatch(p, \"x5\");"), "1");
}

TEST(RegexBuiltins, MatchAllWalksTheSubject) {
  EXPECT_EQ(run("n = regmatchall(\"[0-9]+\", \"a12b345\", m); return n + \":\" + join(m);"),
            "2:12|345");
  EXPECT_EQ(run("m = {9}; n = regmatchall(\"z\", \"abc\", m); return n + \":\" + gethashcount(m);"),
            "0:0");
  // Empty matches are stepped over and not collected.
  EXPECT_EQ(run("return regmatchall(\"x*\", \"ab\", m) + gethashcount(m);"), "0");
  EXPECT_EQ(run("return regmatchall(\"a*\", \"baab\", m) + join(m);"), "1aa");
  // A line-anchored pattern matches at most once per line.
  EXPECT_EQ(run("return regmatchall(\"^a\", \"aa\\naa\\r\\naa\", m);"), "3");
  EXPECT_EQ(run("return regmatchall(\"^.\", \"ab\\n\\nc\\n\", m) + join(m);"), "2a|c");
  EXPECT_EQ(run("return regmatchall(\"a\", \"aaa\");"), "3");
}

TEST(RegexBuiltins, ReplaceExpandsGroupReferences) {
  EXPECT_EQ(run("return regreplace(\"(a)(b)\", \"\\\\2\\\\1\", \"xaby\");"), "xbay");
  EXPECT_EQ(run("return regreplace(\"(a)\", \"[\\\\5]\", \"xay\");"), "x[]y");
  EXPECT_EQ(run("return regreplace(\"(a)\", \"\\\\n\", \"a\");"), "\\n");
  EXPECT_EQ(run("return regreplace(\"(a)\", \"\\\\10\", \"a\");"), "a0");
  EXPECT_EQ(run("return regreplace(\"(a)(x)?\", \"<\\\\2>\", \"a\");"), "<>");
  EXPECT_EQ(run("return regreplace(\"a\", \"\\\\\", \"cat\");"), "c\\t");
  EXPECT_EQ(run("return regreplace(\"a+\", \"<\\\\0>\", \"baaad\");"), "b<aaa>d");
}

TEST(RegexBuiltins, ReplaceSlotRule) {
  EXPECT_EQ(run("return regreplace(\"b\", \"X\", \"abc\");"), "aXc");
  EXPECT_EQ(run("return regreplace(\"x*\", \"-\", \"ab\");"), "a-b");
  EXPECT_EQ(run("return regreplace(\"b*\", \"X\", \"abc\");"), "aXXc");
  EXPECT_EQ(run("return regreplace(\"z\", \"X\", \"abc\");"), "abc");
  EXPECT_EQ(run("return regreplace(\"a\", \"X\", \"\");"), "");
  EXPECT_EQ(run("return regreplace(\"^a\", \"X\", \"aa\\naa\");"), "Xa\nXa");
  EXPECT_EQ(run("s = \"abc\"; r = regreplace(\"b\", \"X\", s); return s + r;"), "abcaXc");
}

TEST(RegexBuiltins, OutputArgumentsThatAreNotVariables) {
  EXPECT_EQ(run("return regmatch(\"(a)\", \"a\", {1, 2});"), "1");
  EXPECT_EQ(run("return regmatchall(\"a\", \"aa\", 5);"), "2");
  // An element as output argument.
  EXPECT_EQ(run("h[\"k\"] = 0; regmatch(\"(b)\", \"abc\", h[\"k\"]); return join(h[\"k\"]);"),
            "b|b");
}

TEST(RegexBuiltins, TooFewArguments) {
  EXPECT_EQ(run("return regmatch(\"a\");"), "<failed> | ### Error: Too few arguments");
  EXPECT_EQ(run("return regmatchall(\"a\");"), "<failed> | ### Error: Too few arguments");
  EXPECT_EQ(run("return regreplace(\"a\", \"b\");"), "<failed> | ### Error: Too few arguments");
}

TEST(RegexBuiltins, TooComplexPatternsAreReportedOnce) {
  std::string deep = "s = string(10000, \"(\") + \"a\" + string(10000, \")\"); ";
  EXPECT_EQ(run(deep + "return regmatch(s, \"a\");"), "<failed> | ### Error: Function error");
  EXPECT_EQ(run(deep + "return regmatchall(s, \"aaa\");"), "<failed> | ### Error: Function error");
  EXPECT_EQ(run(deep + "return regreplace(s, \"b\", \"a\");"),
            "<failed> | ### Error: Function error");
  EXPECT_EQ(run(deep + "return \"a\" =~ s;"), "<failed> | ### Error: Regex too complex");
  ScriptRunner runner(
      "function t() { s = string(10000, \"(\"); regmatchall(s, \"aaaa\"); }\n"
      "function u() { p = string(10000, \"(\"); return \"abc\" =~ p; }\n");
  EXPECT_EQ(runner.call("t"), "<failed>");
  std::vector<std::string> errors = runner.errors();
  ASSERT_EQ(errors.size(), 2u);  // the report and the call's trace
  EXPECT_NE(errors[0].find("regmatchall: Regex too complex"), std::string::npos);
  EXPECT_EQ(errors[1].substr(0, 11), "        at ");
}

TEST(RegexBuiltins, BoundsReachFarWhereMemoryAllows) {
  EXPECT_EQ(run("return regmatch(\"^a{0,200000}$\", string(1000, \"a\"));"), "1");
  EXPECT_EQ(run("return regmatch(\"^a{0,200000}$\", \"b\");"), "0");
  EXPECT_EQ(run("return regmatch(\"(a|c)*b\", string(9000000, \"a\") + \"b\");"), "1");
}

TEST(RegexBuiltins, LiteralsAreCompiledOnlyWhenUsedAsPatterns) {
  std::string text;
  for (int i = 0; i < 200; ++i)
    text += "s" + std::to_string(i) + " = \"a{130000}\";\n";
  text += "function t() { return s1 =~ \"^a.13\"; }\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  int literals = 0;
  int compiled = 0;
  for (SyntaxNode* node = runner.script_set()->next->code; node != nullptr; node = node->next) {
    if (node->kind != NodeKind::String || node->pattern == nullptr) continue;
    ++literals;
    compiled += node->pattern->compiled != nullptr;
  }
  EXPECT_EQ(literals, 200);
  EXPECT_EQ(compiled, 0);
  EXPECT_EQ(runner.call("t"), "1");  // "a{130000}" is text here; the pattern literal compiles now
}
