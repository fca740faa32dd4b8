#include "frontend/simple_sequence.h"

#include <cstring>

#include "base/syntax_node.h"

namespace {

bool is_pure_unary(NodeKind kind) {
  return kind == NodeKind::Not || kind == NodeKind::Complement || kind == NodeKind::Plus ||
         kind == NodeKind::Negate;
}

bool is_postfix_update(NodeKind kind) {
  return kind == NodeKind::PostIncrement || kind == NodeKind::PostDecrement;
}

// The length of the longest stretch starting at `first` that qualifies, or 0.
std::int32_t simple_length_at(const SyntaxNode* first) {
  std::int32_t depth = 0;
  std::int32_t operators = 0;
  std::int32_t updates = 0;
  bool updates_waiting = false;
  bool assigned = false;
  std::int32_t length = 0;
  std::int32_t best = 0;
  for (const SyntaxNode* node = first; node != nullptr; node = node->next) {
    NodeKind kind = node->kind;
    if (assigned && kind != NodeKind::ApplyPostfix) break;
    if (kind == NodeKind::Name) {
      // A qualified name may report a missing module while it is looked up: not here.
      if (node->text == nullptr || std::strchr(node->text, '.') != nullptr) break;
      if (++depth > kSimpleDepthLimit) break;
    } else if (kind == NodeKind::Number) {
      if (++depth > kSimpleDepthLimit) break;
    } else if (is_binary_operator(kind)) {
      if (depth < 2) break;
      --depth;
      ++operators;
    } else if (is_pure_unary(kind)) {
      if (depth < 1) break;
      ++operators;
    } else if (is_postfix_update(kind)) {
      if (depth < 1 || ++updates > kSimpleUpdateLimit) break;
      updates_waiting = true;
    } else if (kind == NodeKind::Assign) {
      if (depth < 2) break;
      --depth;
      ++operators;
      assigned = true;
    } else if (kind == NodeKind::ApplyPostfix) {
      updates_waiting = false;
    } else {
      break;
    }
    ++length;
    if (depth == 1 && (operators > 0 || updates > 0) && !updates_waiting) best = length;
  }
  return best;
}

// Whether every statement of the list is one stretch closed by ";", or a lone ";".
bool only_stretches(SyntaxNode* list) {
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->kind == NodeKind::Semicolon) continue;
    if (node->simple_length == 0) return false;
    node = after_stretch(node);
    if (node == nullptr || node->kind != NodeKind::Semicolon) return false;
  }
  return true;
}

struct LoopNames {
  const char* names[kSimpleLoopNames];
  std::int32_t count = 0;
};

// Numbers the Names from `first` up to `end` (not included) and in the lists under them; false
// when the loop uses too many names.
bool number_names(SyntaxNode* first, const SyntaxNode* end, LoopNames* names) {
  for (SyntaxNode* node = first; node != end; node = node->next) {
    if (node->body != nullptr && !number_names(node->body, nullptr, names)) return false;
    if (node->kind != NodeKind::Name) continue;
    std::int32_t slot = 0;
    while (slot < names->count && std::strcmp(names->names[slot], bare_name(node)) != 0)
      ++slot;
    if (slot == names->count) {
      if (names->count == kSimpleLoopNames) return false;
      names->names[names->count++] = bare_name(node);
    }
    node->simple_slot = slot + 1;
  }
  return true;
}

// Marks the loop that starts at `top` when it is a simple loop:
// LoopTop, [condition], Loop {statements}, Jump to LoopEnd, [[step], Semicolon], Jump, LoopEnd.
void mark_simple_loop(SyntaxNode* top) {
  top->simple_slot = 0;
  SyntaxNode* condition = top->next;
  if (condition == nullptr || condition->simple_length == 0) return;
  SyntaxNode* loop = after_stretch(condition);
  if (loop == nullptr || loop->kind != NodeKind::Loop || !only_stretches(loop_statements(loop)))
    return;
  SyntaxNode* exit = loop->next;
  if (exit == nullptr || exit->kind != NodeKind::Jump) return;
  SyntaxNode* back = exit->next;
  if (back != nullptr && back->kind != NodeKind::Jump) {
    if (back->simple_length == 0) return;
    back = after_stretch(back);
    if (back == nullptr || back->kind != NodeKind::Semicolon) return;
    back = back->next;
  }
  if (back == nullptr || back->kind != NodeKind::Jump || back->target != top) return;
  SyntaxNode* end = back->next;
  if (end == nullptr || end->kind != NodeKind::LoopEnd || exit->target != end) return;
  LoopNames names;
  if (!number_names(condition, end, &names)) return;
  top->simple_slot = names.count + 1;
}

}  // namespace

SyntaxNode* after_stretch(SyntaxNode* first) {
  SyntaxNode* node = first;
  for (std::int32_t i = 0; i < first->simple_length && node != nullptr; ++i)
    node = node->next;
  return node;
}

SyntaxNode* loop_statements(SyntaxNode* loop) {
  SyntaxNode* body = loop->body;
  if (body != nullptr && body->kind == NodeKind::Block && body->next == nullptr) return body->body;
  return body;
}

void mark_simple_sequences(SyntaxNode* list) {
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->body != nullptr) mark_simple_sequences(node->body);
    node->simple_length = 0;
  }
  for (SyntaxNode* node = list; node != nullptr;) {
    std::int32_t length = simple_length_at(node);
    if (length == 0) {
      node = node->next;
      continue;
    }
    node->simple_length = length;
    for (std::int32_t i = 0; i < length; ++i)
      node = node->next;
  }
  for (SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->kind == NodeKind::LoopTop) mark_simple_loop(node);
  }
}
