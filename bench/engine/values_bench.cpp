// Costs of the value records: keyed lookup in a hash (one signature compare per cell), element
// creation, and deep copy.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/value.h"
#include "platform/memory.h"

namespace {

ValueNode* make_hash(int size, std::vector<std::string>* keys) {
  ValueNode* hash = make_node();
  for (int i = 0; i < size; ++i) {
    keys->push_back("key" + std::to_string(i));
    Value key{};
    key.data.text = keys->back().data();
    key.is_string = 1;
    element_by_key(nullptr, hash, &key);
  }
  return hash;
}

void BM_ElementByKeyHit(benchmark::State& state) {
  std::vector<std::string> keys;
  keys.reserve(state.range(0));
  ValueNode* hash = make_hash(static_cast<int>(state.range(0)), &keys);
  std::size_t next = 0;
  for (auto _ : state) {
    Value key{};
    key.data.text = keys[next].data();
    key.is_string = 1;
    benchmark::DoNotOptimize(element_by_key(nullptr, hash, &key));
    next = (next + 1) % keys.size();
  }
  free_node(hash);
}
BENCHMARK(BM_ElementByKeyHit)->Arg(16)->Arg(256)->Arg(4096);

void BM_CopyChain(benchmark::State& state) {
  std::vector<std::string> keys;
  keys.reserve(state.range(0));
  ValueNode* hash = make_hash(static_cast<int>(state.range(0)), &keys);
  bool failed = false;
  for (auto _ : state)
    free_chain(copy_chain(hash->elements, &failed));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  free_node(hash);
}
BENCHMARK(BM_CopyChain)->Arg(1000);

void BM_NumberToText(benchmark::State& state) {
  std::int32_t n = -2147483647;
  for (auto _ : state) {
    char* text = number_to_text(n);
    benchmark::DoNotOptimize(text);
    free_block(text);
    n += 7919;
  }
}
BENCHMARK(BM_NumberToText);

}  // namespace

BENCHMARK_MAIN();
