// Deferred release of cells unlinked from chains that other script threads may still be walking.
//
// A global hash is walked without a lock. When one thread unlinks elements from it, another may be
// standing on one of them, so they are not freed at once. Reclamation goes by epochs: a retired
// block is tagged with the epoch of its retirement, and each thread inside script code announces
// the epoch it has seen at its quiescent points, where it holds no pointer into a shared chain.
// A block is freed once every thread in script code has announced a later epoch (or left script
// code), so memory waiting here is bounded by what the threads can still reach, not by how long
// some other thread runs.
//
// A thread holds pointers into shared chains only through references to shared Values (value-stack
// entries, reference parameters, pending updates); it counts those it holds, and a point between
// statements is quiescent only while that count is 0.
#pragma once

#include <atomic>
#include <cstdint>

#include "lumo/extension.h"

namespace retire_detail {
// References to shared Values this thread holds now.
extern thread_local constinit std::int32_t SharedReferences;
// The epoch this thread announced last; 0 outside script code.
extern thread_local constinit std::uint64_t Announced;
// Advanced by every retirement.
extern std::atomic<std::uint64_t> Epoch;
void announce_quiescent();
}  // namespace retire_detail

// Frees the cell with everything it owns (never following `next`) once no thread can reach it.
void retire_cell(ValueNode* cell);
// Frees a whole chain along `next` once no thread can reach it.
void retire_chain(ValueNode* first);
// Releases a string (an element's old key) once no thread can reach it.
void retire_text(char* text);

// Script code begins and ends on this thread (nestable: the outermost pair counts). Only inside
// may a thread take pointers into shared chains; outside it holds none.
void enter_script_code();
void leave_script_code();

// Holds this thread in script code for a scope.
class ScriptCodeScope {
 public:
  ScriptCodeScope() { enter_script_code(); }
  ~ScriptCodeScope() { leave_script_code(); }
  ScriptCodeScope(const ScriptCodeScope&) = delete;
  ScriptCodeScope& operator=(const ScriptCodeScope&) = delete;
};

// A reference to a shared Value is made (+1) or released (-1) by this thread.
inline void count_shared_reference(std::int32_t delta) {
  retire_detail::SharedReferences += delta;
}

// A point between statements or loop passes. When this thread holds no reference into a shared
// chain and blocks have been retired since its last announcement, it announces the new epoch, and
// frees what that makes safe. Cheap otherwise: two loads.
inline void quiescent_point() {
  if (retire_detail::SharedReferences == 0 && retire_detail::Announced != 0 &&
      retire_detail::Epoch.load(std::memory_order_relaxed) != retire_detail::Announced) {
    retire_detail::announce_quiescent();
  }
}

// Lets retired blocks go while this thread waits (a delivery to the host, a sleep): when it holds
// no reference into a shared chain it touches none until the wait ends, so for that time it counts
// as outside script code.
class QuiescentWait {
 public:
  QuiescentWait();
  ~QuiescentWait();
  QuiescentWait(const QuiescentWait&) = delete;
  QuiescentWait& operator=(const QuiescentWait&) = delete;

 private:
  bool away_;
};

// Frees every retired block that no thread can reach any more.
void release_retired();
// Retired blocks not freed yet (for tests and benchmarks).
std::int64_t retired_backlog();
// The thread is ending: gives its announcement slot back.
void release_retire_slot();
// For tests: called by release_retired between reading the announcements and collecting the
// blocks, where other threads may come and go. Null (the default) for none.
void set_retire_scan_hook(void (*hook)());
