// Statements and calls run through the parser and the evaluator.
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "support/script_runner.h"

TEST(Statements, LoopsBreakCountsAndContinue) {
  ScriptRunner runner(
      "function once() { n = 0; while (1) { n++; break; } return n; }\n"
      "function both() { n = 0; while (1) { while (1) { n++; break 1; } n = 100; } return n; }\n"
      "function forloop() { s = 0; for (i = 0; i < 3; i++) { s = s + i; } return s + \"/\" + i; }\n"
      "function doonce() { n = 0; do { n++; } while (0); return n; }\n"
      "function skip() { s = \"\"; for (i = 0; i < 5; i++) { if (i == 2) continue; s = s + i; } "
      "return s; }\n"
      "function topbreak() { break; return 7; }\n"
      "function emptyfor() { n = 0; for (;;) { if (++n == 4) break; } return n; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("once"), "1");
  EXPECT_EQ(runner.call("both"), "1");
  EXPECT_EQ(runner.call("forloop"), "3/3");
  EXPECT_EQ(runner.call("doonce"), "1");
  EXPECT_EQ(runner.call("skip"), "0134");
  EXPECT_EQ(runner.call("topbreak"), "0");
  EXPECT_EQ(runner.call("emptyfor"), "4");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(Statements, SwitchFallsThroughAndCaseFailuresEndTheSearch) {
  ScriptRunner runner(
      "function pick(v) { s = \"\"; switch (v) { case 1: s = s + \"one\"; case 2: s = s + \"two\";"
      " default: s = s + \"dflt\"; } return s; }\n"
      "function early(v) { s = \"\"; switch (v) { default: s = \"d\"; break; case 5: s = \"five\"; "
      "} return s; }\n"
      "function none() { s = \"n\"; switch (9) { case 1: s = \"one\"; } return s; }\n"
      "function inloop() { s = \"\"; for (i = 0; i < 3; i++) { switch (i) { case 1: continue; "
      "default: s = s + i; break; } s = s + \".\"; } return s; }\n"
      "function text(v) { switch (v) { case \"a\": return 1; case \"b\": return 2; } return 0; }\n"
      "function failing() { s = \"x\"; switch (1) { case 1 / 0: s = \"c\"; default: s = \"d\"; } "
      "return s; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("pick", {"2"}), "twodflt");
  EXPECT_EQ(runner.call("pick", {"1"}), "onetwodflt");
  EXPECT_EQ(runner.call("pick", {"7"}), "dflt");
  EXPECT_EQ(runner.call("early", {"5"}), "five");
  EXPECT_EQ(runner.call("early", {"4"}), "d");
  EXPECT_EQ(runner.call("none"), "n");
  EXPECT_EQ(runner.call("inloop"), "0.2.");
  EXPECT_EQ(runner.call("text", {"b"}), "2");
  EXPECT_TRUE(runner.errors().empty());
  // A label that fails ends the search: neither a later case nor default runs.
  EXPECT_EQ(runner.call("failing"), "x");
  EXPECT_EQ(runner.errors().size(), 1u);
}

TEST(Statements, BlocksScopeTheirVariables) {
  ScriptRunner runner(
      "function f() { x = 1; { var y = 2; x = 3; } return x + \",\" + y; }\n"
      "function g() { var x = 1; { var x = 2; } return x; }\n"
      "function twice() { var x; var x; return 1; }\n"
      "function ifelse(v) { if (v) r = \"yes\"; else r = \"no\"; return r; }\n"
      "function nested() { for (i = 0; i < 10; i++) { while (1) { if (i == 3) return i * 10; "
      "break; } } return -1; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f"), "3,0");
  EXPECT_EQ(runner.call("g"), "1");
  EXPECT_EQ(runner.call("ifelse", {"1"}), "yes");
  EXPECT_EQ(runner.call("ifelse", {""}), "no");
  EXPECT_EQ(runner.call("nested"), "30");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.call("twice"), "<failed>");
  ASSERT_EQ(runner.errors().size(), 1u);
  EXPECT_EQ(runner.errors()[0],
            "### Error: x :Declaration overlaps : main.twice:(3) : function twice() { var x; var "
            "x; return 1; }");
}

TEST(Statements, GlobalsAppearAfterTheTopLevelRun) {
  ScriptRunner runner(
      "x = 1; seen = peek();\n"
      "function peek() { return x; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.global("seen"), "0");  // not yet a global while the top level runs
  EXPECT_EQ(runner.call("peek"), "1");
}

TEST(Calls, ArgIsThereWhereverItIsLookedFor) {
  // arg is made only when first looked for: from a nested block, from a string's embedded
  // expression, after other locals, through a declaration, or as a parameter's name.
  ScriptRunner runner(
      "function inner(a, b) { if (1) { { return arg[1] + \"|\" + gethashcount(arg); } } }\n"
      "function text(a) { return \"<%arg[0]%>\"; }\n"
      "function named(arg, b) { return arg + \"|\" + arg[1]; }\n"
      "function none() { return gethashcount(arg) + \"|\" + arg; }\n"
      "function late(x) { y = x + 1; z = arg[0]; return z + y; }\n"
      "function twice() { var arg = 1; return arg; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.eval("main.inner(1, 2)"), "2|2");
  EXPECT_EQ(runner.eval("main.text(\"q\")"), "<q>");
  EXPECT_EQ(runner.eval("main.named(5, 6)"), "0|6");
  EXPECT_EQ(runner.eval("main.none()"), "0|0");
  EXPECT_EQ(runner.eval("main.late(3)"), "7");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.eval("main.twice()"), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0].rfind("### Error: arg :Declaration overlaps : main.twice:(6)", 0),
            0u);
}

TEST(Calls, ParametersDefaultsReferencesAndArg) {
  ScriptRunner runner(
      "v = 1;\n"
      "function f(a, b = 2) { return a + b; }\n"
      "function g(&x) { x = 9; }\n"
      "function h(x) { arg[0] = 7; }\n"
      "function callg() { w = 1; g(w); g(5); return w; }\n"
      "function callh() { w = 1; h(w); return w; }\n"
      "function count() { return gethashcount_of(arg); }\n"
      "function gethashcount_of(&t) { n = 0; while (1) { if (t[n] == 0) break; n++; } return n; }\n"
      "function extra(a) { return arg[1]; }\n"
      "function defcall(a, b = f(1, 1), c = 3) { return a + b + c; }\n"
      "function arr(&t) { t[\"k\"] = 5; }\n"
      "function callarr() { arr(m); return m[\"k\"]; }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.eval("main.f(1)"), "3");
  EXPECT_EQ(runner.eval("main.f(1, 5)"), "6");
  EXPECT_EQ(runner.eval("main.callg()"), "9");
  EXPECT_EQ(runner.eval("main.callh()"), "7");
  EXPECT_EQ(runner.eval("main.extra(1, \"two\")"), "two");  // surplus arguments stay in arg
  EXPECT_EQ(runner.eval("main.defcall(1)"), "6");
  EXPECT_EQ(runner.eval("main.defcall(1, 0)"), "4");
  EXPECT_EQ(runner.eval("main.callarr()"), "5");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.eval("main.f()"), "0");  // binding fails: the call yields 0
  ASSERT_EQ(runner.errors().size(), 1u);
  EXPECT_EQ(runner.errors()[0].rfind("### Error: Argument error : main.f:(2)", 0), 0u);
}

TEST(Calls, FailuresLeaveOneTraceLinePerCaller) {
  ScriptRunner runner(
      "function start() {\n"
      "  x = 1;\n"
      "  nosuch(x);\n"
      "}\n"
      "function f() {\n"
      "    return 1 / 0;\n"
      "}\n"
      "function g() {\n"
      "  return f();\n"
      "}\n"
      "function r(n) { if (n == 0) return 1 / 0; return r(n - 1); }\n"
      "function callr() { return r(3); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("start"), "<failed>");
  EXPECT_EQ(runner.errors(),
            (std::vector<std::string>{"### Error: Function not Found : main.start : nosuch",
                                      "        at main.start:(3) : nosuch(x);"}));
  runner.host().clear();
  EXPECT_EQ(runner.call("g"), "<failed>");
  EXPECT_EQ(runner.errors(),
            (std::vector<std::string>{"### Error: Divide by ZERO : main.f:(6) : return 1 / 0;",
                                      "        at main.g:(9) : return f();"}));
  runner.host().clear();
  // Direct recursion adds no trace lines of its own.
  EXPECT_EQ(runner.call("callr"), "<failed>");
  ASSERT_EQ(runner.errors().size(), 2u);
  EXPECT_EQ(runner.errors()[1].rfind("        at main.callr:(12)", 0), 0u);
}

TEST(Calls, RunawayRecursionFailsCleanly) {
  ScriptRunner runner("function f(n) { return f(n + 1); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("f", {"0"}), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0], "### Error: Stack overflow : main.f : f");
  EXPECT_EQ(active_calls(), 0);
}

TEST(Calls, TheCallSiteCacheKeepsItsFirstResolution) {
  ScriptRunner runner("function show() { return len(\"abc\"); }\n");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("show"), "3");
  // A module-level function named len defined later does not change the resolved call.
  ASSERT_TRUE(runner.add_and_run("late", "function len(s) { return 99; }"));
  EXPECT_EQ(runner.call("show"), "3");
  EXPECT_EQ(runner.eval("late.len(1)"), "99");
  // "all." reaches only the own module's functions: natives are searched under the whole name.
  EXPECT_EQ(runner.eval("all.len(\"ab\")"), "<failed>");
  EXPECT_EQ(runner.errors().front(), "### Error: Function not Found : meval_2.eval_2 : all.len");
  runner.host().clear();
  EXPECT_EQ(runner.eval("zz.len(1)"), "<failed>");
  EXPECT_EQ(runner.errors(),
            (std::vector<std::string>{
                "### Error: Script not Found : meval_3.eval_3 : zz.len",
                "        at meval_3.eval_3:(1) : function eval_3() { return zz.len(1); }"}));
}

TEST(Calls, PatternDispatchRunsEveryMatchingArgmatch) {
  ScriptRunner runner(
      "log = \"\";\n"
      "argmatch first(\"^PING %who%\") { log = log + \"1\" + who; }\n"
      "argmatch second(\"PING\", extra = \"e\") { log = log + \"2\" + extra; }\n"
      "argmatch stopper(\"^STOP\") { log = log + \"S\"; exit; }\n"
      "argmatch after(\"STOP\") { log = log + \"A\"; }\n"
      "function run(line) { log = \"\"; n = ?(line); return n + \":\" + log; }\n"
      "function noargs() { return ?(); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("run", {"PING me"}), "2:1me2e");
  EXPECT_EQ(runner.call("run", {"STOP now"}), "1:S");
  EXPECT_EQ(runner.call("run", {"nothing"}), "0:");
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.call("noargs"), "<failed>");
  EXPECT_EQ(runner.errors()[0].rfind("### Error: Too few arguments : main.noargs:(7)", 0), 0u);
}

TEST(Calls, AStopEndsAnEndlessScriptLoop) {
  ScriptRunner runner("function spin() { while (1) { } }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call_and_stop("spin"), "<failed>");
  EXPECT_TRUE(runner.errors().empty());  // a stop reports nothing
  EXPECT_EQ(active_calls(), 0);
  EXPECT_EQ(stop_requested(), 0);
}
