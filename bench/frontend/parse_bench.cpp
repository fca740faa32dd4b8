// Parsing speed of a large generated script: functions, loops, conditions, calls, string literals
// (compiled as patterns) and comments, about 1 MB in all.
#include <benchmark/benchmark.h>

#include <string>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/script.h"

namespace {

std::string generated_script(std::size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) {
    const std::string n = std::to_string(i);
    text += "// handler " + n + "\n";
    text += "function Handler" + n + "(line, count = 2, &out) {\n";
    text += "  var total = 0, parts[];\n";
    text += "  for (i = 0; i < count * 4 + 1; i++) {\n";
    text += "    if (line =~ \"^:(\\S+) PRIVMSG (#\\S+) :(.*)$\") parts[] = line;\n";
    text += "    else if ((i & 3) == 1 || i >> 2 > 7) total = total + i % 5;\n";
    text += "    else { total = total - -i; continue; }\n";
    text += "  }\n";
    text += "  while (total > 100 && !done) { total = total / 2; }\n";
    text += "  switch (count) { case 1: out = \"one\"; break; default: out = strlen(line) + " + n +
            "; }\n";
    text += "  /* keep the result */ return {total, parts[0], 0x1F, 017};\n";
    text += "}\n";
    text += "result" + n + " = Handler" + n + "(\"text \\\"" + n + "\\\"\", " + n + ");\n";
  }
  return text;
}

void BM_ParseScript(benchmark::State& state) {
  const std::string text = generated_script(1 << 20);
  Script module{};
  module.text = const_cast<char*>(text.c_str());
  CallContext context{};
  context.script = &module;
  for (auto _ : state) {
    SyntaxNode* code = parse_script_text(&context, text.c_str(), 0);
    if (code == nullptr) {
      state.SkipWithError("the generated script did not parse");
      break;
    }
    benchmark::DoNotOptimize(code);
    free_syntax_node(&code);
    free_function_entries(&module);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
