// Sorting a hash of 100 000 elements, and walking and replacing the matches of 1 MB of text.
#include <benchmark/benchmark.h>

#include <string>

#include "builtins/hash.h"
#include "builtins/regex_builtins.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

constexpr int kElements = 100000;
constexpr std::size_t kTextSize = 1024 * 1024;

unsigned next_random(unsigned* state) {
  *state = *state * 1103515245 + 12345;
  return *state >> 8;
}

// A hash of random numbers, or of random strings, each element with a random key.
ValueNode* random_hash(bool strings) {
  ValueNode* hash = make_node();
  ValueNode** tail = &hash->elements;
  unsigned state = 2024;
  for (int i = 0; i < kElements; ++i) {
    ValueNode* cell = make_node();
    std::string key = "Key" + std::to_string(next_random(&state) % 1000000);
    cell->name = dup_string(key.c_str());
    cell->name_hash = name_hash_of(cell->name);
    if (strings) {
      set_string_value(cell->value, ("v" + std::to_string(next_random(&state))).c_str());
    } else {
      cell->value->data.number = static_cast<std::int32_t>(next_random(&state));
    }
    *tail = cell;
    tail = &cell->next;
  }
  return hash;
}

// Calls a built-in with the hash and two number flags.
void call_sort(NativeFunction sort, ValueNode* hash, std::int32_t descending,
               std::int32_t ignore_case) {
  ValueNode* flags[2] = {make_node(), make_node()};
  flags[0]->value->data.number = descending;
  flags[1]->value->data.number = ignore_case;
  ValueNode argument{};
  argument.value = hash->value;
  argument.next = flags[0];
  flags[0]->next = flags[1];
  ValueNode* result = make_node();
  char message[LUMO_MESSAGE_SIZE] = "";
  sort(nullptr, &argument, result, message);
  free_node(result);
  free_node(flags[0]);
  free_node(flags[1]);
}

// Each pass sorts the other way round, so every pass really reorders the chain.
void sort_benchmark(benchmark::State& state, NativeFunction sort, bool strings, int ignore_case) {
  ValueNode* hash = random_hash(strings);
  std::int32_t descending = 0;
  for (auto _ : state) {
    call_sort(sort, hash, descending, ignore_case);
    descending = 1 - descending;
  }
  free_node(hash);
  state.SetItemsProcessed(state.iterations() * kElements);
}

void BM_HashSortNumbers(benchmark::State& state) {
  sort_benchmark(state, builtin_hashsort, false, 0);
}
void BM_HashSortStrings(benchmark::State& state) {
  sort_benchmark(state, builtin_hashsort, true, 0);
}
void BM_HashKeySort(benchmark::State& state) {
  sort_benchmark(state, builtin_hashkeysort, false, 0);
}
void BM_HashKeySortIgnoreCase(benchmark::State& state) {
  sort_benchmark(state, builtin_hashkeysort, false, 1);
}
BENCHMARK(BM_HashSortNumbers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashSortStrings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashKeySort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashKeySortIgnoreCase)->Unit(benchmark::kMillisecond);

// 1 MB of chat-like lines: "nick=123 said hello" ...
std::string chat_text() {
  std::string text;
  unsigned state = 7;
  while (text.size() < kTextSize) {
    text += "nick" + std::to_string(next_random(&state) % 100) + "=" +
            std::to_string(next_random(&state) % 100000) + " said hello to everyone\r\n";
  }
  return text;
}

ValueNode* text_cell(const std::string& text) {
  ValueNode* cell = make_node();
  set_string_value(cell->value, text.c_str());
  return cell;
}

// Calls a regex built-in with text arguments (the last may be an output variable).
void call_regex(NativeFunction entry, ValueNode* first) {
  ValueNode* result = make_node();
  char message[LUMO_MESSAGE_SIZE] = "";
  entry(nullptr, first, result, message);
  free_node(result);
}

void BM_RegMatchAll(benchmark::State& state) {
  ValueNode* pattern = text_cell("[0-9]+");
  ValueNode* subject = text_cell(chat_text());
  ValueNode* matches = make_node();
  pattern->next = subject;
  subject->next = matches;
  for (auto _ : state)
    call_regex(builtin_regmatchall, pattern);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTextSize));
  subject->next = nullptr;
  pattern->next = nullptr;
  free_node(pattern);
  free_node(subject);
  free_node(matches);
}
BENCHMARK(BM_RegMatchAll)->Unit(benchmark::kMillisecond);

void BM_RegReplace(benchmark::State& state) {
  ValueNode* pattern = text_cell("([a-z]+)([0-9]+)=");
  ValueNode* replacement = text_cell("\\2:\\1=");
  ValueNode* subject = text_cell(chat_text());
  pattern->next = replacement;
  replacement->next = subject;
  for (auto _ : state)
    call_regex(builtin_regreplace, pattern);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTextSize));
  pattern->next = nullptr;
  replacement->next = nullptr;
  free_node(pattern);
  free_node(replacement);
  free_node(subject);
}
BENCHMARK(BM_RegReplace)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
