// libFuzzer target: compiles arbitrary pattern bytes and matches them against arbitrary subject
// bytes. Input: pattern, a NUL byte, subject. Checks that every reported position lies inside the
// subject, and that the search's start-position filters skip only positions that cannot match.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "platform/memory.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

// Backtracking may be exponential by design; a watchdog stops an input that runs too long, the way
// the stop command ends a script stuck in a match.
std::atomic<std::int64_t> InputStarted{0};

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::int64_t started = InputStarted.load();
    if (started != 0 && now_ms() - started > 200) stop_all_scripts();
  }
}

void check(bool condition) {
  if (!condition) std::abort();
}

void check_span(const char* start, const char* end, const char* subject, std::size_t length) {
  if (start == nullptr && end == nullptr) return;
  check(start != nullptr && end != nullptr);
  check(start >= subject && start <= end && end <= subject + length);
}

// Every position tried in turn, without the filters of search_pattern.
const char* plain_search(MatchState* state, const char* subject, const char** match_start) {
  for (const char* p = subject; *p != 0; ++p) {
    const char* end = match_at(state, state->pattern->start_state, p);
    if (end != nullptr) {
      *match_start = p;
      return end;
    }
    if (state->stopped != MATCH_RUNNING) return nullptr;
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine_start();
  std::thread(watchdog).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const void* split = std::memchr(bytes, 0, size);
  std::size_t pattern_length = split ? static_cast<const char*>(split) - bytes : size;
  std::string pattern(bytes, pattern_length);
  std::string subject = pattern_length < size
                            ? std::string(bytes + pattern_length + 1, size - pattern_length - 1)
                            : std::string();
  subject = subject.c_str();  // the subject ends at its first NUL
  bool ignore_case = pattern_length > 0 && (pattern[0] & 1);

  count_call(1);
  InputStarted = now_ms();
  CompiledPattern* compiled = compile_pattern(pattern.c_str());
  if (compiled != nullptr) {
    GroupSpan* groups = nullptr;
    std::int32_t slots = find_first_match(compiled, subject.c_str(), ignore_case, &groups);
    check(slots == 0 || slots == compiled->group_slots);
    for (std::int32_t i = 0; i < slots; ++i) {
      check_span(groups[i].start, groups[i].end, subject.c_str(), subject.size());
    }
    check(slots == 0 || groups[0].start != nullptr);

    CaptureSlot table[4096];
    std::int32_t size_needed = capture_slot_count(compiled);
    if (size_needed <= 4096) {
      list_captures(compiled, table);
      MatchState state = {};
      state.pattern = compiled;
      state.captures = table;
      state.ignore_case = ignore_case;
      const char* start = nullptr;
      const char* end = search_pattern(&state, subject.c_str(), &start);
      if (end != nullptr) {
        check_span(start, end, subject.c_str(), subject.size());
        for (std::int32_t i = 0; i < size_needed; ++i) {
          check_span(table[i].start, table[i].end, subject.c_str(), subject.size());
        }
      }
      if (!compiled->line_start && state.stopped == MATCH_RUNNING) {
        MatchState plain = {};
        plain.pattern = compiled;
        plain.ignore_case = ignore_case;
        const char* plain_start = nullptr;
        const char* plain_end = plain_search(&plain, subject.c_str(), &plain_start);
        if (plain.stopped == MATCH_RUNNING) {
          check(plain_end == end);
          check(plain_end == nullptr || plain_start == start);
        }
      }
    }
    release(&groups);
    free_pattern(&compiled);
  }
  class_matches(pattern.c_str(), subject.c_str());
  InputStarted = 0;
  count_call(-1);
  return 0;
}
