#include "frontend/simple_sequence.h"

#include <cstring>

#include "frontend/syntax_node.h"

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

}  // namespace

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
}
