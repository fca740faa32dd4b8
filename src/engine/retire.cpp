#include "engine/retire.h"

#include <limits>
#include <mutex>
#include <new>

#include "engine/value.h"
#include "platform/memory.h"

namespace retire_detail {
constinit thread_local std::int32_t SharedReferences = 0;
constinit thread_local std::uint64_t Announced = 0;
std::atomic<std::uint64_t> Epoch{1};
}  // namespace retire_detail

namespace {

using retire_detail::Announced;
using retire_detail::Epoch;

enum class RetiredKind { Cell, Chain, Text };

struct RetiredEntry {
  RetiredKind kind;
  void* block;
  std::uint64_t epoch;  // the epoch of its retirement: safe once every thread announced a later one
  RetiredEntry* next;
};

// One per thread that has run script code; recycled when a thread ends, never freed.
struct ThreadSlot {
  std::atomic<std::uint64_t> announced{0};  // 0: the thread is outside script code
  std::atomic<bool> taken{false};
  ThreadSlot* next = nullptr;  // fixed once the slot is published
};

std::atomic<ThreadSlot*> Slots{nullptr};
// Threads in script code without a slot (none could be made): nothing is freed while there are any.
std::atomic<std::int32_t> UntrackedThreads{0};

std::mutex RetireLock;
RetiredEntry* Retired = nullptr;                                          // newest first
std::uint64_t OldestRetired = std::numeric_limits<std::uint64_t>::max();  // smallest epoch listed
std::atomic<std::int64_t> Backlog{0};
std::atomic<void (*)()> ScanHook{nullptr};

thread_local ThreadSlot* OwnSlot = nullptr;
thread_local std::int32_t Depth = 0;
thread_local bool Untracked = false;

// Gives the slot back when a thread that is not the engine's own ends.
struct SlotKeeper {
  bool armed = false;
  ~SlotKeeper() {
    if (armed) release_retire_slot();
  }
};
thread_local SlotKeeper Keeper;

ThreadSlot* own_slot() {
  if (OwnSlot != nullptr) return OwnSlot;
  ThreadSlot* slot = Slots.load(std::memory_order_acquire);
  for (; slot != nullptr; slot = slot->next) {
    bool free = false;
    if (slot->taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) break;
  }
  if (slot == nullptr) {
    void* block = alloc_zeroed(sizeof(ThreadSlot));
    if (block == nullptr) return nullptr;
    slot = new (block) ThreadSlot();
    slot->taken.store(true, std::memory_order_relaxed);
    ThreadSlot* head = Slots.load(std::memory_order_relaxed);
    do {
      slot->next = head;
    } while (!Slots.compare_exchange_weak(head, slot, std::memory_order_seq_cst,
                                          std::memory_order_relaxed));
  }
  OwnSlot = slot;
  Keeper.armed = true;
  return slot;
}

// Publishes the current epoch as this thread's: it holds nothing retired before it. The epoch is
// read again after the store: when it has not moved, the store comes before any later retirement
// in the single order of these operations, so the reclaimer of that retirement sees it; when it
// has moved, the announcement is made again with the newer epoch, whose retirements (their
// unlinks included) this thread has then seen.
void announce(ThreadSlot* slot) {
  std::uint64_t epoch = Epoch.load(std::memory_order_seq_cst);
  for (;;) {
    slot->announced.store(epoch, std::memory_order_seq_cst);
    std::uint64_t now = Epoch.load(std::memory_order_seq_cst);
    if (now == epoch) break;
    epoch = now;
  }
  Announced = epoch;
}

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
  // The block is unlinked already: a thread that announces a later epoch cannot reach it.
  entry->epoch = Epoch.fetch_add(1, std::memory_order_seq_cst);
  {
    std::lock_guard<std::mutex> guard(RetireLock);
    entry->next = Retired;
    Retired = entry;
    if (entry->epoch < OldestRetired) OldestRetired = entry->epoch;
  }
  Backlog.fetch_add(1, std::memory_order_release);
  // Outside script code this thread holds nothing; otherwise it frees at its next quiescent point.
  if (Announced == 0) release_retired();
}

}  // namespace

void retire_detail::announce_quiescent() {
  if (OwnSlot == nullptr) return;
  announce(OwnSlot);
  release_retired();
}

void retire_cell(ValueNode* cell) {
  retire(RetiredKind::Cell, cell);
}

void retire_chain(ValueNode* first) {
  retire(RetiredKind::Chain, first);
}

void retire_text(char* text) {
  retire(RetiredKind::Text, text);
}

void enter_script_code() {
  if (Depth++ > 0) return;
  // Outside script code a thread holds no reference: a count left over (a reference made before its
  // Value became shared, released after) must not keep it from ever being quiescent.
  retire_detail::SharedReferences = 0;
  ThreadSlot* slot = own_slot();
  if (slot == nullptr) {
    Untracked = true;
    UntrackedThreads.fetch_add(1, std::memory_order_seq_cst);
    return;
  }
  announce(slot);
}

void leave_script_code() {
  if (Depth <= 0 || --Depth > 0) return;
  retire_detail::SharedReferences = 0;
  if (Untracked) {
    Untracked = false;
    UntrackedThreads.fetch_sub(1, std::memory_order_seq_cst);
  } else if (OwnSlot != nullptr) {
    OwnSlot->announced.store(0, std::memory_order_seq_cst);
    Announced = 0;
  }
  release_retired();
}

QuiescentWait::QuiescentWait()
    : away_(retire_detail::SharedReferences == 0 && Announced != 0 && OwnSlot != nullptr) {
  if (!away_) return;
  OwnSlot->announced.store(0, std::memory_order_seq_cst);
  Announced = 0;
  release_retired();
}

QuiescentWait::~QuiescentWait() {
  if (away_ && OwnSlot != nullptr) announce(OwnSlot);
}

void release_retired() {
  if (Backlog.load(std::memory_order_acquire) == 0) return;
  if (UntrackedThreads.load(std::memory_order_seq_cst) != 0) return;
  // Every block retired before the oldest announced epoch is out of every thread's reach. The
  // scan reads each slot once, while threads come and go: a slot read as 0 may belong to a thread
  // that enters just after and walks a chain retired after that read. So the bound is also the
  // epoch before the scan: a thread whose announcement the scan missed announces that epoch or a
  // later one, and so has seen the unlinks of every block retired before it. The slot list is
  // read in the same single order, so a slot published before an announcement is not missed.
  std::uint64_t safe_below = Epoch.load(std::memory_order_seq_cst);
  for (ThreadSlot* slot = Slots.load(std::memory_order_seq_cst); slot != nullptr;
       slot = slot->next) {
    std::uint64_t announced = slot->announced.load(std::memory_order_seq_cst);
    if (announced != 0 && announced < safe_below) safe_below = announced;
  }
  if (auto* hook = ScanHook.load(std::memory_order_acquire); hook != nullptr) hook();
  RetiredEntry* batch = nullptr;
  std::int64_t freed = 0;
  {
    std::lock_guard<std::mutex> guard(RetireLock);
    if (OldestRetired >= safe_below) return;
    OldestRetired = std::numeric_limits<std::uint64_t>::max();
    RetiredEntry** link = &Retired;
    while (*link != nullptr) {
      RetiredEntry* entry = *link;
      if (entry->epoch < safe_below) {
        *link = entry->next;
        entry->next = batch;
        batch = entry;
        ++freed;
      } else {
        if (entry->epoch < OldestRetired) OldestRetired = entry->epoch;
        link = &entry->next;
      }
    }
  }
  Backlog.fetch_sub(freed, std::memory_order_release);
  free_entries(batch);
}

std::int64_t retired_backlog() {
  return Backlog.load(std::memory_order_acquire);
}

void release_retire_slot() {
  Keeper.armed = false;
  if (OwnSlot == nullptr) return;
  OwnSlot->announced.store(0, std::memory_order_seq_cst);
  OwnSlot->taken.store(false, std::memory_order_release);
  OwnSlot = nullptr;
  Announced = 0;
  Depth = 0;
}

void set_retire_scan_hook(void (*hook)()) {
  ScanHook.store(hook, std::memory_order_release);
}
