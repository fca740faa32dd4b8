// String literals' patterns, compiled on first use and kept within a memory budget.
#include <atomic>

#include "platform/memory.h"
#include "regex/pattern.h"

namespace {

// Bytes of the automata kept by literals, all ScriptSets together.
std::atomic<std::size_t> KeptLiteralBytes{0};

std::atomic_ref<CompiledPattern*> compiled_of(const CompiledPattern* literal) {
  return std::atomic_ref<CompiledPattern*>(const_cast<CompiledPattern*>(literal)->compiled);
}

std::atomic_ref<std::int32_t> problem_of(const CompiledPattern* literal) {
  return std::atomic_ref<std::int32_t>(const_cast<CompiledPattern*>(literal)->literal_problem);
}

// Takes room for `bytes` in the budget; false when it does not fit.
bool reserve_literal_bytes(std::size_t bytes) {
  std::size_t kept = KeptLiteralBytes.load(std::memory_order_relaxed);
  do {
    if (bytes > LITERAL_PATTERN_BUDGET - kept) return false;
  } while (!KeptLiteralBytes.compare_exchange_weak(kept, kept + bytes, std::memory_order_relaxed));
  return true;
}

}  // namespace

std::size_t kept_literal_pattern_bytes() {
  return KeptLiteralBytes.load(std::memory_order_relaxed);
}

CompiledPattern* make_literal_pattern(const char* text) {
  CompiledPattern* literal = alloc_record<CompiledPattern>();
  if (literal != nullptr) literal->literal_text = text;
  return literal;
}

void free_literal_automaton(CompiledPattern* literal) {
  CompiledPattern* compiled = compiled_of(literal).exchange(nullptr, std::memory_order_acquire);
  if (compiled == nullptr) return;
  KeptLiteralBytes.fetch_sub(compiled->bytes, std::memory_order_relaxed);
  free_pattern(&compiled);
}

void PatternUse::make(const CompiledPattern* pattern) {
  if (pattern == nullptr) {
    problem_ = PATTERN_NO_MEMORY;
    return;
  }
  // A pattern that was too complex once stays so: it is not compiled again on every use.
  if (problem_of(pattern).load(std::memory_order_relaxed) == PATTERN_TOO_COMPLEX) {
    problem_ = PATTERN_TOO_COMPLEX;
    return;
  }
  CompiledPattern* made = compile_pattern(pattern->literal_text, &problem_);
  if (made == nullptr) {
    if (problem_ == PATTERN_TOO_COMPLEX) {
      problem_of(pattern).store(PATTERN_TOO_COMPLEX, std::memory_order_relaxed);
    }
    return;
  }
  if (!reserve_literal_bytes(made->bytes)) {
    owned_ = made;  // past the budget: this use only
    pattern_ = made;
    return;
  }
  // Several threads may compile the same literal at once; the first to publish its automaton wins.
  CompiledPattern* expected = nullptr;
  if (compiled_of(pattern).compare_exchange_strong(expected, made, std::memory_order_acq_rel,
                                                   std::memory_order_acquire)) {
    pattern_ = made;
    return;
  }
  KeptLiteralBytes.fetch_sub(made->bytes, std::memory_order_relaxed);
  free_pattern(&made);
  pattern_ = expected;
}
