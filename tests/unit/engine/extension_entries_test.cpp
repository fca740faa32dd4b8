// The engine's entries for extensions, through the example extension: a global written by it on
// some threads while others read it (the utf8 extension among them) and assign it. Meant for
// ThreadSanitizer (a write into the Value outside the locks) and AddressSanitizer (an old text
// freed under a reader).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/extension_table.h"
#include "support/script_runner.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kPasses = 300;
#else
constexpr int kPasses = 3000;
#endif

// A built extension, named as a script names a path.
std::string script_path(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

}  // namespace

TEST(ExtensionEntries, TableIsVersionedAndComplete) {
  const LumoEngineTable* table = engine_table();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->size, sizeof(LumoEngineTable));
  EXPECT_EQ(table->version, static_cast<std::uint32_t>(LUMO_ENGINE_TABLE_VERSION));
  EXPECT_TRUE(LUMO_ENGINE_HAS(table, set_number));
  EXPECT_TRUE(LUMO_ENGINE_HAS(table, set_text));
  EXPECT_TRUE(LUMO_ENGINE_HAS(table, number_of));
  EXPECT_TRUE(LUMO_ENGINE_HAS(table, copy_text));
  // A table filled by an engine that stopped after the first entry.
  LumoEngineTable older = *table;
  older.size = static_cast<std::uint32_t>(offsetof(LumoEngineTable, set_text));
  EXPECT_TRUE(LUMO_ENGINE_HAS(&older, set_number));
  EXPECT_FALSE(LUMO_ENGINE_HAS(&older, set_text));
  const LumoEngineTable* none = nullptr;
  EXPECT_FALSE(LUMO_ENGINE_HAS(none, set_number));
}

TEST(ExtensionEntries, GlobalWrittenByAnExtensionWhileThreadsReadAndAssignIt) {
  std::string text = "#library(\"" + script_path(LUMO_EXAMPLE_EXTENSION) + "\")\n#library(\"" +
                     script_path(LUMO_UTF8_EXTENSION) +
                     "\")\n"
                     "g = \"start\"; n = 1; done = 0;\n"
                     "function writer(passes) { p = int(passes);\n"
                     "  for (i = 0; i < p; i++) { ext_store(g, \"text \" + i); ext_double(n);\n"
                     "    if (n == 0) n = 1; } done++; }\n"
                     "function assigner(passes) { p = int(passes);\n"
                     "  for (i = 0; i < p; i++) { g = \"text by assignment \" + i; n = i + 1; }\n"
                     "  done++; }\n"
                     "function reader(passes) { p = int(passes); bad = 0;\n"
                     "  for (i = 0; i < p; i++) { t = g + \"\"; x = n + 0; u = utf8tosjis(g);\n"
                     "    if (t != \"start\" && left(t, 5) != \"text \") bad++; }\n"
                     "  done++; return bad; }\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  ASSERT_EQ(runner.errors(), std::vector<std::string>{});

  const std::string passes = std::to_string(kPasses);
  std::vector<std::string> results(6);
  std::vector<std::thread> threads;
  const char* const kRoles[] = {"writer", "writer", "assigner", "reader", "reader", "reader"};
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&runner, &results, &passes, i, role = kRoles[i]] {
      results[i] = runner.call(role, {passes});
    });
  }
  for (auto& thread : threads)
    thread.join();

  EXPECT_EQ(runner.errors(), std::vector<std::string>{});
  EXPECT_EQ(active_calls(), 0);
  EXPECT_EQ(runner.global("done"), "6");
  for (std::size_t i = 3; i < results.size(); ++i)
    EXPECT_EQ(results[i], "0") << "reader " << i;
  EXPECT_EQ(runner.global("g").rfind("text ", 0), 0u) << runner.global("g");
}
