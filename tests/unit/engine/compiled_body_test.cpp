// Function bodies of plain statements run compiled: calls nest deep and end in a report past the
// limit, and threads that make the first calls at once share one compiled form.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/syntax_node.h"
#include "engine/engine.h"
#include "engine/function_index.h"
#include "support/script_runner.h"

namespace {

// Not a function of numbers alone (it names a string): it runs compiled, not as a numeric one.
const char* const kDown =
    "function down(n) { s = \"x\"; if (n == 0) return 0; return down(n - 1) + len(s); }\n"
    "function fine() { return down(2000); }\n"
    "function runaway() { return down(50000); }";

std::string transcript() {
  ScriptRunner runner(kDown);
  EXPECT_TRUE(runner.loaded());
  std::string text = runner.call("fine") + "," + runner.call("runaway");
  for (const std::string& line : runner.errors())
    text += "\n" + line;
  return text;
}

}  // namespace

TEST(CompiledBodies, RecursionGoesDeepAndEndsInAStackOverflow) {
  std::string compiled = transcript();
  EXPECT_EQ(compiled.rfind("2000,<failed>\n### Error: Stack overflow : main.down : down", 0), 0u)
      << compiled;
}

TEST(CompiledBodies, ThreadsMakingTheFirstCallsAtOnceShareOneForm) {
  // Run under the sanitizers: every thread's first call races to compile and publish the body,
  // and each thread keeps activation records of its own.
  ScriptRunner runner(
      "function word(n) { if (n % 2 == 0) return \"even\"; return \"odd\"; }\n"
      "function walk(t) {\n"
      "  s = \"\";\n"
      "  n = int(t);\n"
      "  for (i = 0; i < 200; i++) { if (word(i + n) == \"even\") s = s + \"e\"; }\n"
      "  return len(s);\n"
      "}");
  ASSERT_TRUE(runner.loaded());
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      results[static_cast<std::size_t>(t)] = runner.call("walk", {std::to_string(t)});
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (const std::string& result : results)
    EXPECT_EQ(result, "100");
  EXPECT_TRUE(runner.errors().empty());
}

// Code of a shape that no parse makes (here an if whose jump lost its target) is no crash and no
// silent skip: its compiled form reports a "Sentence error" where it stands, at every call.
TEST(CompiledBodies, CodeOfAShapeNoParseMakesIsReported) {
  ScriptRunner runner(
      "function f(n) {\n"
      "  lineecho(0, \"before\");\n"
      "  if (n) n = 2;\n"
      "  return n;\n"
      "}\n");
  ASSERT_TRUE(runner.loaded());
  FunctionEntry* entry = find_function(runner.script_set()->next, "f");
  ASSERT_NE(entry, nullptr);
  SyntaxNode* call = entry->definition;
  while (call->next != nullptr && call->next->kind != NodeKind::FunctionEnd)
    call = call->next;
  SyntaxNode* jump = call->body;
  while (jump != nullptr && jump->kind != NodeKind::Jump)
    jump = jump->next;
  ASSERT_NE(jump, nullptr);
  jump->target = nullptr;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(runner.call("f", {"1"}), "<failed>");
    ASSERT_EQ(runner.errors().size(), static_cast<std::size_t>(i + 1));
    EXPECT_EQ(runner.errors()[i].rfind("### Error: Sentence error : main.f:(3)", 0), 0u)
        << runner.errors()[i];
  }
  for (const Delivery& delivery : runner.host().deliveries())
    EXPECT_EQ(delivery.text.find("before"), std::string::npos);  // nothing of the body ran
}
