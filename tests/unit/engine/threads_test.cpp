// Script threads sharing globals, and asynchronous calls.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/engine.h"
#include "platform/thread.h"
#include "support/script_runner.h"

namespace {

void wait_until_idle() {
  while (active_calls() != 0)
    yield_processor();
}

// Calls the function at once on `count` threads, thread t with the argument t; their results.
std::vector<std::string> call_on_threads(ScriptRunner& runner, const char* function, int count) {
  std::vector<std::string> results(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      results[static_cast<std::size_t>(t)] = runner.call(function, {std::to_string(t)});
    });
  }
  for (auto& thread : threads)
    thread.join();
  return results;
}

}  // namespace

TEST(ScriptThreads, AsynchronousCallsRunOnTheirOwnCopyOfTheArguments) {
  ScriptRunner runner(
      "result = \"\";\n"
      "function worker(v) { result = v; }\n"
      "function start() { x = \"a\"; id = &worker(x); x = \"b\"; return id; }");
  ASSERT_TRUE(runner.loaded());
  std::string id = runner.call("start");
  wait_until_idle();
  EXPECT_NE(id, "0");
  EXPECT_NE(id, "-1");
  EXPECT_NE(id, "<failed>");
  EXPECT_EQ(runner.global("result"), "a");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(ScriptThreads, AFailingThreadReportsLikeAnyCall) {
  ScriptRunner runner("function start() { return &nosuch(1); }");
  ASSERT_TRUE(runner.loaded());
  runner.call("start");
  wait_until_idle();
  // The thread's frame has no function name: the place is the module alone.
  EXPECT_EQ(runner.errors(),
            std::vector<std::string>{"### Error: Function not Found : main : nosuch"});
}

TEST(ScriptThreads, ReadersAndWritersOfGlobalsShareThemSafely) {
  // Run under the sanitizers: readers copy global strings while writers replace (and release) them.
  ScriptRunner runner(
      "g = \"init\"; h = 0; t[0] = 0;\n"
      "function writer(n) { for (i = 0; i < 3000; i++) { g = \"value\" + i + n; h = h + 1; t[\"k\" "
      "+ i % 50] = g; } }\n"
      "function reader() { n = 0; for (i = 0; i < 3000; i++) { s = g + \"\"; n = n + len(g) + "
      "len(t[\"k\" + i % 50]); "
      "if (g =~ \"^value\") n++; } return n; }");
  ASSERT_TRUE(runner.loaded());
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] { runner.call("writer", {std::to_string(t)}); });
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] { runner.call("reader"); });
  for (auto& thread : threads)
    thread.join();
  EXPECT_TRUE(runner.errors().empty());
  EXPECT_EQ(runner.global("g").rfind("value", 0), 0u);
  EXPECT_GT(std::stoi(runner.global("h")), 0);
}

TEST(ScriptThreads, ThreadsShareTheParsedCaptureTargetsOfALiteral) {
  // Run under the sanitizers: the first searches of one literal race to parse and keep its
  // targets, and every thread binds its own locals through them.
  ScriptRunner runner(
      "function parse(n) { ok = 0; for (i = 0; i < 400; i++) {\n"
      "  \"^%nick%!%user% %count%$\" = \"n\" + n + \"!u \" + i;\n"
      "  if (nick == \"n\" + n && user == \"u\" && count == \"\" + i) ok++; }\n"
      "  return ok; }");
  ASSERT_TRUE(runner.loaded());
  for (const std::string& result : call_on_threads(runner, "parse", 4))
    EXPECT_EQ(result, "400");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(ScriptThreads, ThreadsShareTheConstantsOfLiteralsReadInPlace) {
  // Run under the sanitizers: the first calls race to make the constant that a literal argument
  // of a reading built-in refers to; literal keys and case labels are read by every thread.
  ScriptRunner runner(
      "function count(text) { n = +text; ok = 0; for (i = 0; i < 400; i++) {\n"
      "  h[\"k\"] = len(\"abcd\") + instr(\"a,b\", \",\") + n;\n"
      "  switch (\"w\" + n % 2) { case \"w0\": case \"w1\": ok = ok + (h[\"k\"] == 5 + n); }\n"
      "  }\n"
      "  return ok; }");
  ASSERT_TRUE(runner.loaded());
  for (const std::string& result : call_on_threads(runner, "count", 4))
    EXPECT_EQ(result, "400");
  EXPECT_TRUE(runner.errors().empty());
}

TEST(ScriptThreads, AFailedGrowthOfAGlobalIsReportedAfterTheLockIsLetGo) {
  // The host shows a report on its own thread, which may wait for the ScriptSet lock meanwhile:
  // a thread that reported while holding that lock would never see its report shown.
  ScriptRunner runner(
      "g = \"\"; var big; for (i = 0; i < 40; i++) big[i] = i;\n"
      // Reads far into the long chain give it an index; the growth is then refused by it.
      "function grow() { for (i = 0; i < 8; i++) n = big[39]; big[30000000] = 1; }\n"
      "function set() { g = \"changed\"; return g; }",
      /*queued_host=*/true);
  ASSERT_TRUE(runner.loaded());
  std::thread grower([&] { runner.call("grow"); });
  while (runner.host().waiting() == 0)
    yield_processor();
  EXPECT_EQ(runner.call("set"), "changed");  // would wait for ever on a held lock
  while (runner.host().waiting() != 0)
    runner.host().serve_pending();
  grower.join();
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_EQ(runner.errors()[0].rfind("### Error: Alloc failed : main.grow", 0), 0u);
}
