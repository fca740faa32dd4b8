// First calls into a module of many functions: each call site looks its name up once, so this
// measures finding a function by name (and, for 81 000, what a walk of the list would cost).
#include <benchmark/benchmark.h>

#include <string>

#include "engine/call.h"
#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

// Functions f0 ... f(count-1), then main() calling each of them once.
std::string many_functions(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "function f" + std::to_string(i) + "() { return " + std::to_string(i) + "; }\n";
  text += "function main() {\n  s = 0;\n";
  for (int i = 0; i < count; ++i)
    text += "  s = s + f" + std::to_string(i) + "();\n";
  text += "  return s;\n}\n";
  return text;
}

void BM_CallEachOfManyFunctionsOnce(benchmark::State& state) {
  engine_start();
  const std::string text = many_functions(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    Script* set = create_script_set(0);
    Script* module = alloc_record<Script>();
    module->name = dup_string("main");
    module->text = dup_string(text.c_str());
    module->root = set;
    set->next = module;
    CallContext owner{};
    owner.script = module;
    module->code = parse_script_text(&owner, module->text, 0);
    assign_name_tables(module);
    run_top_level(module);
    state.ResumeTiming();
    ValueNode* result = call_event(set, "main", nullptr, 1, 0);
    if (result == CALL_FAILED) state.SkipWithError("main failed");
    state.PauseTiming();
    free_node(result);
    release_script_set(&set);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CallEachOfManyFunctionsOnce)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(81000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
