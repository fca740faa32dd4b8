// A reload racing script threads: threads that keep starting more threads, and that deliver to a
// host which serves only while it waits, must never run against a ScriptSet that a reload has
// released. The sanitizer builds turn any such use into a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/engine.h"
#include "engine/events.h"
#include "engine/loader.h"
#include "engine/script.h"
#include "support/test_host.h"

namespace fs = std::filesystem;

TEST(ReloadRace, ThreadsStartedAroundAStopNeverOutliveTheirScriptSet) {
  engine_start();
  fs::path folder =
      fs::temp_directory_path() / ("lumo-reload-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  // Each thread starts the next before it reports, so a start always races the stop.
  std::ofstream(folder / "main.lum", std::ios::binary)
      << "count = 0;\n"
         "function spawn(n) { &spawn(n + 1); &spawn(n + 1); count = count + 1;"
         " if (n % 8 == 0) error(\"tick\"); }\n";
  std::string directory = folder.string();
  for (char& c : directory) {
    if (c == '/') c = '\\';
  }

  TestHost host(true);  // deliveries from script threads wait until this thread serves them
  Script* set = nullptr;
  for (int reload = 0; reload < 30; ++reload) {
    // What the host does on a reload: stop, then replace the ScriptSet under the engine lock.
    stop_all_scripts(host.host());
    EXPECT_EQ(active_calls(), 0);
    {
      EngineLockGuard engine;
      release_script_set(&set);
      set = create_script_set(0);
      set->host = host.host();
      ASSERT_EQ(load_script_file(set, directory.c_str(), "main.lum"), 1);
    }
    ASSERT_TRUE(run_top_level(set));
    for (int i = 0; i < 4; ++i)
      EXPECT_GT(start_event_thread(set->next, nullptr, "spawn", nullptr, 0, 0), 0);
    host.serve_pending();
  }
  stop_all_scripts(host.host());
  EXPECT_EQ(active_calls(), 0);
  release_script_set(&set);
  host.serve_pending();
  fs::remove_all(folder);
}
