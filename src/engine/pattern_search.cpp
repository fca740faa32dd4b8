// Pattern search with capture binding, and the evaluation of «%expr%» texts.
#include <atomic>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "engine/value_stack.h"
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

namespace {

// Parses the expression after the lead byte of `text` up to the next "%" (or the end), its nodes
// placed at the context's position; null when it does not parse (reported by the parser, if at
// all).
SyntaxNode* parse_target(CallContext* context, const char* text, bool* no_memory) {
  SyntaxNode* list = parse_embedded_part(context, text, no_memory);
  settle_parsed_nodes(list, context->position, context->names);
  return list;
}

// A lone name, the commonest target: the variable it finds, or declares as a run of the name
// would (in the binding mode, where names are declarations, the one it declares), as a reference.
// Null after a reported failure.
ValueNode* name_target(CallContext* context, SyntaxNode* name) {
  if (stop_requested()) return nullptr;
  const char* position = context->position;
  context->position = name->source;
  ValueNode* variable = name->kind == NodeKind::DeclareName ? declare_variable(context, name)
                                                            : named_variable(context, name);
  ValueNode* reference = variable != nullptr ? make_reference(variable) : nullptr;
  if (variable != nullptr && reference == nullptr)
    report_error(context, "Alloc failed", context->position, 0);
  context->position = position;
  return reference;
}

// Runs a parsed expression in the frame: the first value it yields, or null after a failure.
ValueNode* run_target(CallContext* context, SyntaxNode* list) {
  if ((list->kind == NodeKind::Name || list->kind == NodeKind::DeclareName) &&
      list->next == nullptr && !GeneralEvaluationOnly)
    return name_target(context, list);
  ValueNode* output = nullptr;
  const char* position = context->position;
  ValueNode* pending = context->pending_updates;
  std::int32_t code = run_nodes(context, list, nullptr, &output, nullptr);
  if (code == RUN_FAILED) discard_pending_updates(context, pending);
  context->position = position;
  ValueNode* first = nullptr;
  if (code != RUN_FAILED && output != nullptr) {
    first = output;
    output = output->next;
    first->next = nullptr;
    first->pattern = nullptr;  // a literal's pattern stays with the parsed list
  }
  free_chain(output);
  return first;
}

}  // namespace

ValueNode* eval_expression_text(CallContext* context, const char* text) {
  bool no_memory = false;
  SyntaxNode* list = parse_target(context, text, &no_memory);
  if (list == nullptr) {
    report_error(context, no_memory ? "Alloc failed" : "Sentence error",
                 no_memory ? context->position : text, 0);
    return nullptr;
  }
  ValueNode* first = run_target(context, list);
  free_syntax_node(&list);
  return first;
}

void report_unparsed_part(CallContext* context, const char* text) {
  bool no_memory = false;
  SyntaxNode* list = parse_target(context, text, &no_memory);  // its reports are made again
  free_syntax_node(&list);
  report_error(context, no_memory ? "Alloc failed" : "Sentence error",
               no_memory ? context->position : text, 0);
}

EmbeddedExpressions::EmbeddedExpressions(CallContext* context, const CompiledPattern* literal,
                                         EmbeddedKind kind)
    : context_(context) {
  if (literal == nullptr || context == nullptr) return;
  slot_ = &const_cast<CompiledPattern*>(literal)
               ->embedded[static_cast<int>(kind) * 2 + (context->bind_mode == 1 ? 1 : 0)];
  EmbeddedParts* kept = std::atomic_ref<EmbeddedParts*>(*slot_).load(std::memory_order_acquire);
  if (kept != nullptr && kept->position == context->position) {
    kept_ = kept;
  } else {
    recording_ = kept == nullptr;
  }
}

EmbeddedExpressions::~EmbeddedExpressions() {
  if (made_ != nullptr && recording_ && complete_) {
    EmbeddedParts* expected = nullptr;
    if (std::atomic_ref<EmbeddedParts*>(*slot_).compare_exchange_strong(
            expected, made_, std::memory_order_acq_rel)) {
      made_ = nullptr;
    }
  }
  free_embedded_parts(made_);
}

bool EmbeddedExpressions::record(SyntaxNode* list) {
  if (made_ == nullptr) {
    made_ = alloc_record<EmbeddedParts>();
    if (made_ == nullptr) return false;
    made_->position = context_->position;
  }
  if (made_->count == made_->capacity) {
    std::int32_t capacity = made_->capacity == 0 ? 4 : made_->capacity * 2;
    auto** grown = static_cast<SyntaxNode**>(alloc_block(sizeof(SyntaxNode*) * capacity));
    if (grown == nullptr) return false;
    for (std::int32_t i = 0; i < made_->count; ++i)
      grown[i] = made_->lists[i];
    release(&made_->lists);
    made_->lists = grown;
    made_->capacity = capacity;
  }
  made_->lists[made_->count++] = list;
  return true;
}

void EmbeddedExpressions::skip() {
  ++next_;
  if (recording_ && !record(nullptr)) recording_ = false;
}

void EmbeddedExpressions::settle() {
  apply_pending_updates(context_, PendingMark{pending_});
}

ValueNode* EmbeddedExpressions::evaluate(const char* text) {
  std::int32_t index = next_++;
  pending_ = context_->pending_updates;
  if (kept_ != nullptr) {
    if (index < kept_->count && kept_->lists[index] != nullptr)
      return run_target(context_, kept_->lists[index]);
    kept_ = nullptr;  // not the parts that were kept after all: parse from here on
  }
  bool no_memory = false;
  SyntaxNode* list = parse_target(context_, text, &no_memory);
  if (list == nullptr) {
    report_error(context_, no_memory ? "Alloc failed" : "Sentence error",
                 no_memory ? context_->position : text, 0);
    recording_ = false;
    return nullptr;
  }
  ValueNode* value = run_target(context_, list);
  if (recording_ && record(list)) return value;
  recording_ = false;
  free_syntax_node(&list);
  return value;
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

namespace {

std::int32_t search(CallContext* context, const CompiledPattern* literal, const char* subject,
                    bool bind) {
  PatternCaptures found;
  std::int32_t searched = pattern_capture(context, literal, subject, bind, &found);
  if (searched == PATTERN_SEARCH_FAILED || !bind || found.count == 0) return searched;
  // Bind every capture that names a target, in pattern order. A literal's targets are parsed
  // once; any other pattern's at each search.
  EmbeddedExpressions targets(context, literal->literal_text != nullptr ? literal : nullptr,
                              EmbeddedKind::CaptureTargets);
  for (std::int32_t i = 0; i < found.count; ++i) {
    const CaptureSlot& capture = found.slots[i];
    if (!capture_binds(capture)) {
      targets.skip();
      continue;
    }
    ValueNode* target = targets.evaluate(capture.name);
    if (target == nullptr) {
      targets.settle();
      continue;
    }
    char* text = capture_text(capture, found.matched);
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
    targets.settle();
  }
  targets.finish();
  return searched;
}

}  // namespace

std::int32_t pattern_search(CallContext* context, const CompiledPattern* pattern,
                            const char* subject) {
  return search(context, pattern, subject, context != nullptr);
}

std::int32_t pattern_bind(CallContext* context, const CompiledPattern* pattern,
                          const char* subject) {
  context->bind_mode = 1;
  std::int32_t searched = pattern_search(context, pattern, subject);
  context->bind_mode = 0;
  return searched;
}

std::int32_t pattern_test(CallContext* context, const CompiledPattern* pattern,
                          const char* subject) {
  return search(context, pattern, subject, false);
}
