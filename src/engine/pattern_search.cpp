// Pattern search with capture binding, and the evaluation of «%expr%» texts.
#include <cstring>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "regex/match.h"

namespace {

// The expression was parsed from a private copy of its text: its errors are placed at the caller's
// position (the literal or pattern in the module text) instead.
void place_nodes_at(SyntaxNode* list, const char* position) {
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    node->source = position;
    place_nodes_at(node->body, position);
  }
}

}  // namespace

ValueNode* eval_expression_text(CallContext* context, const char* text) {
  const char* start = text + 1;
  const char* end = std::strchr(start, '%');
  char* expression = copy_span(
      start,
      static_cast<std::int32_t>((end != nullptr ? end : start + std::strlen(start)) - start + 1));
  if (expression == nullptr) {
    report_error(context, "Alloc failed", context->position, 0);
    return nullptr;
  }
  SyntaxNode* list = parse_expression_text(context, expression);
  place_nodes_at(list, context->position);
  release(&expression);
  if (list == nullptr) {
    report_error(context, "Sentence error", text, 0);
    return nullptr;
  }
  ValueNode* output = nullptr;
  const char* position = context->position;
  std::int32_t code = run_nodes(context, list, nullptr, &output, nullptr);
  context->position = position;
  ValueNode* first = nullptr;
  if (code != RUN_FAILED && output != nullptr) {
    first = output;
    output = output->next;
    first->next = nullptr;
    first->pattern = nullptr;  // the literal's pattern goes with the parsed list
  }
  free_chain(output);
  free_syntax_node(&list);
  return first;
}

namespace {

std::int32_t search(CallContext* context, const CompiledPattern* literal, const char* subject,
                    bool bind) {
  if (literal == nullptr || subject == nullptr) return 0;
  PatternUse use(literal);
  const CompiledPattern* pattern = use.get();
  MatchState state{};
  state.pattern = pattern;
  std::int32_t capture_count = 0;
  bool failed = pattern == nullptr;
  bool too_complex = use.problem() == PATTERN_TOO_COMPLEX;
  if (!failed && bind) {
    std::int32_t slots = capture_slot_count(pattern);
    if (slots > 0) {
      state.captures = static_cast<CaptureSlot*>(alloc_zeroed(sizeof(CaptureSlot) * slots));
      failed = state.captures == nullptr;
      if (!failed) capture_count = list_captures(pattern, state.captures);
    }
  }
  const char* match_start = nullptr;
  bool matched = !failed && search_pattern(&state, subject, &match_start) != nullptr;
  if (state.stopped == MATCH_TOO_DEEP) failed = too_complex = true;
  if (failed) {
    release(&state.captures);
    if (context != nullptr) {
      report_error(context, too_complex ? "Regex too complex" : "Alloc failed", context->position,
                   0);
    }
    return PATTERN_SEARCH_FAILED;
  }

  // Bind every capture that names a target, in pattern order.
  for (std::int32_t i = 0; i < capture_count; ++i) {
    const CaptureSlot& capture = state.captures[i];
    if (capture.name == nullptr || capture.name[1] == '%' || capture.name[1] == '\0') continue;
    ValueNode* target = eval_expression_text(context, capture.name);
    if (target == nullptr) continue;
    bool took_part = matched && capture.start != nullptr && capture.end != nullptr;
    char* text = took_part ? copy_span(capture.start,
                                       static_cast<std::int32_t>(capture.end - capture.start + 1))
                           : dup_string("");
    if (text == nullptr) {
      report_error(context, "Alloc failed", context->position, 0);
    } else {
      Value captured{};
      captured.data.text = text;
      captured.is_string = 1;
      assign_value(context, target->value, &captured);
      release(&text);
    }
    free_node(target);
  }
  release(&state.captures);
  return matched ? 1 : 0;
}

}  // namespace

std::int32_t pattern_search(CallContext* context, const CompiledPattern* pattern,
                            const char* subject) {
  return search(context, pattern, subject, context != nullptr);
}

std::int32_t pattern_test(CallContext* context, const CompiledPattern* pattern,
                          const char* subject) {
  return search(context, pattern, subject, false);
}
