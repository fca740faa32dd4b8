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
