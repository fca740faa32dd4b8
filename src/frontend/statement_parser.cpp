#include "frontend/statement_parser.h"

#include "frontend/expression_parser.h"
#include "frontend/parse_owner.h"

namespace {

// A statement ends at the end of the text or at "}" (neither consumed) or at ";", which adds a
// Semicolon node. Line breaks end nothing.
SyntaxNode* parse_statement_end(ParserState* state, SyntaxNode* tail) {
  if (state->kind == NodeKind::End || state->kind == NodeKind::RBrace) return tail;
  if (state->kind != NodeKind::Semicolon) return fail_at_token(state);
  tail = append_node(state, tail, NodeKind::Semicolon);
  return (tail != nullptr && next_token(state)) ? tail : nullptr;
}

// From "{": the statements up to the matching "}" become the body of `owner`.
SyntaxNode* parse_braces(ParserState* state, SyntaxNode* owner) {
  if (!next_token(state)) return nullptr;
  SyntaxNode head{};
  SyntaxNode* tail = &head;
  while (tail != nullptr && state->kind != NodeKind::RBrace && state->kind != NodeKind::End) {
    tail = parse_statement(state, tail);
  }
  owner->body = head.next;
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::RBrace) return fail_at_token(state);
  state->expect_operand = 1;
  return next_token(state) ? owner : nullptr;
}

// One statement as the body of `owner` (a loop).
SyntaxNode* parse_body_statement(ParserState* state, SyntaxNode* owner) {
  SyntaxNode head{};
  SyntaxNode* tail = parse_statement(state, &head);
  owner->body = head.next;
  return tail != nullptr ? owner : nullptr;
}

// From the keyword: "(", a full expression that is not empty, ")".
SyntaxNode* parse_condition(ParserState* state, SyntaxNode* tail) {
  if (!next_token(state)) return nullptr;
  if (state->kind != NodeKind::LParen) return fail_at_token(state);
  if (!next_token(state)) return nullptr;
  if (state->kind == NodeKind::RParen) return fail_at_token(state);
  tail = parse_full_expression(state, tail);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::RParen) return fail_at_token(state);
  state->expect_operand = 1;
  return next_token(state) ? tail : nullptr;
}

// Names being declared (var lists and parameter lists); an element may go on with "= value".
SyntaxNode* parse_declaration_list(ParserState* state, SyntaxNode* tail) {
  for (;;) {
    state->declare_mode = 1;
    tail = parse_primary_with_index(state, tail);
    state->declare_mode = 0;
    if (tail == nullptr) return nullptr;
    if (state->kind == NodeKind::Assign) {
      // The element continues as a full expression: [name], [value], Assign.
      const char* source = state->start;
      if (!next_token(state)) return nullptr;
      tail = parse_assignment(state, tail);
      if (tail != nullptr) tail = append_node_at(state, tail, NodeKind::Assign, source);
      if (tail != nullptr && state->postfix_pending) {
        state->postfix_pending = 0;
        tail = append_node(state, tail, NodeKind::ApplyPostfix);
      }
      if (tail == nullptr) return nullptr;
    }
    if (state->kind != NodeKind::Comma) return tail;
    tail = append_node(state, tail, NodeKind::Comma);
    if (tail == nullptr || !next_token(state)) return nullptr;
  }
}

SyntaxNode* parse_var(ParserState* state, SyntaxNode* tail) {
  if (!next_token(state)) return nullptr;
  tail = parse_declaration_list(state, tail);
  return tail != nullptr ? parse_statement_end(state, tail) : nullptr;
}

// if (c) s1 else s2: [c], SkipIfTrue, Jump to Else, [s1], Jump to EndIf, Else, [s2], EndIf.
// An else-if chain nests its ifs after each Else; it is parsed in a loop, with the Jumps that wait
// for their EndIf chained through `target` until the innermost if has ended.
SyntaxNode* parse_if(ParserState* state, SyntaxNode* tail) {
  SyntaxNode* waiting_for_end = nullptr;
  for (;;) {
    tail = parse_condition(state, tail);
    if (tail == nullptr) return nullptr;
    tail = append_node(state, tail, NodeKind::SkipIfTrue);
    SyntaxNode* to_else = tail != nullptr ? append_node(state, tail, NodeKind::Jump) : nullptr;
    tail = to_else != nullptr ? parse_statement(state, to_else) : nullptr;
    SyntaxNode* to_end = tail != nullptr ? append_node(state, tail, NodeKind::Jump) : nullptr;
    if (to_end == nullptr) return nullptr;
    to_end->target = waiting_for_end;
    waiting_for_end = to_end;
    tail = append_node(state, to_end, NodeKind::Else);
    if (tail == nullptr) return nullptr;
    to_else->target = tail;
    if (state->kind != NodeKind::Else) break;
    state->expect_operand = 1;
    if (!next_token(state)) return nullptr;
    if (state->kind == NodeKind::If) continue;
    tail = parse_statement(state, tail);
    if (tail == nullptr) return nullptr;
    break;
  }
  while (waiting_for_end != nullptr) {
    tail = append_node(state, tail, NodeKind::EndIf);
    if (tail == nullptr) return nullptr;
    SyntaxNode* outer = waiting_for_end->target;
    waiting_for_end->target = tail;
    waiting_for_end = outer;
  }
  return tail;
}

// The exit Jump (to LoopEnd), the back Jump (to `top`) and LoopEnd.
SyntaxNode* append_loop_exit(ParserState* state, SyntaxNode* tail, SyntaxNode* exit,
                             SyntaxNode* top) {
  SyntaxNode* back = append_node(state, tail, NodeKind::Jump);
  SyntaxNode* end = back != nullptr ? append_node(state, back, NodeKind::LoopEnd) : nullptr;
  if (end == nullptr) return nullptr;
  back->target = top;
  exit->target = end;
  return end;
}

// while (c) s: LoopTop, [c], Loop {s}, Jump to LoopEnd, Jump to LoopTop, LoopEnd.
SyntaxNode* parse_while(ParserState* state, SyntaxNode* tail) {
  SyntaxNode* top = append_node(state, tail, NodeKind::LoopTop);
  tail = top != nullptr ? parse_condition(state, top) : nullptr;
  SyntaxNode* loop = tail != nullptr ? append_node(state, tail, NodeKind::Loop) : nullptr;
  if (loop == nullptr || parse_body_statement(state, loop) == nullptr) return nullptr;
  SyntaxNode* exit = append_node(state, loop, NodeKind::Jump);
  return exit != nullptr ? append_loop_exit(state, exit, exit, top) : nullptr;
}

// do s while (c): LoopTop, Loop {s}, DoTest, [c], SkipIfTrue, Jump to LoopEnd, Jump to LoopTop,
// LoopEnd. The ";" after the condition is left to be read as an empty statement.
SyntaxNode* parse_do(ParserState* state, SyntaxNode* tail) {
  SyntaxNode* top = append_node(state, tail, NodeKind::LoopTop);
  SyntaxNode* loop = top != nullptr ? append_node(state, top, NodeKind::Loop) : nullptr;
  if (loop == nullptr || !next_token(state)) return nullptr;
  if (parse_body_statement(state, loop) == nullptr) return nullptr;
  tail = append_node(state, loop, NodeKind::DoTest);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::While) return fail_at_token(state);
  tail = parse_condition(state, tail);
  if (tail == nullptr) return nullptr;
  tail = append_node(state, tail, NodeKind::SkipIfTrue);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::End && state->kind != NodeKind::Semicolon &&
      state->kind != NodeKind::RBrace) {
    return fail_at_token(state);
  }
  SyntaxNode* exit = append_node(state, tail, NodeKind::Jump);
  return exit != nullptr ? append_loop_exit(state, exit, exit, top) : nullptr;
}

// for (i; c; st) s: [i], Semicolon, LoopTop, [c], Loop {s}, Jump to LoopEnd, [st], Semicolon,
// Jump to LoopTop, LoopEnd. The step is parsed before the body but placed after it.
SyntaxNode* parse_for(ParserState* state, SyntaxNode* tail) {
  if (!next_token(state)) return nullptr;
  if (state->kind != NodeKind::LParen) return fail_at_token(state);
  if (!next_token(state)) return nullptr;
  tail = parse_comma_list(state, tail);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::Semicolon) return fail_at_token(state);
  tail = append_node(state, tail, NodeKind::Semicolon);
  SyntaxNode* top = tail != nullptr ? append_node(state, tail, NodeKind::LoopTop) : nullptr;
  if (top == nullptr || !next_token(state)) return nullptr;
  tail = parse_full_expression(state, top);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::Semicolon) return fail_at_token(state);
  if (!next_token(state)) return nullptr;

  SyntaxNode step{};
  SyntaxNode* step_tail = parse_comma_list(state, &step);
  SyntaxNode* loop = nullptr;
  if (step_tail != nullptr) {
    if (state->kind != NodeKind::RParen) {
      fail_at_token(state);
    } else {
      loop = append_node(state, tail, NodeKind::Loop);
    }
  }
  state->expect_operand = 1;
  SyntaxNode* exit = nullptr;
  if (loop != nullptr && next_token(state) && parse_body_statement(state, loop) != nullptr) {
    exit = append_node(state, loop, NodeKind::Jump);
  }
  if (exit == nullptr) {
    free_syntax_node(&step.next);
    return nullptr;
  }
  // The step list joins the main list after the exit Jump.
  exit->next = step.next;
  if (step_tail == &step) step_tail = exit;
  tail = append_node(state, step_tail, NodeKind::Semicolon);
  return tail != nullptr ? append_loop_exit(state, tail, exit, top) : nullptr;
}

// switch (c) { ... }: [c], Switch {statements and labels}.
SyntaxNode* parse_switch(ParserState* state, SyntaxNode* tail) {
  tail = parse_condition(state, tail);
  SyntaxNode* node = tail != nullptr ? append_node(state, tail, NodeKind::Switch) : nullptr;
  if (node == nullptr) return nullptr;
  if (state->kind != NodeKind::Block) return fail_at_token(state);
  return parse_braces(state, node);
}

// case e: gives Case, [e], Colon; default: gives Default, Colon. Labels may stand anywhere.
SyntaxNode* parse_label(ParserState* state, SyntaxNode* tail) {
  const bool is_case = state->kind == NodeKind::Case;
  tail = append_node(state, tail, state->kind);
  if (tail == nullptr || !next_token(state)) return nullptr;
  if (is_case) {
    tail = parse_full_expression(state, tail);
    if (tail == nullptr) return nullptr;
  }
  if (state->kind != NodeKind::Colon) return fail_at_token(state);
  tail = append_node(state, tail, NodeKind::Colon);
  return (tail != nullptr && next_token(state)) ? tail : nullptr;
}

// break, continue, return (resume), exit: [e], keyword node, statement end.
SyntaxNode* parse_jump_statement(ParserState* state, SyntaxNode* tail) {
  const NodeKind kind = state->kind;
  const char* source = state->start;
  if (!next_token(state)) return nullptr;
  tail = parse_full_expression(state, tail);
  if (tail != nullptr) tail = append_node_at(state, tail, kind, source);
  return tail != nullptr ? parse_statement_end(state, tail) : nullptr;
}

bool register_function(ParserState* state, const char* name, SyntaxNode* definition) {
  if (state->owner->define_function(state->owner->data, name, definition)) return true;
  fail_at_token(state, ALLOC_FAILED);
  return false;
}

// From "(" after the function name: the parameters after `head`, ")", then the Call node `call`.
SyntaxNode* parse_parameters(ParserState* state, SyntaxNode* head, SyntaxNode* call) {
  if (state->kind != NodeKind::LParen) return fail_at_token(state);
  if (!next_token(state)) return nullptr;
  if (head->kind == NodeKind::Argmatch && state->kind != NodeKind::String) {
    return fail_at_token(state, "Argument format error");
  }
  SyntaxNode* tail = parse_declaration_list(state, head);
  if (tail == nullptr) return nullptr;
  if (state->kind != NodeKind::RParen) return fail_at_token(state);
  state->expect_operand = 1;
  if (!next_token(state)) return nullptr;
  tail->next = call;
  return call;
}

// function f(p1, p2 = e) { ... }: Jump to FunctionEnd, Function, [parameters], Call f {body},
// FunctionEnd. The definition is handed on before the parameters are parsed.
SyntaxNode* parse_definition(ParserState* state, SyntaxNode* tail) {
  if (state->depth != 1) return fail_at_token(state);
  SyntaxNode* jump = append_node(state, tail, NodeKind::Jump);
  SyntaxNode* head = jump != nullptr ? append_node(state, jump, state->kind) : nullptr;
  if (head == nullptr || !next_token(state)) return nullptr;
  if (state->kind != NodeKind::Call) return fail_at_token(state);
  SyntaxNode* call = make_syntax_node(NodeKind::Call, state->start);
  if (call == nullptr) return fail_at_token(state, ALLOC_FAILED);
  call->text = copy_token_lowered(state);
  if (call->text == nullptr || !next_token(state) || !register_function(state, call->text, head) ||
      parse_parameters(state, head, call) == nullptr) {
    // Until it is linked after the parameters, the Call node belongs to this function.
    free_syntax_node(&call);
    return nullptr;
  }
  if (state->kind != NodeKind::Block) return fail_at_token(state);
  if (parse_braces(state, call) == nullptr) return nullptr;
  SyntaxNode* end = append_node(state, call, NodeKind::FunctionEnd);
  if (end != nullptr) jump->target = end;
  return end;
}

// "#": the owner carries out the directive now and it makes no node; scanning goes on after its
// ")".
SyntaxNode* parse_directive(ParserState* state, SyntaxNode* tail) {
  const char* after = state->owner->run_directive(state->owner->data, state->cur);
  if (after == nullptr) return nullptr;
  state->cur = after;
  state->expect_operand = 1;
  return next_token(state) ? tail : nullptr;
}

SyntaxNode* dispatch_statement(ParserState* state, SyntaxNode* tail) {
  switch (state->kind) {
    case NodeKind::End:
      return tail;
    case NodeKind::Semicolon:
    case NodeKind::Comma:
    case NodeKind::LParen:
    case NodeKind::Not:
    case NodeKind::Complement:
    case NodeKind::Plus:
    case NodeKind::Negate:
    case NodeKind::PreIncrement:
    case NodeKind::PreDecrement:
    case NodeKind::Number:
    case NodeKind::String:
    case NodeKind::Name:
    case NodeKind::Call:
      tail = parse_comma_list(state, tail);
      return tail != nullptr ? parse_statement_end(state, tail) : nullptr;
    case NodeKind::Block: {
      SyntaxNode* block = append_node(state, tail, NodeKind::Block);
      return block != nullptr ? parse_braces(state, block) : nullptr;
    }
    case NodeKind::Directive:
      return parse_directive(state, tail);
    case NodeKind::Function:
    case NodeKind::Argmatch:
      return parse_definition(state, tail);
    case NodeKind::Var:
      return parse_var(state, tail);
    case NodeKind::If:
      return parse_if(state, tail);
    case NodeKind::For:
      return parse_for(state, tail);
    case NodeKind::While:
      return parse_while(state, tail);
    case NodeKind::Do:
      return parse_do(state, tail);
    case NodeKind::Break:
    case NodeKind::Continue:
    case NodeKind::Return:
    case NodeKind::Exit:
      return parse_jump_statement(state, tail);
    case NodeKind::Switch:
      return parse_switch(state, tail);
    case NodeKind::Case:
    case NodeKind::Default:
      return parse_label(state, tail);
    default:
      return fail_at_token(state);
  }
}

}  // namespace

SyntaxNode* parse_statement(ParserState* state, SyntaxNode* tail) {
  if (!enter_nesting(state)) return nullptr;
  ++state->depth;
  tail = dispatch_statement(state, tail);
  --state->depth;
  leave_nesting(state);
  return tail;
}

SyntaxNode* parse_script_text(const ParseOwner* owner, const char* text, std::int32_t depth,
                              bool* failed) {
  *failed = false;
  if (owner == nullptr) return nullptr;
  ParserState state;
  init_parser_state(&state, owner, text, depth);
  SyntaxNode head{};
  SyntaxNode* tail = next_token(&state) ? &head : nullptr;
  while (tail != nullptr && state.kind != NodeKind::End)
    tail = parse_statement(&state, tail);
  if (tail == nullptr) {
    free_syntax_node(&head.next);
    *failed = true;
  }
  return head.next;
}
