// The numbers that scripts hold for open files and directory searches. Only numbers issued by a
// table and not yet closed stand for anything; every other number (0, a closed handle, a handle
// of the other kind) finds nothing. A number comes back only after 2^31 further handles, so a
// stale number does not reach a later object.
//
// Objects are shared: a thread that found one keeps it alive while another thread closes its
// handle, and the object is released when the last user lets go.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

// The next handle number, unique among the handles of every kind (1, 2, 3, ...).
std::int32_t next_handle_number();

template <class T>
class HandleTable {
 public:
  // The handle of a new object; 0 for a null object.
  std::int32_t issue(std::shared_ptr<T> object) {
    if (object == nullptr) return 0;
    std::lock_guard<std::mutex> guard(mutex_);
    std::int32_t number = next_handle_number();
    while (entries_.count(number) != 0)
      number = next_handle_number();
    entries_.emplace(number, std::move(object));
    return number;
  }
  // The object of a handle, or null.
  std::shared_ptr<T> find(std::int32_t number) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto entry = entries_.find(number);
    return entry == entries_.end() ? nullptr : entry->second;
  }
  // Ends a handle: its object, now no longer found, or null when the number stands for nothing.
  std::shared_ptr<T> take(std::int32_t number) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto entry = entries_.find(number);
    if (entry == entries_.end()) return nullptr;
    std::shared_ptr<T> object = std::move(entry->second);
    entries_.erase(entry);
    return object;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::int32_t, std::shared_ptr<T>> entries_;
};
