// The stop protocol and script threads sharing globals.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/script.h"
#include "platform/thread.h"
#include "support/test_host.h"

namespace {

// What a running script does at every step: fail as soon as a stop is requested.
void run_until_stopped(std::atomic<bool>* started) {
  count_call(1);
  started->store(true);
  while (!stop_requested())
    yield_processor();
  count_call(-1);
}

}  // namespace

TEST(StopProtocol, EndsAnEndlessLoopAndClearsTheFlag) {
  std::atomic<bool> started{false};
  std::thread script(run_until_stopped, &started);
  while (!started.load())
    yield_processor();
  EXPECT_EQ(active_calls(), 1);
  stop_all_scripts();
  EXPECT_EQ(active_calls(), 0);
  EXPECT_EQ(stop_requested(), 0);
  script.join();
}

TEST(StopProtocol, ReturnsAtOnceWhenNothingRuns) {
  stop_all_scripts();
  EXPECT_EQ(stop_requested(), 0);
  EXPECT_EQ(active_calls(), 0);
}

TEST(StopProtocol, ServesAThreadBlockedInAHostDelivery) {
  // The host serves deliveries only on its own thread, like a window. A script thread that passed
  // its stop test just before the stop began is blocked in a delivery; the stop must serve it.
  TestHost test_host(/*queued=*/true);
  ScriptFixture scripts(test_host.host());
  Script* main_module = scripts.add_module("main");
  std::thread script([&] {
    count_call(1);
    CallContext frame = make_frame(main_module, "recv");
    report_error(&frame, "Divide by ZERO", nullptr, 0);
    count_call(-1);
  });
  while (test_host.waiting() == 0)
    yield_processor();
  stop_all_scripts(test_host.host());
  EXPECT_EQ(active_calls(), 0);
  script.join();
  EXPECT_EQ(test_host.error_lines(),
            std::vector<std::string>{"### Error: Divide by ZERO : main.recv"});
}

TEST(StopProtocol, TheEngineLockIsRecursive) {
  lock_engine();
  lock_engine();
  unlock_engine();
  unlock_engine();
  EngineLockGuard guard;
  EXPECT_EQ(stop_requested(), 0);
}

TEST(SharedGlobals, ThreadsCreateElementsAndAssignScalarsWithoutLosingAny) {
  ScriptFixture scripts;
  Script* main_module = scripts.add_module("main");
  ValueNode* hash = scripts.add_global(main_module, "table", 0);  // shared
  constexpr int kThreads = 4;
  constexpr int kKeys = 1000;
  constexpr int kPositions = 300;

  std::atomic<int> ready{0};
  // The cell each thread got for each key: all threads must get the same one.
  std::vector<std::vector<ValueNode*>> got(kThreads, std::vector<ValueNode*>(kKeys));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CallContext frame = make_frame(main_module, "recv");
      // Start together so that the threads really race for the same missing keys.
      ready.fetch_add(1);
      while (ready.load() < kThreads)
        yield_processor();
      for (int i = 0; i < kKeys; ++i) {
        // Every thread asks for every key: each must exist exactly once afterwards.
        int key_index = (i + t * 3) % kKeys;
        std::string key = "k" + std::to_string(key_index);
        Value key_value{};
        key_value.data.text = key.data();
        key_value.is_string = 1;
        ValueNode* cell = element_by_key(&frame, hash, &key_value);
        ASSERT_NE(cell, nullptr);
        got[t][key_index] = cell;
        Value text{};
        std::string payload = "thread" + std::to_string(t);
        text.data.text = payload.data();
        text.is_string = 1;
        assign_value(&frame, cell->value, &text);
        Value number{};
        number.data.number = i;
        assign_value(&frame, hash->value, &number);
      }
      Value position{};
      position.data.number = kKeys + kPositions - 1 - t;
      ASSERT_NE(element_by_key(&frame, hash, &position), nullptr);
    });
  }
  for (auto& thread : threads)
    thread.join();

  std::set<std::string> keys;
  std::set<ValueNode*> cells;
  int count = 0;
  for (ValueNode* cell = hash->elements; cell != nullptr; cell = cell->next, ++count) {
    cells.insert(cell);
    EXPECT_EQ(cell->value->shared, 1);
    if (cell->name != nullptr) {
      EXPECT_TRUE(keys.insert(cell->name).second) << "duplicate key " << cell->name;
      ASSERT_EQ(cell->value->is_string, 1);
      EXPECT_EQ(std::string(cell->value->data.text).rfind("thread", 0), 0u);
    }
  }
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(kKeys));
  for (int i = 0; i < kKeys; ++i) {
    EXPECT_EQ(cells.count(got[0][i]), 1u) << "key " << i << " was lost";
    for (int t = 1; t < kThreads; ++t)
      EXPECT_EQ(got[t][i], got[0][i]) << "key " << i;
  }
  EXPECT_EQ(count, kKeys + kPositions);  // positions extend past the keyed elements
  EXPECT_EQ(hash->value->is_string, 0);
  EXPECT_GE(hash->value->data.number, 0);
  EXPECT_LT(hash->value->data.number, kKeys);
}
