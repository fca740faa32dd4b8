#include "frontend/expression_parser.h"

#include "base/name_hash.h"
#include "frontend/parse_owner.h"
#include "frontend/text_helpers.h"
#include "regex/pattern.h"

namespace {

// Binary operators from the loosest (logical or) to the tightest (multiplicative); assignment, the
// loosest of all, is right-associative and handled on its own.
constexpr int BINARY_LEVEL_COUNT = 10;
constexpr NodeKind BINARY_LEVELS[BINARY_LEVEL_COUNT][4] = {
    {NodeKind::LogicalOr},
    {NodeKind::LogicalAnd},
    {NodeKind::BitOr},
    {NodeKind::BitXor},
    {NodeKind::BitAnd},
    {NodeKind::Equal, NodeKind::Match, NodeKind::NotEqual},
    {NodeKind::Less, NodeKind::LessEqual, NodeKind::Greater, NodeKind::GreaterEqual},
    {NodeKind::ShiftLeft, NodeKind::ShiftRight},
    {NodeKind::Add, NodeKind::Subtract},
    {NodeKind::Multiply, NodeKind::Divide, NodeKind::Modulo},
};
bool is_level_operator(int level, NodeKind kind) {
  if (kind == NodeKind::None) return false;  // the padding of the table
  for (NodeKind candidate : BINARY_LEVELS[level]) {
    if (candidate == kind) return true;
  }
  return false;
}

// Requires the current token to be `kind` and reads past it.
SyntaxNode* expect_and_advance(ParserState* state, SyntaxNode* tail, NodeKind kind) {
  if (state->kind != kind) return fail_at_token(state);
  return next_token(state) ? tail : nullptr;
}

SyntaxNode* parse_unary(ParserState* state, SyntaxNode* tail);

SyntaxNode* parse_binary(ParserState* state, SyntaxNode* tail, int level) {
  if (level == BINARY_LEVEL_COUNT) return parse_unary(state, tail);
  tail = parse_binary(state, tail, level + 1);
  while (tail != nullptr && is_level_operator(level, state->kind)) {
    const NodeKind op = state->kind;
    const char* source = state->start;
    if (!next_token(state)) return nullptr;
    tail = parse_binary(state, tail, level + 1);
    if (tail != nullptr) tail = append_node_at(state, tail, op, source);
  }
  return tail;
}

SyntaxNode* parse_unary(ParserState* state, SyntaxNode* tail) {
  tail = parse_primary_with_index(state, tail);
  while (tail != nullptr && is_unary_operator(state->kind)) {
    const NodeKind op = state->kind;
    if (op == NodeKind::PostIncrement || op == NodeKind::PostDecrement) {
      state->postfix_pending = 1;
      tail = append_node(state, tail, op);
      if (tail == nullptr || !next_token(state)) return nullptr;
      tail = parse_primary_with_index(state, tail);
      continue;
    }
    // Prefix operators chain right to left through recursion, which the nesting bound limits.
    const char* source = state->start;
    if (!enter_nesting(state)) return nullptr;
    if (next_token(state)) {
      tail = parse_unary(state, tail);
    } else {
      tail = nullptr;
    }
    leave_nesting(state);
    if (tail != nullptr) tail = append_node_at(state, tail, op, source);
  }
  return tail;
}

// Literal values are 32-bit and wrap; "0x" reads hexadecimal, a leading "0" octal up to the first
// byte outside 0-7, anything else decimal up to the first non-digit ("1.5" is 1, ".5" is 0).
std::int32_t number_of_token(const char* p, const char* end) {
  std::uint32_t value = 0;
  if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    for (p += 2; p < end; ++p) {
      const char c = *p;
      const std::uint32_t digit = (c <= '9') ? c - '0' : (c | 0x20) - 'a' + 10;
      value = value * 16 + digit;
    }
  } else if (p[0] == '0') {
    for (++p; p < end && *p >= '0' && *p <= '7'; ++p)
      value = value * 8 + (*p - '0');
  } else {
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
      value = value * 10 + (*p - '0');
  }
  return static_cast<std::int32_t>(value);
}

SyntaxNode* parse_call(ParserState* state, SyntaxNode* tail) {
  tail = append_node(state, tail, NodeKind::CallStart);
  if (tail == nullptr) return nullptr;
  // The Call node follows its arguments; until it is linked it is freed here on failure.
  SyntaxNode* call = make_syntax_node(NodeKind::Call, state->start);
  if (call == nullptr) return fail_at_token(state, ALLOC_FAILED);
  call->text = copy_token_lowered(state);
  if (call->text != nullptr && next_token(state)) {
    if (state->kind != NodeKind::LParen) {
      fail_at_token(state);
    } else if (next_token(state)) {
      // The arguments' own postfix updates are applied after the call; one written before the
      // call still belongs to the enclosing expression, which must end with its ApplyPostfix.
      std::int32_t outer_postfix = state->postfix_pending;
      state->postfix_pending = 0;
      tail = parse_comma_list(state, tail);
      state->postfix_pending |= outer_postfix;
      if (tail != nullptr) tail = expect_and_advance(state, tail, NodeKind::RParen);
      if (tail != nullptr) {
        tail->next = call;
        return call;
      }
    }
  }
  free_syntax_node(&call);
  return nullptr;
}

SyntaxNode* parse_list_literal(ParserState* state, SyntaxNode* tail) {
  SyntaxNode* block = append_node(state, tail, NodeKind::Block);
  if (block == nullptr || !next_token(state)) return nullptr;
  SyntaxNode head{};
  SyntaxNode* inner = parse_comma_list(state, &head);
  block->body = head.next;
  if (inner == nullptr) return nullptr;
  return expect_and_advance(state, block, NodeKind::RBrace);
}

SyntaxNode* parse_string(ParserState* state, SyntaxNode* tail) {
  SyntaxNode* node = append_node(state, tail, NodeKind::String);
  if (node == nullptr) return nullptr;
  const char* start = state->start + 1;
  node->text = copy_text(start, static_cast<std::size_t>(state->cur - 1 - start));
  if (node->text == nullptr) return fail_at_token(state, ALLOC_FAILED);
  if (!next_token(state)) return nullptr;
  // A literal being declared, or directly before "=", is a pattern to match against.
  if (state->declare_mode || state->kind == NodeKind::Assign) node->kind = NodeKind::Pattern;
  // The literal's pattern is compiled when the literal is first used as one.
  node->pattern = make_literal_pattern(node->text);
  if (node->pattern == nullptr) return fail_at_token(state, ALLOC_FAILED);
  return node;
}

SyntaxNode* parse_primary(ParserState* state, SyntaxNode* tail) {
  switch (state->kind) {
    case NodeKind::Block:
      return parse_list_literal(state, tail);
    case NodeKind::LParen: {
      if (!next_token(state)) return nullptr;
      tail = parse_assignment(state, tail);
      return tail != nullptr ? expect_and_advance(state, tail, NodeKind::RParen) : nullptr;
    }
    case NodeKind::Number: {
      SyntaxNode* node = append_node(state, tail, NodeKind::Number);
      if (node == nullptr) return nullptr;
      node->number = number_of_token(state->start, state->cur);
      return next_token(state) ? node : nullptr;
    }
    case NodeKind::String:
      return parse_string(state, tail);
    case NodeKind::Name: {
      const bool declares =
          state->declare_mode || (state->owner != nullptr && state->owner->bind_mode != 0);
      SyntaxNode* node =
          append_node(state, tail, declares ? NodeKind::DeclareName : NodeKind::Name);
      if (node == nullptr) return nullptr;
      node->text = copy_token_lowered(state);
      if (node->text == nullptr) return nullptr;
      // The signature of the name the node looks up, so that a run need not compute it.
      node->number = name_hash_of(node->text[0] == '&' ? node->text + 1 : node->text);
      return next_token(state) ? node : nullptr;
    }
    case NodeKind::Call:
      return parse_call(state, tail);
    default:
      // No operand here: nothing is appended; a missing operand is found when the list runs.
      return tail;
  }
}

}  // namespace

SyntaxNode* fail_at_token(ParserState* state, const char* message) {
  report_parse_error(state, message, state->start);
  return nullptr;
}

SyntaxNode* append_node_at(ParserState* state, SyntaxNode* tail, NodeKind kind,
                           const char* source) {
  SyntaxNode* node = make_syntax_node(kind, source);
  if (node == nullptr) return fail_at_token(state, ALLOC_FAILED);
  tail->next = node;
  return node;
}

SyntaxNode* append_node(ParserState* state, SyntaxNode* tail, NodeKind kind) {
  return append_node_at(state, tail, kind, state->start);
}

char* copy_token_lowered(ParserState* state) {
  char* text = copy_text(state->start, static_cast<std::size_t>(state->cur - state->start));
  if (text == nullptr) {
    fail_at_token(state, ALLOC_FAILED);
    return nullptr;
  }
  lower_case_in_place(text);
  return text;
}

bool enter_nesting(ParserState* state) {
  if (state->nesting >= MAX_NESTING) {
    fail_at_token(state);
    return false;
  }
  ++state->nesting;
  return true;
}

SyntaxNode* parse_assignment(ParserState* state, SyntaxNode* tail) {
  if (!enter_nesting(state)) return nullptr;
  tail = parse_binary(state, tail, 0);
  // Right-associative: the right operand is parsed by this same level.
  if (tail != nullptr && state->kind == NodeKind::Assign) {
    const char* source = state->start;
    if (next_token(state)) {
      tail = parse_assignment(state, tail);
      if (tail != nullptr) tail = append_node_at(state, tail, NodeKind::Assign, source);
    } else {
      tail = nullptr;
    }
  }
  leave_nesting(state);
  return tail;
}

SyntaxNode* parse_primary_with_index(ParserState* state, SyntaxNode* tail) {
  tail = parse_primary(state, tail);
  while (tail != nullptr && state->kind == NodeKind::LBracket) {
    if (!next_token(state)) return nullptr;
    if (state->kind == NodeKind::RBracket) {
      // "x[]" indexes with the empty string (appending).
      tail = append_node(state, tail, NodeKind::String);
      if (tail == nullptr) return nullptr;
      tail->text = copy_text("", 0);
      if (tail->text == nullptr) return fail_at_token(state, ALLOC_FAILED);
    } else {
      tail = parse_assignment(state, tail);
      if (tail == nullptr) return nullptr;
      if (state->kind != NodeKind::RBracket) return fail_at_token(state);
    }
    tail = append_node(state, tail, NodeKind::Index);
    if (tail == nullptr || !next_token(state)) return nullptr;
  }
  return tail;
}

SyntaxNode* parse_full_expression(ParserState* state, SyntaxNode* tail) {
  tail = parse_assignment(state, tail);
  if (tail != nullptr && state->postfix_pending) {
    state->postfix_pending = 0;
    tail = append_node(state, tail, NodeKind::ApplyPostfix);
  }
  return tail;
}

SyntaxNode* parse_comma_list(ParserState* state, SyntaxNode* tail) {
  tail = parse_full_expression(state, tail);
  while (tail != nullptr && state->kind == NodeKind::Comma) {
    tail = append_node(state, tail, NodeKind::Comma);
    if (tail == nullptr || !next_token(state)) return nullptr;
    tail = parse_full_expression(state, tail);
  }
  return tail;
}

SyntaxNode* parse_expression_text(const ParseOwner* owner, const char* text) {
  ParserState state;
  init_parser_state(&state, owner, text, 1);
  SyntaxNode head{};
  SyntaxNode* tail = next_token(&state) ? parse_primary_with_index(&state, &head) : nullptr;
  if (tail == nullptr || state.kind != NodeKind::End) {
    free_syntax_node(&head.next);
    return nullptr;
  }
  return head.next;
}
