// The line splitter alone (no script call): chat-like lines of 20 to 400 bytes ending in CR LF, and
// a peer that never sends a line break, whose carry must stay within its limit.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "connection/line_splitter.h"

namespace {

std::string chat_data(std::size_t size) {
  std::mt19937 random(19);
  std::uniform_int_distribution<int> length(20, 400);
  std::uniform_int_distribution<int> letter(0x20, 0x7E);
  std::string data;
  while (data.size() < size) {
    int count = length(random);
    for (int i = 0; i < count; ++i)
      data.push_back(static_cast<char>(letter(random)));
    data += "\r\n";
  }
  return data;
}

bool count_line(void* context, const char*, std::size_t length) {
  *static_cast<std::size_t*>(context) += length;
  return true;
}

// Received data arrives in chunks of the receive size, copied in as a receive would write it.
void BM_SplitChatLines(benchmark::State& state) {
  std::string data = chat_data(8 << 20);
  LineSplitter splitter{};
  std::size_t delivered = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < data.size(); at += RECEIVE_CHUNK) {
      std::size_t count = data.size() - at < RECEIVE_CHUNK ? data.size() - at : RECEIVE_CHUNK;
      splitter_push(&splitter, data.data() + at, count, count_line, &delivered);
    }
  }
  benchmark::DoNotOptimize(delivered);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  splitter_free(&splitter);
}
BENCHMARK(BM_SplitChatLines)->Unit(benchmark::kMillisecond);

// No line break ever: the buffer must not grow past the carry limit and one chunk.
void BM_SplitWithoutLineBreaks(benchmark::State& state) {
  std::string chunk(RECEIVE_CHUNK, 'x');
  LineSplitter splitter{};
  std::size_t delivered = 0;
  std::size_t largest = 0;
  for (auto _ : state) {
    for (int i = 0; i < 256; ++i) {
      splitter_push(&splitter, chunk.data(), chunk.size(), count_line, &delivered);
      if (splitter.capacity > largest) largest = splitter.capacity;
    }
  }
  benchmark::DoNotOptimize(delivered);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 256 * chunk.size()));
  state.counters["buffer_bytes"] = static_cast<double>(largest);
  state.counters["bytes_sent"] =
      static_cast<double>(state.iterations()) * 256.0 * static_cast<double>(chunk.size());
  splitter_free(&splitter);
}
BENCHMARK(BM_SplitWithoutLineBreaks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
