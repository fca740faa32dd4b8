#include "base/syntax_node.h"

#include "platform/memory.h"
#include "regex/pattern.h"

SyntaxNode* make_syntax_node(NodeKind kind, const char* source) {
  SyntaxNode* node = alloc_record<SyntaxNode>();
  if (node == nullptr) return nullptr;
  node->kind = kind;
  node->source = source;
  return node;
}

// Walks `next` iteratively so that a long statement list cannot exhaust the stack; only `body`
// nesting recurses, and the parser bounds that.
void free_syntax_node(SyntaxNode** node) {
  SyntaxNode* current = *node;
  *node = nullptr;
  while (current != nullptr) {
    SyntaxNode* next = current->next;
    free_syntax_node(&current->body);
    free_pattern(&current->pattern);
    release(&current->literal_constant);
    release(&current->text);
    release(&current);
    current = next;
  }
}
