#include "frontend/lexer.h"

#include <cstring>

#include "base/cp932.h"
#include "frontend/parse_owner.h"
#include "frontend/text_helpers.h"

namespace {

struct Keyword {
  const char* word;
  NodeKind kind;
};

// Compared in this order; "resume" is another spelling of "return".
constexpr Keyword KEYWORDS[] = {
    {"var", NodeKind::Var},
    {"return", NodeKind::Return},
    {"resume", NodeKind::Return},
    {"exit", NodeKind::Exit},
    {"if", NodeKind::If},
    {"else", NodeKind::Else},
    {"for", NodeKind::For},
    {"while", NodeKind::While},
    {"do", NodeKind::Do},
    {"break", NodeKind::Break},
    {"continue", NodeKind::Continue},
    {"switch", NodeKind::Switch},
    {"case", NodeKind::Case},
    {"default", NodeKind::Default},
    {"function", NodeKind::Function},
    {"argmatch", NodeKind::Argmatch},
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' || c == '.' ||
         c == '?';
}

// Ends the token with `length` bytes consumed, the given kind and the operand expectation after it.
std::int32_t take(ParserState* state, std::int32_t length, NodeKind kind,
                  std::int32_t operand_next) {
  state->cur = state->start + length;
  state->kind = kind;
  state->expect_operand = operand_next;
  return 1;
}

std::int32_t fail(ParserState* state, const char* message) {
  report_parse_error(state, message, state->start);
  return 0;
}

// "(", "[" and "{" are tokens only when their partner exists further on.
std::int32_t take_opener(ParserState* state, NodeKind kind) {
  if (find_closing_bracket(state->start) == nullptr) {
    return fail(state, PARENTHESIS_ERROR);
  }
  return take(state, 1, kind, 1);
}

// Skips a comment starting at `p` ("//" or "/*"); the position after it.
const char* skip_comment(const char* p) {
  if (p[1] == '/') {
    while (*p != '\0' && *p != '\r' && *p != '\n')
      ++p;
    return p;
  }
  // The search for "*/" starts at the opening "/", so "/*/" is already a whole comment.
  for (; *p != '\0'; ++p) {
    if (p[0] == '*' && p[1] == '/') return p + 2;
  }
  return p;
}

std::int32_t scan_number(ParserState* state) {
  const char* p = state->start;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    while (is_hex_digit(*p))
      ++p;
  } else {
    ++p;
    while (is_digit(*p) || *p == '.')
      ++p;
  }
  return take(state, static_cast<std::int32_t>(p - state->start), NodeKind::Number, 0);
}

NodeKind keyword_kind(const char* name, std::size_t length) {
  for (const Keyword& keyword : KEYWORDS) {
    if (std::strlen(keyword.word) == length &&
        compare_ignoring_case_n(name, keyword.word, length) == 0) {
      return keyword.kind;
    }
  }
  return NodeKind::None;
}

std::int32_t scan_name(ParserState* state) {
  const char* p = state->start;
  if (*p == '&') ++p;
  for (;;) {
    if (is_name_byte(*p)) {
      ++p;
    } else if (is_lead_byte(static_cast<unsigned char>(*p))) {
      p += (p[1] != '\0') ? 2 : 1;
    } else {
      break;
    }
  }
  const std::int32_t length = static_cast<std::int32_t>(p - state->start);
  if (length == 0) return fail(state, SENTENCE_ERROR);

  // Keywords come before the call test, so "if(" is the keyword.
  NodeKind keyword = keyword_kind(state->start, static_cast<std::size_t>(length));
  if (keyword != NodeKind::None) return take(state, length, keyword, 1);
  const char* after = p;
  while (is_blank(*after))
    ++after;
  if (*after == '(') return take(state, length, NodeKind::Call, 1);
  return take(state, length, NodeKind::Name, 0);
}

// Dispatches on the first byte of a token; "operand" is the expectation before it.
std::int32_t scan_token(ParserState* state) {
  const char* p = state->start;
  const bool operand = state->expect_operand != 0;
  switch (*p) {
    case '\0':
      state->kind = NodeKind::End;
      state->cur = p;
      return 1;
    case '!':
      if (p[1] == '=' && !operand) return take(state, 2, NodeKind::NotEqual, 1);
      if (operand) return take(state, 1, NodeKind::Not, 1);
      break;
    case '"': {
      if (!operand) break;
      const char* end = find_string_end(p);
      if (end == nullptr) return fail(state, SENTENCE_ERROR);
      return take(state, static_cast<std::int32_t>(end + 1 - p), NodeKind::String, 0);
    }
    case '#':
      return take(state, 1, NodeKind::Directive, 1);
    case '%':
      if (!operand) return take(state, 1, NodeKind::Modulo, 1);
      break;
    case '&':
      if (operand) return scan_name(state);
      if (p[1] == '&') return take(state, 2, NodeKind::LogicalAnd, 1);
      return take(state, 1, NodeKind::BitAnd, 1);
    case '(':
      if (operand) return take_opener(state, NodeKind::LParen);
      break;
    case ')':
      return take(state, 1, NodeKind::RParen, 0);
    case '*':
      if (!operand) return take(state, 1, NodeKind::Multiply, 1);
      break;
    case '+':
      if (p[1] == '+') {
        return operand ? take(state, 2, NodeKind::PreIncrement, 1)
                       : take(state, 2, NodeKind::PostIncrement, 0);
      }
      return take(state, 1, operand ? NodeKind::Plus : NodeKind::Add, 1);
    case ',':
      return take(state, 1, NodeKind::Comma, 1);
    case '-':
      if (p[1] == '-') {
        return operand ? take(state, 2, NodeKind::PreDecrement, 1)
                       : take(state, 2, NodeKind::PostDecrement, 0);
      }
      return take(state, 1, operand ? NodeKind::Negate : NodeKind::Subtract, 1);
    case '/':
      if (!operand) return take(state, 1, NodeKind::Divide, 1);
      break;
    case ':':
      return take(state, 1, NodeKind::Colon, 1);
    case ';':
      return take(state, 1, NodeKind::Semicolon, 1);
    case '<':
      if (operand) break;
      if (p[1] == '<') return take(state, 2, NodeKind::ShiftLeft, 1);
      if (p[1] == '=') return take(state, 2, NodeKind::LessEqual, 1);
      return take(state, 1, NodeKind::Less, 1);
    case '=':
      if (operand) break;
      if (p[1] == '=') return take(state, 2, NodeKind::Equal, 1);
      if (p[1] == '~') return take(state, 2, NodeKind::Match, 1);
      return take(state, 1, NodeKind::Assign, 1);
    case '>':
      if (operand) break;
      if (p[1] == '>') return take(state, 2, NodeKind::ShiftRight, 1);
      if (p[1] == '=') return take(state, 2, NodeKind::GreaterEqual, 1);
      return take(state, 1, NodeKind::Greater, 1);
    case '[':
      if (!operand) return take_opener(state, NodeKind::LBracket);
      break;
    case ']':
      return take(state, 1, NodeKind::RBracket, 0);
    case '^':
      if (!operand) return take(state, 1, NodeKind::BitXor, 1);
      break;
    case '{':
      if (operand) return take_opener(state, NodeKind::Block);
      break;
    case '|':
      if (operand) break;
      if (p[1] == '|') return take(state, 2, NodeKind::LogicalOr, 1);
      return take(state, 1, NodeKind::BitOr, 1);
    case '}':
      return take(state, 1, NodeKind::RBrace, 0);
    case '~':
      if (operand) return take(state, 1, NodeKind::Complement, 1);
      break;
    default:
      if (!operand) break;
      if (is_digit(p[0]) || (p[0] == '.' && is_digit(p[1]))) return scan_number(state);
      return scan_name(state);
  }
  return fail(state, SENTENCE_ERROR);
}

}  // namespace

void init_parser_state(ParserState* state, const ParseOwner* owner, const char* text,
                       std::int32_t depth) {
  *state = ParserState{};
  state->owner = owner;
  state->depth = depth;
  state->start = text;
  state->cur = text;
  state->expect_operand = 1;
}

std::int32_t next_token(ParserState* state) {
  const char* p = state->cur;
  for (;;) {
    while (is_blank(*p))
      ++p;
    // Comments are recognised whatever is expected, and leave the expectation as it was.
    if (p[0] == '/' && (p[1] == '/' || p[1] == '*')) {
      p = skip_comment(p);
      continue;
    }
    break;
  }
  state->start = p;
  state->cur = p;
  state->kind = NodeKind::None;
  return scan_token(state);
}

void report_parse_error(ParserState* state, const char* message, const char* position) {
  if (state->owner != nullptr) state->owner->report(state->owner->data, message, position);
}
