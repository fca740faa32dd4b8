// Pattern search with its captures, and the parse of «%expr%» parts and capture targets.
#include <atomic>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "regex/match.h"

void settle_parsed_nodes(SyntaxNode* list, const char* position, const NameTable* names) {
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    node->source = position;
    if (names != nullptr && (node->kind == NodeKind::Name || node->kind == NodeKind::DeclareName)) {
      std::int32_t slot = find_name_slot(names, bare_name(node));
      if (slot >= 0) {
        node->name_table = names;
        node->name_slot = slot;
      }
    }
    settle_parsed_nodes(node->body, position, names);
  }
}

void report_unparsed_part(CallContext* context, const char* text) {
  bool no_memory = false;
  SyntaxNode* list = parse_embedded_part(context, text, &no_memory);  // its reports are made again
  free_syntax_node(&list);
  report_error(context, no_memory ? "Alloc failed" : "Sentence error",
               no_memory ? context->position : text, 0);
}

bool capture_binds(const CaptureSlot& capture) {
  return capture.name != nullptr && capture.name[1] != '%' && capture.name[1] != '\0';
}

char* capture_text(const CaptureSlot& capture, bool matched) {
  if (!matched || capture.start == nullptr || capture.end == nullptr) return dup_string("");
  return copy_span(capture.start, static_cast<std::int32_t>(capture.end - capture.start + 1));
}

std::int32_t pattern_capture(CallContext* context, const CompiledPattern* literal,
                             const char* subject, bool table, PatternCaptures* found) {
  found->count = 0;
  found->matched = false;
  if (literal == nullptr || subject == nullptr) return 0;
  PatternUse use(literal);
  const CompiledPattern* pattern = use.get();
  MatchState state{};
  state.pattern = pattern;
  bool failed = pattern == nullptr;
  bool too_complex = use.problem() == PATTERN_TOO_COMPLEX;
  if (!failed && table) {
    std::int32_t slots = capture_slot_count(pattern);
    if (slots > 0) {
      state.captures = static_cast<CaptureSlot*>(alloc_zeroed(sizeof(CaptureSlot) * slots));
      failed = state.captures == nullptr;
      if (!failed) found->count = list_captures(pattern, state.captures);
    }
  }
  const char* match_start = nullptr;
  found->matched = !failed && search_pattern(&state, subject, &match_start) != nullptr;
  found->slots = state.captures;
  if (state.stopped == MATCH_TOO_DEEP) failed = too_complex = true;
  if (failed) {
    release(&found->slots);
    found->count = 0;
    if (context != nullptr) {
      report_error(context, too_complex ? "Regex too complex" : "Alloc failed", context->position,
                   0);
    }
    return PATTERN_SEARCH_FAILED;
  }
  return found->matched ? 1 : 0;
}

std::int32_t pattern_test(CallContext* context, const CompiledPattern* pattern,
                          const char* subject) {
  PatternCaptures found;
  return pattern_capture(context, pattern, subject, false, &found);
}
