// Plain arithmetic in compiled bodies (numbers held without variables, loops, updates): every
// script must give the results and the error reports recorded for it, which were checked against
// the evaluator that ran code as a tree.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/script.h"
#include "support/digest.h"
#include "support/script_runner.h"

namespace {

const char* const kScript =
    "g = 5; gs = \"7\";\n"
    "function mixed() { a = 3; b = 4; c = a * b - a / 2 % 5 << 1; return c; }\n"
    "function self_update() { i = 5; i = i++; return i; }\n"
    "function read_before_update() { i = 5; x = i++ + i; return x + \",\" + i; }\n"
    "function texts() { s = \"ab\"; t = s + 1; n = \"12\"; return t + \",\" + (n + 2); }\n"
    "function divide() { z = 0; y = 1; return y + 5 / z; }\n"
    "function globals() { g = g + 1; return g + gs; }\n"
    "function unary() { n = 1; s = \"x\"; return -n + ~n + !n + +n + !s; }\n"
    "function in_arguments() { k = 2; return len(k++ + 10) + k; }\n"
    "function declares() { u = 1; u = u + fresh; fresh = 4; return u + fresh; }\n"
    "function string_update() { q = \"5\"; q++; q--; q++; return q; }\n"
    "function hash_scalar() { h[0] = 1; h = h + 2; return h + \",\" + h[0]; }\n"
    "function logic() { a = 7; return (a == 7 && a != 8 || 0) + (a =~ 7) + (a > 8); }\n"
    "function wraps() { x = 2147483647; x++; y = x * 2; v = -2147483647 - 1;\n"
    "  return x + \",\" + y + \",\" + v / -1 + \",\" + v % -1; }\n"
    "function chained() { a = b = c = 4; return a + b + c; }\n"
    "function loop() { s = 0; for (i = 0; i < 100; i++) { s = s + i * i; } return s; }\n"
    "function reference(&r) { r = r * 3; return r; }\n"
    "function by_reference() { w = 7; reference(w); return w; }\n"
    "function value_left() { a = 1; return {a + 1, a}; }\n"
    "function listed() { t = value_left(); return t[0] + \",\" + t[1] + \",\" + gethashkey(t, 1); "
    "}\n"
    // Conditions taken by the if after them: numbers, a string "0" (true), an empty string.
    "function conditions() { r = \"\"; z = \"0\"; e = \"\"; for (i = -2; i < 3; i++) {\n"
    "  if (i) r = r + \"a\"; else r = r + \"b\";\n"
    "  if (i % 2 == 0) r = r + \"c\"; else if (i > 0) r = r + \"d\"; else r = r + \"e\";\n"
    "  if (z) r = r + \"f\"; if (e) r = r + \"g\"; if (!i) { r = r + \"h\"; } }\n"
    "  if (r) return r; }\n"
    // Blocks whose values are gathered: list literals, and braces that are not last in their list.
    "function gathered() { a = 1; s = 0; h = {a = a + 1, a * 2, a + 3};\n"
    "  if (a) { s = s + a; t = s * 2; } s = s + 1; k = {x = 4, x + 1};\n"
    "  if (s > 2) { s = s + 10 } s = s + 100; if (s > 2) { s } else { 0 } return; }\n"
    "function gathered_text() { g = gathered(); return gethashcount(h) + \":\" + gethashcount(g) + "
    "\",\" + g[0]; }\n";

const char* const kFunctions[] = {
    "mixed",         "self_update",  "read_before_update",
    "texts",         "divide",       "globals",
    "unary",         "in_arguments", "declares",
    "string_update", "hash_scalar",  "logic",
    "wraps",         "chained",      "loop",
    "by_reference",  "listed",       "conditions",
    "gathered_text",
};

template <typename Names>
std::string run_all(const std::string& script, const Names& functions) {
  ScriptRunner runner(script.c_str());
  if (!runner.loaded()) return "<not loaded>";
  std::string transcript;
  for (const auto& name : functions)
    transcript += std::string(name) + "=" + runner.call(std::string(name).c_str()) + "\n";
  for (const std::string& line : runner.errors())
    transcript += line + "\n";
  return transcript;
}

// The digests of what random_script(1 to 60) gave when they were recorded (then checked against
// the evaluator that ran their code as a tree).
constexpr std::uint64_t kRandomDigests[] = {
    0x127164b42379fbf0ull, 0xba8b79ffe122c231ull, 0x38b240e7be7d110full, 0xc9513e3735968baaull,
    0x547617c35d6c9affull, 0xe3d80daa06ed3a31ull, 0x4a7ad1bc33ff8948ull, 0xefb712c9166c9900ull,
    0x8da03a6d5456566aull, 0xde77dc3bbd6a5218ull, 0xb99333ae2c73f236ull, 0x8c23336cd4dbab89ull,
    0xcde7072caa6a00b8ull, 0xee6ff5b163abdf08ull, 0x2ac57891b5e60054ull, 0x715721cb1df9d851ull,
    0x8883030b410c6bb5ull, 0x490ad6fc6d74aae7ull, 0xc19f4254d964f9bbull, 0x465ac6e37432b654ull,
    0xe6f7f997a287c274ull, 0xb20b2022c82a13bdull, 0x27fc7a4a61d8f744ull, 0x63cbd9dae9d66cf1ull,
    0x64122fca41ff40bdull, 0xf55e12f863a6e915ull, 0x633063df4af597d3ull, 0xcbff78caf320c08cull,
    0xf1923784769a469cull, 0xd8ebad41872d9ffdull, 0x58d18939c038a6e3ull, 0xa877d9b6b0e613f9ull,
    0x6412232685416465ull, 0xfff83bf89b3cd818ull, 0x87c2f9cc828fb79eull, 0xe0cb9e07908d9faeull,
    0x6ff978fa2470a8a4ull, 0xa23d81498b22ad96ull, 0xb57f373608fc4b9aull, 0xeb88a1f57c4d5409ull,
    0x157845d18a6408d5ull, 0xaf90fc422b564933ull, 0x91f4f07b54104cceull, 0x3cf14a9a020d1e91ull,
    0xf521533035c6e8aaull, 0x046013365224f37bull, 0x68d0741d499f5c87ull, 0xffe9ac02f6eae8baull,
    0x4ed80a7523222c63ull, 0x49d3f3ea0a5dd4d1ull, 0xb73c6bf3d390da36ull, 0x358cf64ff17561edull,
    0x982be62d3bd65cbeull, 0x1a2f937801441090ull, 0xa8f260cd27101915ull, 0xed269a77e7ebfa22ull,
    0x6f0a08d4584b8f9full, 0xb4fc2e992ae9fd8bull, 0x52b2408972f76b3aull, 0x0ef76b5974c5243cull,
};

// Random statements over a few variables (numbers and strings), every operator, updates,
// assignments in expressions and divisions that may be by zero; a fixed start keeps it repeatable.
std::string random_script(std::uint32_t start, int functions, std::vector<std::string>* names) {
  std::uint32_t state = start;
  auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  const char* const variables[] = {"a", "b", "c", "s"};
  const char* const operators[] = {"&&", "||", "<",  "<=", ">", ">=", "==", "=~", "!=", "&",
                                   "|",  "^",  "<<", ">>", "+", "-",  "*",  "/",  "%"};
  const char* const unary[] = {"-", "!", "~", "+"};
  std::function<std::string(int)> expression = [&](int depth) -> std::string {
    switch (depth > 2 ? next(3) : next(7)) {
      case 0:
        return std::to_string(static_cast<int>(next(9)) - 2);
      case 1:
      case 2:
        return variables[next(4)];
      case 3:
        return std::string(variables[next(3)]) + (next(2) ? "++" : "--");
      case 4:
        return std::string(unary[next(4)]) + expression(depth + 1);
      case 5:
        return std::string(variables[next(3)]) + " = " + expression(depth + 1);
      default:
        return "(" + expression(depth + 1) + " " + operators[next(19)] + " " +
               expression(depth + 1) + ")";
    }
  };
  std::string script;
  for (int f = 0; f < functions; ++f) {
    std::string name = "f" + std::to_string(f);
    names->push_back(name);
    script += "function " + name + "() { a = " + std::to_string(next(5)) + "; b = -" +
              std::to_string(next(5)) + "; c = 7; s = \"" + std::to_string(next(3)) + "x\";\n";
    int statements = 1 + static_cast<int>(next(4));
    std::string body;
    for (int i = 0; i < statements; ++i) {
      if (next(4) == 0) {
        body += "  if (" + expression(0) + ") " + variables[next(3)] + "++;\n";
      } else {
        body += "  " + std::string(variables[next(3)]) + " = " + expression(0) + ";\n";
      }
    }
    // Some bodies run three times in a loop over a counter none of them changes.
    if (next(2) == 0)
      script += "  for (k = 0; k < 3; k++) {\n" + body + "  }\n";
    else
      script += body;
    script += "  return a + \",\" + b + \",\" + c + \",\" + s; }\n";
  }
  return script;
}

}  // namespace

TEST(CompiledArithmetic, GivesTheRecordedResultsAndReports) {
  std::string compiled = run_all(kScript, kFunctions);
  EXPECT_EQ(transcript_digest(compiled), 0x84ffc2c8147e13f2ull) << compiled;
  // A few results spelled out, checked against the language.
  EXPECT_NE(compiled.find("self_update=6\n"), std::string::npos);
  EXPECT_NE(compiled.find("read_before_update=10,6\n"), std::string::npos);
  EXPECT_NE(compiled.find("texts=ab1,122\n"), std::string::npos);
  EXPECT_NE(compiled.find("divide=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("globals=67\n"), std::string::npos);
  EXPECT_NE(compiled.find("in_arguments=5\n"), std::string::npos);
  EXPECT_NE(compiled.find("declares=5\n"), std::string::npos);
  EXPECT_NE(compiled.find("string_update=6\n"), std::string::npos);
  EXPECT_NE(compiled.find("wraps=-2147483648,0,-2147483648,0\n"), std::string::npos);
  EXPECT_NE(compiled.find("chained=12\n"), std::string::npos);
  EXPECT_NE(compiled.find("loop=328350\n"), std::string::npos);
  EXPECT_NE(compiled.find("by_reference=21\n"), std::string::npos);
  EXPECT_NE(compiled.find("listed=2,1,a\n"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Divide by ZERO : main.divide:(6)"), std::string::npos);
}

TEST(CompiledArithmetic, RandomArithmeticGivesItsRecordedResults) {
  for (std::uint32_t batch = 1; batch <= 60; ++batch) {
    std::vector<std::string> names;
    std::string script = random_script(batch, 25, &names);
    std::string compiled = run_all(script, names);
    ASSERT_NE(compiled, "<not loaded>") << script;
    EXPECT_EQ(transcript_digest(compiled), kRandomDigests[batch - 1]) << script << compiled;
  }
}

TEST(CompiledArithmetic, ExplicitModulesStillRejectUndeclaredNames) {
  ScriptRunner runner("#option(explicit)\nvar a = 1;\nfunction f() { a = a + y; return a; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0],
            "### Error: y :Variable is not defined : main.f:(3) : function f() { a = a + y; "
            "return a; }");
}

// Loops of plain arithmetic, over local numbers, globals and references, and what they meet: their
// results and reports were recorded (then checked against the evaluator that ran code as a tree).
const char* const kLoopScript =
    "gsum = 0; gi = 0;\n"
    "function locals() { s = 0; for (i = 0; i < 1000; i++) { s = s + i * 3; } return s + \",\" + "
    "i; }\n"
    "function globals() { for (gi = 0; gi < 10; gi++) { gsum = gsum + gi; } return gsum; }\n"
    "function text() { t = \"1\"; for (i = 0; i < 5; i++) { t = t + i; } return t; }\n"
    "function halfway() { k = 1; for (i = 0; i < 6; i++) { k = k * 2; j = 10 / (3 - i); }\n"
    "  return k; }\n"
    // Names first set in a braced body belong to the body's frame, made anew each pass.
    "function declared() { for (i = 0; i < 3; i++) { fresh = i + 1; n = fresh; } return n; }\n"
    "function bare() { n = 0; while (n < 50) n = n + 3; return n; }\n"
    "function empty() { for (i = 0; i < 10; i++) { } for (j = 5; j > 0; j--); return i + j; }\n"
    "function postfix() { i = 0; c = 0; while (x = i++ < 5) c++; return c + \",\" + i + \",\" + x; "
    "}\n"
    "function assigned() { i = -5; n = 0; while (i = i++ + 1) n++; return n + \",\" + i; }\n"
    "function nested() { s = 0; for (a = 0; a < 4; a++) { for (b = 0; b < a; b++) { s = s + b; } "
    "}\n"
    "  return s; }\n"
    "function many() { a=1;b=1;c=1;d=1;e=1;f=1;g=1;h=1;m=1;o=1;p=1;q=1;r=1;u=1;v=1;w=1;y=1;\n"
    "  for (z = 0; z < 3; z++) { a=b+c+d+e+f+g+h+m+o+p+q+r+u+v+w+y+a; } return a; }\n"
    "function add_into(&r) { for (k = 0; k < 5; k++) { r = r + k; } return r; }\n"
    "function by_reference() { add_into(gsum); x = 1; add_into(x); return gsum + \",\" + x; }\n"
    "function step_fails() { z = 0; for (i = 0; i < 3; i = i + 1 / z) { } return i; }\n"
    "function compared() { i = 0; n = 9; while (i < n) i++; while (x = i > 2) i--;\n"
    "  while (i != 7) i = i + 1; return x + \",\" + i; }\n"
    "function condition_turns() { i = 0; while (i < 3) { i = i + 1; } i = \"9\"; while (i < 3) { "
    "}\n"
    "  return i; }\n"
    // An operator whose operands run out inside a call's parentheses: a sentence error, not a lack
    // of memory.
    "function marker_operand() { var t; t[0] = 5; i = 0; return len(t[i+]); }\n"
    // A body without braces runs on a stack of its own, which goes with what it left (here the
    // assignment's value, which the broken step would otherwise find).
    "function leftover() { for (i = 0; i < 1; i / +) s = s + 2 }\n";

const char* const kLoopFunctions[] = {
    "locals",   "globals",        "text",       "halfway",  "declared",
    "bare",     "empty",          "postfix",    "assigned", "nested",
    "many",     "by_reference",   "step_fails", "compared", "condition_turns",
    "leftover", "marker_operand",
};

TEST(CompiledLoops, GiveTheRecordedResultsAndReports) {
  std::string compiled = run_all(kLoopScript, kLoopFunctions);
  EXPECT_EQ(transcript_digest(compiled), 0x2d28e1af1a7ccf9full) << compiled;
  EXPECT_NE(compiled.find("locals=1498500,1000\n"), std::string::npos);
  EXPECT_NE(compiled.find("globals=45\n"), std::string::npos);
  EXPECT_NE(compiled.find("text=101234\n"), std::string::npos);
  EXPECT_NE(compiled.find("halfway=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("declared=0\n"), std::string::npos);
  EXPECT_NE(compiled.find("bare=51\n"), std::string::npos);
  EXPECT_NE(compiled.find("empty=10\n"), std::string::npos);
  EXPECT_NE(compiled.find("postfix=5,6,0\n"), std::string::npos);
  EXPECT_NE(compiled.find("assigned=2,1\n"), std::string::npos);
  EXPECT_NE(compiled.find("nested=4\n"), std::string::npos);
  EXPECT_NE(compiled.find("many=49\n"), std::string::npos);
  EXPECT_NE(compiled.find("by_reference=55,11\n"), std::string::npos);
  EXPECT_NE(compiled.find("step_fails=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("condition_turns=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("compared=0,7\n"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Divide by ZERO : main.halfway:(5)"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Divide by ZERO : main.step_fails:(18)"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Illegal operator to string : main.condition_turns:(21)"),
            std::string::npos);
  EXPECT_NE(compiled.find("leftover=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Sentence error : main.leftover:"), std::string::npos);
  EXPECT_NE(compiled.find("marker_operand=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Sentence error : main.marker_operand:"), std::string::npos);
}

TEST(CompiledLoops, AStopEndsACompiledLoop) {
  ScriptRunner runner("function spin() { i = 0; while (i == i) { i++; } }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call_and_stop("spin"), "<failed>");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(stop_requested(), 0);
}
