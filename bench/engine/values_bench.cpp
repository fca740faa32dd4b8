// Costs of the value records: keyed lookup in a hash (one signature compare per cell), element
// creation, and deep copy; filling large hashes by position and by key, and merging them, whose
// cost per element must not grow with the hash.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "builtins/hash.h"
#include "engine/value.h"
#include "engine/cells.h"
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

// h[i] = i for i = 0 .. n-1 in a fresh hash.
void BM_FillByPosition(benchmark::State& state) {
  auto count = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    ValueNode* hash = make_node();
    for (std::int32_t i = 0; i < count; ++i)
      element_by_position(nullptr, hash, i)->value->data.number = i;
    free_node(hash);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillByPosition)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// h["key" + i] = i in a fresh hash: keys of this shape share a few hundred signatures.
void BM_FillByKey(benchmark::State& state) {
  std::vector<std::string> keys;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    keys.push_back("key" + std::to_string(i));
  for (auto _ : state) {
    ValueNode* hash = make_node();
    for (std::size_t i = 0; i < keys.size(); ++i) {
      Value key{};
      key.data.text = keys[i].data();
      key.is_string = 1;
      element_by_key(nullptr, hash, &key)->value->data.number = static_cast<std::int32_t>(i);
    }
    free_node(hash);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillByKey)->Arg(400000)->Unit(benchmark::kMillisecond);

// hashmerge of two hashes of n keys each, half of them in both.
void BM_HashMerge(benchmark::State& state) {
  auto count = static_cast<int>(state.range(0));
  std::vector<std::string> keys;
  ValueNode* first = make_hash(count, &keys);
  ValueNode* second = make_node();
  for (int i = count / 2; i < count + count / 2; ++i) {
    std::string key = "key" + std::to_string(i);
    Value name{};
    name.data.text = key.data();
    name.is_string = 1;
    element_by_key(nullptr, second, &name);
  }
  ValueNode* arguments = make_reference(first);
  arguments->next = make_reference(second);
  char message[LUMO_MESSAGE_SIZE];
  for (auto _ : state) {
    ValueNode* result = make_node();
    builtin_hashmerge(nullptr, arguments, result, message);
    free_node(result);
  }
  state.SetItemsProcessed(state.iterations() * count * 2);
  free_chain(arguments);
  free_node(first);
  free_node(second);
}
BENCHMARK(BM_HashMerge)->Arg(200000)->Unit(benchmark::kMillisecond);

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
