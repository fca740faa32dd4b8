// The locale, time difference and sleep built-ins, and stops that reach a script paused in sleep,
// also inside a script started by execscript.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "builtins/time.h"
#include "engine/engine.h"
#include "platform/thread.h"
#include "support/script_runner.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls `name` on a thread of its own, stops all scripts once it has paused for a while, and
// gives the call's result and how long the stop took.
std::string stop_while_paused(ScriptRunner* runner, const char* name,
                              const std::vector<std::string>& arguments,
                              Clock::duration* stop_took) {
  std::string result;
  std::thread script([&] { result = runner->call(name, arguments); });
  while (active_calls() == 0)
    yield_processor();
  sleep_milliseconds(1500);  // well inside the pause
  Clock::time_point begin = Clock::now();
  stop_all_scripts(runner->host().host());
  *stop_took = Clock::now() - begin;
  script.join();
  return result;
}

constexpr const char* kStamps =
    "function stamp(&t, s, ms) {\n"
    "  t[\"year\"] = 2024; t[\"month\"] = 3; t[\"day\"] = 5;\n"
    "  t[\"hour\"] = 9; t[\"minute\"] = 0; t[\"second\"] = s; t[\"milliseconds\"] = ms;\n"
    "}\n";

}  // namespace

TEST(Sleep, EndsWithinAboutASecondOfAStop) {
  ScriptRunner runner("function nap() { sleep(60); return 1; }");
  ASSERT_TRUE(runner.loaded());
  Clock::duration stop_took{};
  EXPECT_EQ(stop_while_paused(&runner, "nap", {}, &stop_took), "<failed>");
  // At most one second of the pause remains; the rest is room for a loaded machine.
  EXPECT_LT(stop_took, std::chrono::seconds(5));
  // A stopped sleep fails without a report.
  EXPECT_TRUE(runner.errors().empty());
  // After the stop, scripts run again and a short sleep returns normally.
  EXPECT_EQ(runner.eval("sleep(0) + sleep(-1)"), "0");
}

TEST(Sleep, StopReachesAScriptStartedByExecscript) {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("lumo_exec_" + std::to_string(current_thread_id()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "nap.lum") << "function main() { sleep(60); return 7; }\n";
  ScriptRunner runner("function t(d) { return execscript(d, \"nap.lum\"); }");
  ASSERT_TRUE(runner.loaded());
  Clock::duration stop_took{};
  // The stopped main counts as a failed call: execscript gives -1, and the caller's return
  // statement, already under way, passes it on.
  EXPECT_EQ(stop_while_paused(&runner, "t", {folder.string()}, &stop_took), "-1");
  EXPECT_LT(stop_took, std::chrono::seconds(5));
  EXPECT_TRUE(runner.errors().empty());
  std::filesystem::remove_all(folder);
}

TEST(Locale, SetlocaleBuildsTheLanguageIdentifier) {
  ScriptRunner runner("x = 0;");
  EXPECT_EQ(runner.eval("setlocale(9, 1)"), "0");
  EXPECT_EQ(script_locale(), 0x0409u);
  EXPECT_EQ(runner.eval("getlocale()"), "9");
  // The sublanguage keeps its low 8 bits, the identifier its low 16.
  runner.eval("setlocale(17, 0x301)");
  EXPECT_EQ(script_locale(), 0x0411u);
  runner.eval("setlocale(0x10011, 0)");
  EXPECT_EQ(script_locale(), 0x0011u);
  // 0 takes the user's default again at the next read.
  runner.eval("setlocale(0)");
  EXPECT_NE(script_locale(), 0u);
  EXPECT_EQ(runner.eval("getlocale()"), std::to_string(script_locale() & 0x3FF));
}

TEST(Difftime, TruncatesTowardZero) {
  std::string text = std::string(kStamps) +
                     "stamp(a, 0, 1); stamp(b, 1, 0); stamp(c, 2, 999); stamp(d, 0, 0);\n"
                     "function t() { return difftime(a, b) + \" \" + difftime(b, a) + \" \" +\n"
                     "  difftime(c, d) + \" \" + difftime(d, c) + \" \" + comparetime(d, c); }\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  // -0.999 s and 0.999 s give 0; 2.999 s gives 2 either way round.
  EXPECT_EQ(runner.call("t"), "0 0 2 -2 -2");
}
