// A stack for walks over nested element chains. Hashes may nest to any depth, so walks that
// would recurse once per level keep their pending levels here instead of on the thread's stack.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/memory.h"

template <class Item>
class WalkStack {
 public:
  WalkStack() = default;
  WalkStack(const WalkStack&) = delete;
  WalkStack& operator=(const WalkStack&) = delete;
  ~WalkStack() {
    if (items_ != inline_items_) release(&items_);
  }

  bool empty() const { return count_ == 0; }
  // False when memory runs out (the stack is unchanged).
  bool push(const Item& item) {
    if (count_ == capacity_ && !grow()) return false;
    items_[count_++] = item;
    return true;
  }
  Item pop() { return items_[--count_]; }

 private:
  bool grow() {
    std::size_t capacity = capacity_ * 2;
    auto* grown = static_cast<Item*>(alloc_block(sizeof(Item) * capacity));
    if (grown == nullptr) return false;
    std::memcpy(static_cast<void*>(grown), items_, sizeof(Item) * count_);
    if (items_ != inline_items_) release(&items_);
    items_ = grown;
    capacity_ = capacity;
    return true;
  }

  static constexpr std::size_t kInline = 32;
  Item inline_items_[kInline];
  Item* items_ = inline_items_;
  std::size_t count_ = 0;
  std::size_t capacity_ = kInline;
};
