#include "builtins/handles.h"

#include <atomic>

std::int32_t next_handle_number() {
  static std::atomic<std::uint32_t> counter{0};
  for (;;) {
    // After 2^31 handles the numbers start again at 1; the tables skip numbers still in use.
    std::uint32_t number = (counter.fetch_add(1, std::memory_order_relaxed) + 1) & 0x7FFFFFFFu;
    if (number != 0) return static_cast<std::int32_t>(number);
  }
}
