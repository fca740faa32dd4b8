// Feeds random bytes to the line splitter in random chunks, with a small line limit and failing
// consumers chosen by the input, and compares every delivered line with a byte-at-a-time model.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "connection/line_splitter.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

struct Consumer {
  std::vector<std::string> lines;
  std::uint32_t fail_mask;  // delivery i fails when bit i % 32 is set
};

bool take(void* context, const char* line, std::size_t length) {
  auto* consumer = static_cast<Consumer*>(context);
  check(line[length] == '\0');
  check(length > 0);
  consumer->lines.emplace_back(line, length);
  return ((consumer->fail_mask >> ((consumer->lines.size() - 1) % 32)) & 1) == 0;
}

// The splitter's rules one byte at a time.
struct Model {
  std::string current;
  std::vector<std::string> lines;
  std::uint32_t fail_mask;
  std::size_t limit;

  // False when the consumer failed: the rest of the chunk is dropped, and nothing is carried.
  bool deliver() {
    lines.push_back(current);
    current.clear();
    return ((fail_mask >> ((lines.size() - 1) % 32)) & 1) == 0;
  }
  void feed(const std::string& chunk) {
    for (char byte : chunk) {
      if (byte == '\0') return;
      if (byte == '\r' || byte == '\n') {
        if (!current.empty() && !deliver()) return;
      } else {
        current.push_back(byte);
        if (current.size() == limit && !deliver()) return;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::size_t limit = data[0] % 2 == 0 ? 1 + (data[0] / 2) % 64 : CARRY_LIMIT;
  std::uint32_t fail_mask = static_cast<std::uint32_t>(data[1]) << (data[2] % 24);
  if (data[3] % 4 != 0) fail_mask = 0;
  // Bytes are drawn mostly from a small alphabet so that breaks and NULs are common.
  bool small_alphabet = data[4] % 2 == 0;
  data += 5;
  size -= 5;

  LineSplitter splitter{};
  splitter.limit = limit == CARRY_LIMIT ? 0 : limit;
  Consumer consumer{{}, fail_mask};
  Model model{{}, {}, fail_mask, limit};
  std::size_t at = 0;
  while (at < size) {
    std::size_t length = data[at++] % 48;
    if (length > size - at) length = size - at;
    std::string chunk;
    for (std::size_t i = 0; i < length; ++i) {
      std::uint8_t byte = data[at + i];
      if (small_alphabet) byte = static_cast<std::uint8_t>("ab\r\n\0\x82\x5c"[byte % 7]);
      chunk.push_back(static_cast<char>(byte));
    }
    at += length;
    check(splitter_push(&splitter, chunk.data(), chunk.size(), take, &consumer));
    model.feed(chunk);
    check(consumer.lines == model.lines);
    check(std::string(splitter.buffer, splitter.carry) == model.current);
    check(splitter.carry < limit);
  }
  splitter_free(&splitter);
  return 0;
}
