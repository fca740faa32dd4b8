// Appending chat lines to a message view, and rewrapping a full one. The time per appended line
// must stay flat as the store grows and when it is trimmed at its limit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "view/view_input.h"
#include "view/view_state.h"

namespace {

// Fixed metrics: 8-pixel characters (bold ones 9) and 14-pixel lines.
class BenchMeasure final : public TextMeasure {
 public:
  int run_width(const char*, std::uint32_t count, bool bold) override {
    return static_cast<int>(count) * (bold ? 9 : 8);
  }
};

struct BenchView {
  BenchMeasure measure;
  ViewState* state;
  explicit BenchView(int width) : state(view_make(&measure)) {
    state->line_height = 14;
    state->avg_char_width = 8;
    state->fixed_pitch = true;
    view_resize(state, width, 600);
  }
  ~BenchView() { view_free(&state); }
};

// A chat line of 80 bytes as a script echoes it: a break, a coloured time, a bold nick, text.
std::string chat_line(std::uint32_t number) {
  char head[40];
  std::snprintf(head, sizeof head,
                "\r\n\x03"
                "14[%02u:%02u]\x03 \x02<nick%u>\x02 ",
                number / 60 % 24, number % 60, number % 10);
  std::string line = head;
  line += "message text ";
  while (line.size() < 80)
    line += static_cast<char>('a' + line.size() % 26);
  return line;
}

void append_lines(benchmark::State& state) {
  auto count = static_cast<std::uint32_t>(state.range(0));
  std::string lines[64];
  for (std::uint32_t i = 0; i < 64; ++i)
    lines[i] = chat_line(i);
  std::uint32_t dropped = 0;
  for (auto _ : state) {
    BenchView view(800);
    std::uint32_t before = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      view_append(view.state, lines[i % 64].c_str());
      if (view.state->length < before) ++dropped;
      before = view.state->length;
    }
    benchmark::DoNotOptimize(view.state->line_count);
    state.counters["stored_MiB"] = view.state->length / (1024.0 * 1024.0);
  }
  state.counters["trims"] = dropped / static_cast<double>(state.iterations());
  state.counters["per_line"] =
      benchmark::Counter(static_cast<double>(count) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(append_lines)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// A view filled to the limit rewrapped for a new width, as after a resize or a font change.
void full_relayout(benchmark::State& state) {
  BenchView view(800);
  for (std::uint32_t i = 0; view.state->length + 100 < STORE_LIMIT; ++i)
    view_append(view.state, chat_line(i).c_str());
  int width = 800;
  for (auto _ : state) {
    width = width == 800 ? 640 : 800;
    view_resize(view.state, width, 600);
    benchmark::DoNotOptimize(view.state->line_count);
  }
  state.counters["stored_MiB"] = view.state->length / (1024.0 * 1024.0);
  state.counters["lines"] = view.state->line_count;
}
BENCHMARK(full_relayout)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
