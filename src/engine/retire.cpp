#include "engine/retire.h"

#include <atomic>
#include <mutex>

#include "engine/engine.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

enum class RetiredKind { Cell, Chain, Text };

struct RetiredEntry {
  RetiredKind kind;
  void* block;
  RetiredEntry* next;
};

std::mutex RetireLock;
RetiredEntry* Retired = nullptr;
// Lets the frequent count_call(-1) skip the lock when nothing waits.
std::atomic<bool> RetiredPending{false};

void free_entries(RetiredEntry* entry) {
  while (entry != nullptr) {
    RetiredEntry* next = entry->next;
    switch (entry->kind) {
      case RetiredKind::Cell:
        free_node(static_cast<ValueNode*>(entry->block));
        break;
      case RetiredKind::Chain:
        free_chain(static_cast<ValueNode*>(entry->block));
        break;
      case RetiredKind::Text:
        free_block(entry->block);
        break;
    }
    release(&entry);
    entry = next;
  }
}

void retire(RetiredKind kind, void* block) {
  if (block == nullptr) return;
  auto* entry = alloc_record<RetiredEntry>();
  // Without memory for the record the block is leaked: freeing it under a walker would be worse.
  if (entry == nullptr) return;
  entry->kind = kind;
  entry->block = block;
  {
    std::lock_guard<std::mutex> guard(RetireLock);
    entry->next = Retired;
    Retired = entry;
    RetiredPending.store(true, std::memory_order_release);
  }
  // Retired outside any counted call (no walker can exist): free at once.
  release_retired();
}

}  // namespace

void retire_cell(ValueNode* cell) {
  retire(RetiredKind::Cell, cell);
}

void retire_chain(ValueNode* first) {
  retire(RetiredKind::Chain, first);
}

void retire_text(char* text) {
  retire(RetiredKind::Text, text);
}

void release_retired() {
  if (!RetiredPending.load(std::memory_order_acquire)) return;
  RetiredEntry* batch = nullptr;
  {
    // The count is tested under the lock that retiring takes: everything on the list was unlinked
    // by a call, and when no call is active no walker can still stand on it. A call that starts
    // later begins at the chain heads, where these cells no longer are.
    std::lock_guard<std::mutex> guard(RetireLock);
    if (active_calls() != 0) return;
    batch = Retired;
    Retired = nullptr;
    RetiredPending.store(false, std::memory_order_relaxed);
  }
  free_entries(batch);
}
