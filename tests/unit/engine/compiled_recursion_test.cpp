// Functions that compute numbers from their parameters, recursion among them, run compiled with
// their numbers held in the activation record; every script must give the results and the reports
// recorded for it (checked against the evaluator that ran code as a tree), failures included.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/script.h"
#include "support/digest.h"
#include "support/script_runner.h"

namespace {

const char* const kScript =
    "g = 3;\n"
    "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
    "function ack(m, n) { if (m == 0) return n + 1; else if (n == 0) return ack(m - 1, 1);\n"
    "  else { return ack(m - 1, ack(m, n - 1)); } }\n"
    "function ops(a, b) { return -a + ~b + !a + +b + (a && b) + (a || 0) + (a << 2) + (b >> 1)\n"
    "  + (a ^ b) + (a | b) + (a & b) + a % 3 + a / 2 + (a != b) + (a =~ b) + (a >= b); }\n"
    "function wrap(n) { return n * 65536 * 65536 + n * 2147483647; }\n"
    "function nothing(n) { if (n) { } }\n"
    "function bare(n) { return; }\n"
    "function shadow(g) { return g * 2; }\n"
    "function uses_global(n) { return n + g; }\n"
    "function calls_other(n) { if (n > 2) return uses_global(n); return n; }\n"
    "function two(a, b) { return a * 10 + b; }\n"
    "function fewer() { return two(4); }\n"
    "function extra() { return two(1, 2, 3); }\n"
    "function divides(n) { if (n == 0) return 1 / n; return divides(n - 1) + 1; }\n"
    "function runaway(n) { return runaway(n + 1); }\n"
    "function left(n) { if (n) { n } return 3; }\n"
    "function text() { return two(\"5\", 1); }\n"
    "function uses_arg(n) { return arg + n; }\n"
    "function defaults(a, b = 2) { return a + b; }\n"
    "function with_default() { return defaults(1); }\n"
    "function t_fib() { return fib(15); }\n"
    "function t_ack() { return ack(2, 3); }\n"
    "function t_ops() { return ops(7, 2) + \",\" + ops(0, -9); }\n"
    "function t_wrap() { return wrap(3); }\n"
    "function t_nothing() { return nothing(1) + bare(2); }\n"
    "function t_shadow() { return shadow(21); }\n"
    "function t_other() { return calls_other(1) + calls_other(5); }\n"
    "function t_divides() { return divides(4); }\n"
    "function t_runaway() { return runaway(0); }\n"
    "function t_left() { return left(1); }\n"
    "function t_arg() { return uses_arg(2); }\n"
    "function named_arg(arg) { return arg * 2; }\n"
    "function t_named_arg() { return named_arg(4); }\n";

const char* const kTests[] = {
    "t_fib", "t_ack", "t_ops", "t_wrap", "t_nothing",    "t_shadow", "t_other",   "t_divides",
    "fewer", "extra", "text",  "t_left", "with_default", "t_arg",    "t_runaway", "t_named_arg",
};

std::string run_all() {
  ScriptRunner runner(kScript);
  if (!runner.loaded()) return "<not loaded>";
  std::string transcript;
  for (const char* name : kTests)
    transcript += std::string(name) + "=" + runner.call(name) + "\n";
  for (const std::string& line : runner.errors())
    transcript += line + "\n";
  return transcript;
}

}  // namespace

TEST(CompiledRecursion, GivesTheRecordedResultsAndReports) {
  std::string compiled = run_all();
  EXPECT_EQ(transcript_digest(compiled), 0x93e45bafa4495367ull) << compiled;
  EXPECT_NE(compiled.find("t_fib=610\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_ack=9\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_wrap=2147483645\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_nothing=0\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_shadow=42\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_other=9\n"), std::string::npos);
  EXPECT_NE(compiled.find("extra=12\n"), std::string::npos);
  EXPECT_NE(compiled.find("text=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("with_default=3\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_divides=<failed>\n"), std::string::npos);
  EXPECT_NE(compiled.find("t_runaway=<failed>\n"), std::string::npos);
  // The failure deep in the recursion is reported where it happened, with one trace line for the
  // call that is no direct recursion.
  EXPECT_NE(compiled.find("### Error: Divide by ZERO : main.divides:(16)"), std::string::npos);
  EXPECT_NE(compiled.find("        at main.t_divides:(30)"), std::string::npos);
  EXPECT_NE(compiled.find("### Error: Stack overflow : main.runaway : runaway\n"),
            std::string::npos);
  EXPECT_NE(compiled.find("### Error: Argument error : main.two:(13)"), std::string::npos);
}

TEST(CompiledRecursion, ThreadsCompilingTheSameFunctionAgree) {
  ScriptRunner runner(
      "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
      "function run() { return fib(18); }");
  ASSERT_TRUE(runner.loaded());
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (std::string& result : results)
    threads.emplace_back([&runner, &result] { result = runner.call("run"); });
  for (std::thread& thread : threads)
    thread.join();
  for (const std::string& result : results)
    EXPECT_EQ(result, "2584");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(CompiledRecursion, AStopEndsALongCompiledCall) {
  ScriptRunner runner(
      "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
      "function run() { return fib(60); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call_and_stop("run"), "<failed>");
  EXPECT_TRUE(runner.errors().empty());  // a stop reports nothing
  EXPECT_EQ(stop_requested(), 0);
}

// Deep recursion of numbers works to 2000 calls, and far past the limit ends in one report.
TEST(CompiledRecursion, DeepRecursionEndsInAStackOverflow) {
  ScriptRunner runner(
      "function down(n) { if (n == 0) return 0; return down(n - 1) + 1; }\n"
      "function fine() { return down(2000); }\n"
      "function runaway() { return down(50000); }");
  ASSERT_TRUE(runner.loaded());
  std::string transcript = runner.call("fine") + "," + runner.call("runaway");
  for (const std::string& line : runner.errors())
    transcript += "\n" + line;
  EXPECT_EQ(transcript.rfind("2000,<failed>\n### Error: Stack overflow : main.down : down", 0), 0u)
      << transcript;
}
