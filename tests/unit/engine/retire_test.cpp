// Deferred release: a block retired while another thread may stand on it outlives that thread's
// stay in script code, whatever the order in which threads come and go around a reclamation.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/retire.h"
#include "engine/value.h"

namespace {

// A thread that is outside script code when a reclamation reads the announcements, enters and
// takes a cell just after, and stays until told to leave.
struct LateWalker {
  std::atomic<int> phase{0};  // 5: ready; 1: enter and take; 2: entered; 3: leave; 4: left
  ValueNode* cell = nullptr;
  std::thread thread;

  void start() {
    thread = std::thread([this] {
      enter_script_code();  // makes this thread's slot, then leaves it empty
      leave_script_code();
      phase.store(5);
      wait_for(1);
      enter_script_code();
      cell = make_node();
      set_string_value(cell->value, "walked on");
      phase.store(2);
      wait_for(3);
      leave_script_code();
      phase.store(4);
    });
  }
  void wait_for(int wanted) const {
    while (phase.load() != wanted)
      std::this_thread::yield();
  }
};

LateWalker* Walker = nullptr;
std::atomic<bool> HookFired{false};

// Between the scan and the collection: the walker enters and takes a cell, and a third thread,
// outside script code, retires that cell.
void enter_between_scan_and_collect() {
  if (HookFired.exchange(true)) return;
  Walker->phase.store(1);
  Walker->wait_for(2);
  std::thread([] { retire_cell(Walker->cell); }).join();
}

}  // namespace

TEST(RetiredCells, AThreadEnteringDuringAReclamationKeepsWhatItReaches) {
  LateWalker walker;
  Walker = &walker;
  walker.start();
  walker.wait_for(5);
  ASSERT_EQ(retired_backlog(), 0);

  // Something retired, so that leaving script code reclaims, with the hook in the middle.
  enter_script_code();
  ValueNode* earlier = make_node();
  ASSERT_NE(earlier, nullptr);
  retire_cell(earlier);
  set_retire_scan_hook(enter_between_scan_and_collect);
  leave_script_code();
  set_retire_scan_hook(nullptr);
  ASSERT_TRUE(HookFired.load());

  // The walker still stands on its cell: it must not have been freed.
  EXPECT_EQ(retired_backlog(), 1);
  EXPECT_STREQ(walker.cell->value->data.text, "walked on");

  walker.phase.store(3);
  walker.wait_for(4);
  walker.thread.join();
  release_retired();
  EXPECT_EQ(retired_backlog(), 0);
}
