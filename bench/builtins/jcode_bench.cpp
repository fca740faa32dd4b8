// Throughput of the Base64 and Shift_JIS <-> JIS converters over 64 KiB of input.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "builtins/jcode.h"

namespace {

constexpr std::size_t kInputSize = 64 * 1024;

// Japanese text as chat lines carry it: runs of two-byte characters and half-width katakana
// between ASCII words, so the JIS side switches modes often.
std::vector<unsigned char> japanese_text() {
  std::vector<unsigned char> text;
  unsigned trail = 0x40;
  while (text.size() < kInputSize) {
    for (const char* word = "hello, "; *word != '\0'; ++word)
      text.push_back(static_cast<unsigned char>(*word));
    for (int i = 0; i < 6; ++i) {
      text.push_back(0x88 + i);
      text.push_back(static_cast<unsigned char>(trail));
      trail = trail == 0xFC ? 0x40 : trail == 0x7E ? 0x80 : trail + 1;
    }
    text.push_back(0xB6);
    text.push_back(0xDE);
  }
  return text;
}

std::vector<unsigned char> random_bytes() {
  std::vector<unsigned char> bytes(kInputSize);
  unsigned state = 12345;
  for (unsigned char& byte : bytes) {
    state = state * 1103515245 + 12345;
    byte = static_cast<unsigned char>(state >> 16);
  }
  return bytes;
}

void BM_Base64Encode(benchmark::State& state) {
  std::vector<unsigned char> input = random_bytes();
  std::string out(base64_encode_capacity(input.size()), '\0');
  for (auto _ : state)
    benchmark::DoNotOptimize(base64_encode(input.data(), input.size(), out.data()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_Base64Encode);

void BM_Base64Decode(benchmark::State& state) {
  std::vector<unsigned char> bytes = random_bytes();
  std::string input(base64_encode_capacity(bytes.size()), '\0');
  input.resize(base64_encode(bytes.data(), bytes.size(), input.data()));
  std::vector<unsigned char> out(input.size());
  for (auto _ : state)
    benchmark::DoNotOptimize(base64_decode(input.data(), input.size(), out.data()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_Base64Decode);

void BM_SjisToJis(benchmark::State& state) {
  std::vector<unsigned char> input = japanese_text();
  std::vector<unsigned char> out(sjis_to_jis_capacity(input.size()));
  for (auto _ : state)
    benchmark::DoNotOptimize(sjis_to_jis(input.data(), input.size(), out.data()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_SjisToJis);

void BM_JisToSjis(benchmark::State& state) {
  std::vector<unsigned char> text = japanese_text();
  std::vector<unsigned char> input(sjis_to_jis_capacity(text.size()));
  input.resize(sjis_to_jis(text.data(), text.size(), input.data()));
  std::vector<unsigned char> out(input.size());
  for (auto _ : state)
    benchmark::DoNotOptimize(jis_to_sjis(input.data(), input.size(), out.data()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_JisToSjis);

}  // namespace

BENCHMARK_MAIN();
