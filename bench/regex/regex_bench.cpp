// Matcher throughput on chat-like text, with PCRE2's interpreter on the same workloads as baseline.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

const char* const WORDS[] = {"hello", "abba",  "ok",     "what",  "about", "lunch", "2024",
                             "bye",   "quick", "brown",  "fox",   "jumps", "lazy",  "dog",
                             "see",   "you",   "later!", "#lumo", "42",    "irc",   "bob"};

// Deterministic chat-like lines: mostly PRIVMSG, some other traffic.
std::vector<std::string> make_lines(std::size_t count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  std::uint32_t lcg = 12345;
  auto next = [&lcg] {
    lcg = lcg * 1103515245u + 12345u;
    return (lcg >> 16) & 0x7fff;
  };
  for (std::size_t i = 0; i < count; ++i) {
    std::string nick = "nick" + std::to_string(next() % 500);
    std::string line;
    if (next() % 8 == 0) {
      line = ":server.example.net 372 " + nick + " :- message of the day " + std::to_string(i);
    } else {
      line = ":" + nick + "!~user" + std::to_string(next() % 90) + "@host-" +
             std::to_string(next() % 250) + ".example.org PRIVMSG #chan" +
             std::to_string(next() % 5) + " :";
      std::size_t words = 3 + next() % 10;
      for (std::size_t w = 0; w < words; ++w) {
        if (w != 0) line += ' ';
        line += WORDS[next() % (sizeof WORDS / sizeof WORDS[0])];
      }
    }
    lines.push_back(line);
  }
  return lines;
}

// About 1 MB of lines joined with CR LF.
const std::string& text_1mb() {
  static const std::string text = [] {
    std::string joined;
    for (const std::string& line : make_lines(20000)) {
      if (joined.size() >= (1u << 20)) break;
      joined += line;
      joined += "\r\n";
    }
    return joined;
  }();
  return text;
}

const std::vector<std::string>& lines_100k() {
  static const std::vector<std::string> lines = make_lines(100000);
  return lines;
}

std::size_t total_size(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines)
    size += line.size();
  return size;
}

// Every match through the subject, the way a match-all walk steps.
std::int64_t lumo_all(const CompiledPattern* pattern, const char* subject) {
  std::int64_t count = 0;
  const char* pos = subject;
  MatchState state = {};
  state.pattern = pattern;
  while (*pos != 0) {
    const char* start = nullptr;
    const char* end = search_pattern(&state, pos, &start);
    if (end == nullptr) break;
    ++count;
    pos = end == start ? start + 1 : end;
  }
  return count;
}

std::int64_t pcre_all(pcre2_code* code, pcre2_match_data* data, const std::string& subject) {
  std::int64_t count = 0;
  PCRE2_SIZE offset = 0;
  while (offset < subject.size()) {
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset,
                         0, data, nullptr);
    if (rc < 0) break;
    ++count;
    PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    offset = ovector[1] == ovector[0] ? ovector[0] + 1 : ovector[1];
  }
  return count;
}

struct Pcre {
  Pcre(const char* pattern, std::uint32_t options) {
    int error = 0;
    PCRE2_SIZE at = 0;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, options,
                         &error, &at, nullptr);
    data = pcre2_match_data_create_from_pattern(code, nullptr);
  }
  ~Pcre() {
    pcre2_match_data_free(data);
    pcre2_code_free(code);
  }
  pcre2_code* code;
  pcre2_match_data* data;
};

// Workloads over the 1 MB text: every match of the pattern.
void lumo_text(benchmark::State& st, const char* pattern) {
  CompiledPattern* compiled = compile_pattern(pattern);
  const std::string& text = text_1mb();
  std::int64_t count = 0;
  for (auto _ : st) {
    count = lumo_all(compiled, text.c_str());
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * text.size()));
  free_pattern(&compiled);
}

void pcre_text(benchmark::State& st, const char* pattern) {
  Pcre pcre(pattern, PCRE2_DOTALL);
  const std::string& text = text_1mb();
  std::int64_t count = 0;
  for (auto _ : st) {
    count = pcre_all(pcre.code, pcre.data, text);
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * text.size()));
}

const char* const ABSENT = "needle-not-present";

void BM_Lumo_AbsentLiteral(benchmark::State& st) {
  lumo_text(st, ABSENT);
}
void BM_Pcre2_AbsentLiteral(benchmark::State& st) {
  pcre_text(st, ABSENT);
}
void BM_Lumo_Digits(benchmark::State& st) {
  lumo_text(st, "[0-9]+");
}
void BM_Pcre2_Digits(benchmark::State& st) {
  pcre_text(st, "[0-9]+");
}
void BM_Lumo_LazyDotStar(benchmark::State& st) {
  lumo_text(st, "a.*?b");
}
void BM_Pcre2_LazyDotStar(benchmark::State& st) {
  pcre_text(st, "a.*?b");
}

// Per-line workloads over 100 000 lines, each line its own subject as the connection delivers it.
const char* const PRIVMSG = "^:(\\S+) PRIVMSG (\\S+) :(.*)$";

void BM_Lumo_Privmsg(benchmark::State& st) {
  CompiledPattern* compiled = compile_pattern(PRIVMSG);
  const std::vector<std::string>& lines = lines_100k();
  std::int64_t count = 0;
  for (auto _ : st) {
    count = 0;
    for (const std::string& line : lines) {
      GroupSpan* groups = nullptr;
      if (find_first_match(compiled, line.c_str(), 0, &groups) != 0) ++count;
      release(&groups);
    }
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * total_size(lines)));
  free_pattern(&compiled);
}

void BM_Pcre2_Privmsg(benchmark::State& st) {
  Pcre pcre(PRIVMSG, PCRE2_MULTILINE);
  const std::vector<std::string>& lines = lines_100k();
  std::int64_t count = 0;
  for (auto _ : st) {
    count = 0;
    for (const std::string& line : lines) {
      if (pcre2_match(pcre.code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0,
                      pcre.data, nullptr) >= 0) {
        ++count;
      }
    }
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * total_size(lines)));
}

void BM_Lumo_CaptureVariables(benchmark::State& st) {
  CompiledPattern* compiled = compile_pattern("%nick%!%user%@%host%");
  const std::vector<std::string>& lines = lines_100k();
  CaptureSlot table[8] = {};
  std::int64_t count = 0;
  for (auto _ : st) {
    count = 0;
    for (const std::string& line : lines) {
      list_captures(compiled, table);
      MatchState state = {};
      state.pattern = compiled;
      state.captures = table;
      const char* start = nullptr;
      if (search_pattern(&state, line.c_str(), &start) != nullptr) ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * total_size(lines)));
  free_pattern(&compiled);
}

void BM_Pcre2_CaptureVariables(benchmark::State& st) {
  Pcre pcre("(.*?)!(.*?)@(.*)", PCRE2_DOTALL);
  const std::vector<std::string>& lines = lines_100k();
  std::int64_t count = 0;
  for (auto _ : st) {
    count = 0;
    for (const std::string& line : lines) {
      if (pcre2_match(pcre.code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0,
                      pcre.data, nullptr) >= 0) {
        ++count;
      }
    }
    benchmark::DoNotOptimize(count);
  }
  st.counters["matches"] = static_cast<double>(count);
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * total_size(lines)));
}

}  // namespace

BENCHMARK(BM_Lumo_AbsentLiteral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2_AbsentLiteral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lumo_Digits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2_Digits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lumo_Privmsg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2_Privmsg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lumo_LazyDotStar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2_LazyDotStar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lumo_CaptureVariables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2_CaptureVariables)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
