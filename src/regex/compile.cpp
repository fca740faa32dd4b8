// Pattern compiler: scanner, recursive-descent parser to a tree, and the automaton built from it.
#include <cstring>

#include "base/cp932.h"
#include "platform/memory.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

// Nested groups deeper than this, or trees larger than this, make the compilation yield null (the
// pattern is too complex): the parser and the tree walks recurse once per nesting level, and
// bounded repetitions copy their atom, so without bounds a hostile pattern could exhaust the stack
// or the heap. The depth is what a script thread's stack holds safely beside deep script calls;
// the tree bound lets a repetition such as «a{0,200000}» compile (a few hundred bytes a node).
constexpr std::int32_t MAX_GROUP_DEPTH = 500;
constexpr std::int32_t MAX_NODES = 1 << 22;
// Repetition bounds saturate here, so reading digits never overflows; a bound this large could
// never be built within MAX_NODES, so it makes the pattern too complex.
constexpr std::int32_t MAX_BOUND = MAX_NODES;

bool is_hex_digit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::int32_t hex_value(unsigned char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// A character of the text is two bytes when a lead byte has a byte after it.
std::int32_t char_width(const char* p) {
  return is_lead_byte(static_cast<unsigned char>(p[0])) && p[1] != 0 ? 2 : 1;
}

// ---- class text ----

// Member text is gathered with room for one member beyond the class buffer, then cut after the
// last whole member that fits: a range or double-byte character is never split.
constexpr std::int32_t GATHER_SIZE = CLASS_TEXT_SIZE + 8;

struct ClassText {
  char text[GATHER_SIZE];
  std::int32_t length;
};

void gather(ClassText* ct, const char* bytes, std::int32_t count) {
  if (ct->length + count >= GATHER_SIZE) return;  // already past anything that is kept
  std::memcpy(ct->text + ct->length, bytes, count);
  ct->length += count;
  ct->text[ct->length] = 0;
}

// Length of the longest prefix of whole members within CLASS_TEXT_SIZE - 1 bytes.
std::int32_t whole_members(const ClassText* ct) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(ct->text);
  std::int32_t i = t[0] == '^' ? 1 : 0;
  while (i < ct->length) {
    std::int32_t n = 1;
    if (is_lead_byte(t[i]) && t[i + 1] != 0) {
      n = t[i + 2] == '-' && is_lead_byte(t[i + 3]) && t[i + 4] != 0 ? 5 : 2;
    } else if (t[i + 1] == '-' && t[i + 2] != 0) {
      n = 3;
    } else if (t[i] == '\\' && t[i + 1] != 0) {
      n = 2;
    }
    if (i + n > CLASS_TEXT_SIZE - 1) break;
    i += n;
  }
  return i < ct->length ? i : ct->length;
}

// ---- scanner ----

void set_class(PatternScanner* sc, const char* text) {
  std::strcpy(sc->class_text, text);  // fixed texts, all far shorter than the buffer
  sc->token = TOKEN_CLASS;
}

void set_literal(PatternScanner* sc, const char* p) {
  sc->lit1 = static_cast<unsigned char>(p[0]);
  sc->lit2 = char_width(p) == 2 ? static_cast<unsigned char>(p[1]) : 0;
  sc->token = TOKEN_LITERAL;
}

// Backslash outside a class; pos is at the backslash.
void scan_escape(PatternScanner* sc) {
  const char* p = sc->pos + 1;
  unsigned char letter = static_cast<unsigned char>(*p);
  if (letter == 0) {  // a trailing backslash stands for itself
    sc->lit1 = '\\';
    sc->lit2 = 0;
    sc->token = TOKEN_LITERAL;
    sc->pos = p;
    return;
  }
  if (const char* cls = class_escape_text(letter)) {
    set_class(sc, cls);
    sc->pos = p + 1;
    return;
  }
  if (std::int32_t byte = control_escape_byte(letter); byte >= 0) {
    sc->lit1 = static_cast<unsigned char>(byte);
    sc->lit2 = 0;
    sc->token = TOKEN_LITERAL;
    sc->pos = p + 1;
    return;
  }
  if (letter == 'x') {
    ++p;
    if (!is_hex_digit(static_cast<unsigned char>(*p))) {  // "\x" alone: an empty class
      set_class(sc, "");
      sc->pos = p;
      return;
    }
    std::int32_t value = 0;
    for (int i = 0; i < 2 && is_hex_digit(static_cast<unsigned char>(*p)); ++i, ++p) {
      value = value * 16 + hex_value(static_cast<unsigned char>(*p));
    }
    sc->lit1 = static_cast<unsigned char>(value);
    sc->lit2 = 0;
    sc->token = TOKEN_LITERAL;
    sc->pos = p;
    return;
  }
  // Any other byte stands for itself; an escaped double-byte character is kept whole.
  set_literal(sc, p);
  sc->pos = p + (sc->lit2 != 0 ? 2 : 1);
}

// "[": pos is just past it.
void scan_class(PatternScanner* sc) {
  ClassText ct = {};
  const char* p = sc->pos;
  if (*p == ']') {
    gather(&ct, "]", 1);
    ++p;
  } else if (p[0] == '^' && p[1] == ']') {
    gather(&ct, "^]", 2);
    p += 2;
  }
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0) {  // unterminated: the pattern ends here
      sc->pos = p;
      sc->token = TOKEN_END;
      return;
    }
    if (c == ']') break;
    if (c != '\\') {
      std::int32_t width = char_width(p);
      gather(&ct, p, width);
      p += width;
      continue;
    }
    unsigned char letter = static_cast<unsigned char>(p[1]);
    if (letter == 0) {  // a backslash at the end of the text: unterminated
      ++p;
      continue;
    }
    if (class_escape_text(letter) != nullptr || letter == '\\') {
      gather(&ct, p, 2);  // kept as written, expanded when matched
      p += 2;
    } else if (std::int32_t byte = control_escape_byte(letter); byte >= 0) {
      char b = static_cast<char>(byte);
      gather(&ct, &b, 1);
      p += 2;
    } else if (letter == 'x') {
      p += 2;
      std::int32_t value = 0;
      for (int i = 0; i < 2 && is_hex_digit(static_cast<unsigned char>(*p)); ++i, ++p) {
        value = value * 16 + hex_value(static_cast<unsigned char>(*p));
      }
      // No digits stands for nothing; NUL would end the member text and can never match anyway.
      if (value != 0) {
        char b = static_cast<char>(value);
        gather(&ct, &b, 1);
      }
    } else {
      std::int32_t width = char_width(p + 1);
      gather(&ct, p + 1, width);
      p += 1 + width;
    }
  }
  std::int32_t length = whole_members(&ct);
  std::memcpy(sc->class_text, ct.text, length);
  sc->class_text[length] = 0;
  sc->pos = p + 1;
  sc->token = TOKEN_CLASS;
}

// "{": pos is just past it.
void scan_bounds(PatternScanner* sc) {
  const char* p = sc->pos;
  sc->rep_min = 0;
  sc->rep_max = 0;
  bool comma = false;
  for (;; ++p) {
    char c = *p;
    if (c == 0) {
      sc->pos = p;
      sc->token = TOKEN_END;
      return;
    }
    if (c == '}') break;
    if (c == ',') {
      comma = true;
    } else if (c >= '0' && c <= '9') {
      std::int32_t* bound = comma ? &sc->rep_max : &sc->rep_min;
      *bound = *bound >= MAX_BOUND ? MAX_BOUND : *bound * 10 + (c - '0');
    }
  }
  if (!comma) sc->rep_max = sc->rep_min;
  ++p;
  sc->token = TOKEN_BOUNDED;
  if (*p == '?') {
    sc->token = TOKEN_LAZY_BOUNDED;
    ++p;
  }
  sc->pos = p;
}

// "%": pos is at it.
void scan_capture(PatternScanner* sc) {
  const char* p = sc->pos;
  if (p[1] == '%') {
    sc->lit1 = '%';
    sc->lit2 = 0;
    sc->token = TOKEN_LITERAL;
    sc->pos = p + 2;
    return;
  }
  sc->capture_name = p;
  ++p;
  while (*p != 0 && *p != '%')
    p += char_width(p);
  if (*p == 0) {
    sc->pos = p;
    sc->token = TOKEN_END;
    return;
  }
  sc->pos = p + 1;
  sc->token = TOKEN_CAPTURE;
}

struct FixedToken {
  const char* text;
  std::int32_t length;
  PatternToken token;
};

// Compared in this order; the first prefix that matches wins.
constexpr FixedToken FIXED_TOKENS[] = {
    {"(", 1, TOKEN_OPEN},
    {")", 1, TOKEN_CLOSE},
    {"*?", 2, TOKEN_LAZY_STAR},
    {"+?", 2, TOKEN_LAZY_PLUS},
    {"??", 2, TOKEN_LAZY_QUESTION},
    {"}?", 2, TOKEN_LAZY_BOUNDED},
    {"*", 1, TOKEN_STAR},
    {"+", 1, TOKEN_PLUS},
    {"?", 1, TOKEN_QUESTION},
    {"{", 1, TOKEN_BRACE},
    {"}", 1, TOKEN_BOUNDED},
    {".", 1, TOKEN_DOT},
    {"[", 1, TOKEN_BRACKET},
    {"]", 1, TOKEN_CLASS},
    {"^", 1, TOKEN_CARET},
    {"$", 1, TOKEN_DOLLAR},
    {"|", 1, TOKEN_BAR},
    {"\\", 1, TOKEN_BACKSLASH},
    {"%", 1, TOKEN_CAPTURE},
};

void next_token(PatternScanner* sc) {
  const char* p = sc->pos;
  if (*p == 0) {
    sc->token = TOKEN_END;
    return;
  }
  for (const FixedToken& fixed : FIXED_TOKENS) {
    if (std::strncmp(p, fixed.text, fixed.length) != 0) continue;
    switch (fixed.token) {
      case TOKEN_BRACE:
        sc->pos = p + 1;
        scan_bounds(sc);
        return;
      case TOKEN_DOT:
        set_class(sc, DOT_CLASS);
        sc->pos = p + 1;
        return;
      case TOKEN_BRACKET:
        sc->pos = p + 1;
        scan_class(sc);
        return;
      case TOKEN_BACKSLASH:
        scan_escape(sc);
        return;
      case TOKEN_CAPTURE:
        scan_capture(sc);
        return;
      default:  // a stray "]" or "}" keeps the class text or bounds read last
        sc->token = fixed.token;
        sc->pos = p + fixed.length;
        return;
    }
  }
  set_literal(sc, p);
  sc->pos = p + (sc->lit2 != 0 ? 2 : 1);
}

// ---- tree ----

PatternNode* make_node(PatternScanner* sc, std::int32_t op) {
  if (sc->failed) return nullptr;
  if (++sc->node_count > MAX_NODES) {
    sc->failed = 1;
    sc->too_complex = 1;
    return nullptr;
  }
  PatternNode* node = alloc_record<PatternNode>();
  if (node == nullptr) {
    sc->failed = 1;
    return nullptr;
  }
  node->op = op;
  node->nullable = op != OP_LITERAL && op != OP_CLASS;
  return node;
}

bool has_children(std::int32_t op) {
  return op == OP_CONCAT || op == OP_ALTERNATION || op == OP_GREEDY || op == OP_LAZY;
}

// Tree walks recurse into one child and loop along the other: sequences are left-deep chains of
// concatenations and alternatives right-deep chains, so recursion depth follows group nesting only.
void free_tree(PatternNode* node) {
  while (node != nullptr) {
    PatternNode* chain = nullptr;
    if (node->op == OP_CONCAT) {
      free_tree(node->right.child);
      chain = node->left.child;
    } else if (node->op == OP_ALTERNATION) {
      free_tree(node->left.child);
      chain = node->right.child;
    } else if (has_children(node->op)) {
      chain = node->left.child;
    } else if (node->op == OP_CLASS) {
      release(&node->left.class_text);
    }
    release(&node);
    node = chain;
  }
}

PatternNode* join(PatternScanner* sc, std::int32_t op, PatternNode* left, PatternNode* right) {
  PatternNode* node = make_node(sc, op);
  if (node == nullptr) {
    free_tree(left);
    free_tree(right);
    return nullptr;
  }
  node->left.child = left;
  node->right.child = right;
  if (op == OP_CONCAT) {
    node->nullable = left != nullptr && right != nullptr && left->nullable && right->nullable;
  } else if (op == OP_ALTERNATION) {
    node->nullable = (left != nullptr && left->nullable) || (right != nullptr && right->nullable);
  }
  return node;
}

PatternNode* make_class_node(PatternScanner* sc, const char* text) {
  PatternNode* node = make_node(sc, OP_CLASS);
  if (node == nullptr) return nullptr;
  std::size_t size = std::strlen(text) + 1;
  node->left.class_text = static_cast<char*>(alloc_block(size));
  if (node->left.class_text == nullptr) {
    sc->failed = 1;
    release(&node);
    return nullptr;
  }
  std::memcpy(node->left.class_text, text, size);
  return node;
}

PatternNode* copy_tree(PatternScanner* sc, const PatternNode* node) {
  PatternNode* result = nullptr;
  PatternNode** slot = &result;
  while (node != nullptr) {
    PatternNode* copy =
        node->op == OP_CLASS ? make_class_node(sc, node->left.class_text) : make_node(sc, node->op);
    if (copy == nullptr) break;
    if (node->op != OP_CLASS) {
      copy->left = node->left;
      copy->right = node->right;
    }
    copy->nullable = node->nullable;
    *slot = copy;
    if (node->op == OP_CONCAT) {
      copy->right.child = copy_tree(sc, node->right.child);
      copy->left.child = nullptr;
      slot = &copy->left.child;
      node = node->left.child;
    } else if (node->op == OP_ALTERNATION) {
      copy->left.child = copy_tree(sc, node->left.child);
      copy->right.child = nullptr;
      slot = &copy->right.child;
      node = node->right.child;
    } else if (has_children(node->op)) {
      copy->left.child = nullptr;
      slot = &copy->left.child;
      node = node->left.child;
    } else {
      node = nullptr;
    }
  }
  return result;  // incomplete when sc->failed; freed by the caller's failure path
}

PatternNode* make_repetition(PatternScanner* sc, std::int32_t op, PatternNode* body) {
  PatternNode* node = make_node(sc, op);
  if (node == nullptr) {
    free_tree(body);
    return nullptr;
  }
  node->left.child = body;
  return node;
}

PatternNode* make_capture(PatternScanner* sc, const char* name, PatternNode* body) {
  PatternNode* start = make_node(sc, OP_CAPTURE);
  PatternNode* end = make_node(sc, OP_CAPTURE);
  if (start != nullptr) start->left.name = name;
  if (end != nullptr) end->right.name = name;
  return join(sc, OP_CONCAT, join(sc, OP_CONCAT, start, body), end);
}

// ---- parser ----

PatternNode* parse_alternation(PatternScanner* sc);

bool ends_sequence(std::int32_t token) {
  return token == TOKEN_CLOSE || token == TOKEN_BAR || token == TOKEN_END;
}

// «{m,n}» and «{m,n}?» applied to atom (consumed). Every copy is made from the atom, which is
// freed last: a failed join frees its operands, so the atom must never be one of them.
PatternNode* bounded_repetition(PatternScanner* sc, PatternNode* atom, bool lazy) {
  std::int32_t min = sc->rep_min;
  std::int32_t max = sc->rep_max;
  if (min >= MAX_BOUND || max >= MAX_BOUND) {
    sc->failed = 1;
    sc->too_complex = 1;
  }
  PatternNode* whole = nullptr;
  for (std::int32_t i = 0; i < min && !sc->failed; ++i) {
    PatternNode* copy = copy_tree(sc, atom);
    whole = whole == nullptr ? copy : join(sc, OP_CONCAT, whole, copy);
  }
  PatternNode* rest = nullptr;
  if (max == 0) {
    rest = make_repetition(sc, lazy ? OP_LAZY : OP_GREEDY, copy_tree(sc, atom));
  } else {
    for (std::int32_t i = min; i < max && !sc->failed; ++i) {
      PatternNode* copy = copy_tree(sc, atom);
      PatternNode* empty = make_node(sc, OP_EMPTY);
      PatternNode* optional =
          lazy ? join(sc, OP_ALTERNATION, copy, empty) : join(sc, OP_ALTERNATION, empty, copy);
      rest = rest == nullptr ? optional : join(sc, OP_CONCAT, rest, optional);
    }
  }
  free_tree(atom);
  if (rest != nullptr) whole = whole == nullptr ? rest : join(sc, OP_CONCAT, whole, rest);
  if (whole == nullptr) whole = make_node(sc, OP_EMPTY);
  if (min == 0) {
    PatternNode* empty = make_node(sc, OP_EMPTY);
    whole = lazy ? join(sc, OP_ALTERNATION, whole, empty) : join(sc, OP_ALTERNATION, empty, whole);
  }
  return whole;
}

// Applies the quantifier token (if any) to atom and consumes it.
PatternNode* parse_quantifier(PatternScanner* sc, PatternNode* atom) {
  PatternNode* result = atom;
  switch (sc->token) {
    case TOKEN_STAR:
      result = make_repetition(sc, OP_GREEDY, atom);
      break;
    case TOKEN_LAZY_STAR:
      result = make_repetition(sc, OP_LAZY, atom);
      break;
    case TOKEN_PLUS:
      result = join(sc, OP_CONCAT, atom, make_repetition(sc, OP_GREEDY, copy_tree(sc, atom)));
      break;
    case TOKEN_LAZY_PLUS:
      result = join(sc, OP_CONCAT, atom, make_repetition(sc, OP_LAZY, copy_tree(sc, atom)));
      break;
    case TOKEN_QUESTION:
      result = join(sc, OP_ALTERNATION, make_node(sc, OP_EMPTY), atom);
      break;
    case TOKEN_LAZY_QUESTION:
      result = join(sc, OP_ALTERNATION, atom, make_node(sc, OP_EMPTY));
      break;
    case TOKEN_BOUNDED:
    case TOKEN_LAZY_BOUNDED:
      result = bounded_repetition(sc, atom, sc->token == TOKEN_LAZY_BOUNDED);
      break;
    default:
      return atom;
  }
  next_token(sc);
  return result;
}

PatternNode* parse_group(PatternScanner* sc) {
  if (++sc->depth > MAX_GROUP_DEPTH) {
    sc->failed = 1;
    sc->too_complex = 1;
    return nullptr;
  }
  std::int32_t number = ++sc->group_count;
  next_token(sc);
  PatternNode* body = parse_alternation(sc);
  next_token(sc);  // the ")" or whatever ended the body
  --sc->depth;
  PatternNode* start = make_node(sc, OP_GROUP_START);
  PatternNode* end = make_node(sc, OP_GROUP_END);
  if (start != nullptr) start->left.group = number;
  if (end != nullptr) end->left.group = number;
  return join(sc, OP_CONCAT, join(sc, OP_CONCAT, start, body), end);
}

// One item; *is_group tells whether it is a bare group (a following capture then wraps it).
PatternNode* parse_item(PatternScanner* sc, bool* is_group) {
  *is_group = false;
  PatternNode* atom = nullptr;
  switch (sc->token) {
    case TOKEN_LITERAL:
      atom = make_node(sc, OP_LITERAL);
      if (atom != nullptr) {
        atom->left.literal[0] = sc->lit1;
        atom->left.literal[1] = sc->lit2;
      }
      next_token(sc);
      break;
    case TOKEN_CLASS:
      atom = make_class_node(sc, sc->class_text);
      next_token(sc);
      break;
    case TOKEN_CARET:
      atom = make_node(sc, OP_LINE_START);
      next_token(sc);
      break;
    case TOKEN_DOLLAR:
      atom = make_node(sc, OP_LINE_END);
      next_token(sc);
      break;
    case TOKEN_OPEN:
      atom = parse_group(sc);
      *is_group = sc->token < TOKEN_LAZY_STAR || sc->token > TOKEN_BOUNDED;
      break;
    default: {  // a quantifier with nothing to repeat matches the empty string
      next_token(sc);
      return make_node(sc, OP_EMPTY);
    }
  }
  return parse_quantifier(sc, atom);
}

PatternNode* parse_sequence(PatternScanner* sc) {
  if (ends_sequence(sc->token)) return make_node(sc, OP_EMPTY);
  PatternNode* done = nullptr;  // items before the last one
  PatternNode* last = nullptr;
  bool last_is_group = false;
  while (!ends_sequence(sc->token) && !sc->failed) {
    PatternNode* item;
    if (sc->token == TOKEN_CAPTURE) {
      const char* name = sc->capture_name;
      bool at_end = *sc->pos == 0;
      next_token(sc);
      if (last_is_group) {
        last = make_capture(sc, name, last);
        last_is_group = false;
        continue;
      }
      // A capture of its own: any text, lazily unless it ends the pattern.
      item = make_capture(
          sc, name,
          make_repetition(sc, at_end ? OP_GREEDY : OP_LAZY, make_class_node(sc, DOT_CLASS)));
      last_is_group = false;
    } else {
      item = parse_item(sc, &last_is_group);
    }
    if (last != nullptr) done = done == nullptr ? last : join(sc, OP_CONCAT, done, last);
    last = item;
  }
  if (done == nullptr) return last;
  return join(sc, OP_CONCAT, done, last);
}

PatternNode* parse_alternation(PatternScanner* sc) {
  PatternNode* node = parse_sequence(sc);
  while (sc->token == TOKEN_BAR && !sc->failed) {
    next_token(sc);
    PatternNode* alternative = parse_sequence(sc);
    node = join(sc, OP_ALTERNATION, alternative, node);
  }
  return node;
}

// ---- automaton ----

struct Builder {
  CompiledPattern* pattern;
  std::int32_t next_state;
  bool failed;
};

std::int32_t count_states(const PatternNode* node) {
  std::int32_t count = 0;
  while (node != nullptr) {
    if (node->op == OP_CONCAT) {
      count += 1 + count_states(node->right.child);
      node = node->left.child;
    } else if (node->op == OP_ALTERNATION) {
      count += count_states(node->left.child);
      node = node->right.child;
    } else if (node->op == OP_GREEDY || node->op == OP_LAZY) {
      count += 2;
      node = node->left.child;
    } else {
      node = nullptr;
    }
  }
  return count;
}

PatternTransition* add_transition(Builder* b, const PatternNode* node, std::int32_t from,
                                  std::int32_t to, std::int32_t step) {
  PatternTransition* t = alloc_record<PatternTransition>();
  if (t == nullptr) {
    b->failed = true;
    return nullptr;
  }
  b->pattern->bytes += sizeof(PatternTransition);
  t->type = node->op;
  t->step = step;
  t->target = to;
  switch (node->op) {
    case OP_LITERAL:
      t->data.literal[0] = node->left.literal[0];
      t->data.literal[1] = node->left.literal[1];
      break;
    case OP_CLASS: {
      std::size_t size = std::strlen(node->left.class_text) + 1;
      t->data.class_text = static_cast<char*>(alloc_block(size));
      if (t->data.class_text == nullptr) {
        release(&t);
        b->failed = true;
        return nullptr;
      }
      std::memcpy(t->data.class_text, node->left.class_text, size);
      b->pattern->bytes += size;
      char subject[2] = {0, 0};
      for (int c = 1; c < 256; ++c) {
        subject[0] = static_cast<char>(c);
        if (class_matches(t->data.class_text, subject)) t->byte_set[c >> 3] |= 1u << (c & 7);
      }
      break;
    }
    case OP_GROUP_START:
    case OP_GROUP_END:
      t->data.group = node->left.group;
      break;
    case OP_CAPTURE:
      t->data.name = node->left.name;
      t->data2 = node->right.name;
      break;
    default:
      break;
  }
  t->next = b->pattern->states[from];
  b->pattern->states[from] = t;
  return t;
}

// A transition of a repetition's own (entry, back edge, exit).
PatternTransition* add_loop_edge(Builder* b, const PatternNode* rep, std::int32_t from,
                                 std::int32_t to) {
  PatternNode empty = {};
  empty.op = rep->op;
  return add_transition(b, &empty, from, to, -1);
}

void build(Builder* b, const PatternNode* node, std::int32_t from, std::int32_t to) {
  while (node != nullptr && !b->failed) {
    switch (node->op) {
      case OP_LITERAL:
      case OP_CLASS:
        add_transition(b, node, from, to, 0);
        return;
      case OP_LINE_START:
        if (from == b->pattern->start_state) {
          add_transition(b, node, from, to, -1);
          b->pattern->line_start = 1;
        }
        return;
      case OP_LINE_END:
        if (to == b->pattern->final_state) {
          add_transition(b, node, from, to, -1);
          b->pattern->line_end = 1;
        }
        return;
      case OP_CONCAT: {
        std::int32_t middle = b->next_state++;
        build(b, node->right.child, middle, to);
        node = node->left.child;
        to = middle;
        continue;
      }
      case OP_ALTERNATION:
        build(b, node->left.child, from, to);
        node = node->right.child;
        continue;
      case OP_GREEDY:
      case OP_LAZY: {
        std::int32_t head = b->next_state;
        b->next_state += 2;
        const PatternNode* body = node->left.child;
        bool nullable = body == nullptr || body->nullable;
        std::int32_t loop = nullable ? ++b->pattern->loop_count : 0;
        PatternTransition* enter = add_loop_edge(b, node, from, head);
        PatternTransition* back = add_loop_edge(b, node, head + 1, head);
        if (b->failed) return;
        enter->loop = loop;
        back->loop = loop;
        if (nullable) back->loop_exit = to;
        if (node->op == OP_GREEDY) {
          add_loop_edge(b, node, head, to);
          if (body != nullptr && (body->op == OP_LITERAL || body->op == OP_CLASS)) {
            PatternTransition* t = add_transition(b, body, head, head + 1, 0);
            if (t != nullptr) t->star = 1;
            return;
          }
          node = body;
          from = head;
          to = head + 1;
          continue;
        }
        build(b, body, head, head + 1);
        add_loop_edge(b, node, head, to);
        return;
      }
      default:  // empty, group and capture markers
        add_transition(b, node, from, to, -1);
        return;
    }
  }
}

void set_bit(std::uint8_t* set, unsigned c) {
  set[c >> 3] |= static_cast<std::uint8_t>(1u << (c & 7));
}

// Whether a class can match some double-byte character (conservative).
bool class_may_match_wide(const char* cls) {
  if (*cls == '^') return true;
  for (const char* p = cls; *p != 0; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (is_lead_byte(c) && p[1] != 0) return true;
    if (c == '\\' && p[1] != 0) {
      const char* expansion = class_escape_text(static_cast<unsigned char>(p[1]));
      if (expansion != nullptr && *expansion == '^') return true;
      ++p;
    }
  }
  return false;
}

// The bytes a match can begin with: walk the non-consuming closure of the start state.
void compute_first_bytes(CompiledPattern* pattern) {
  std::int32_t count = pattern->state_count;
  std::int32_t* pending = static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * count));
  std::uint8_t* seen = static_cast<std::uint8_t*>(alloc_zeroed(count));
  if (pending == nullptr || seen == nullptr) {
    pattern->any_first = 1;
    release(&pending);
    release(&seen);
    return;
  }
  std::int32_t top = 0;
  pending[top++] = pattern->start_state;
  seen[pattern->start_state] = 1;
  while (top > 0 && !pattern->any_first) {
    std::int32_t state = pending[--top];
    if (state == pattern->final_state) {
      pattern->any_first = 1;
      break;
    }
    for (const PatternTransition* t = pattern->states[state]; t != nullptr; t = t->next) {
      if (t->step != 0) {
        if (!seen[t->target]) {
          seen[t->target] = 1;
          pending[top++] = t->target;
        }
      } else if (t->type == OP_LITERAL) {
        set_bit(pattern->first_bytes, t->data.literal[0]);
      } else {
        bool wide = class_may_match_wide(t->data.class_text);
        for (unsigned c = 1; c < 256; ++c) {
          if ((t->byte_set[c >> 3] >> (c & 7)) & 1 || (wide && is_lead_byte(c))) {
            set_bit(pattern->first_bytes, c);
          }
        }
      }
    }
  }
  release(&pending);
  release(&seen);
  pattern->first_byte_count = 0;
  for (unsigned c = 0; c < 256; ++c)
    pattern->first_byte_count += (pattern->first_bytes[c >> 3] >> (c & 7)) & 1;
}

// Literals on the concatenation spine of the tree lie on every path through it.
void collect_required(CompiledPattern* pattern, const PatternNode* node) {
  while (node != nullptr && pattern->required_count < 4) {
    if (node->op == OP_CONCAT) {
      collect_required(pattern, node->right.child);
      node = node->left.child;
      continue;
    }
    if (node->op == OP_LITERAL) {
      unsigned char byte = node->left.literal[0];
      bool known = false;
      for (std::int32_t i = 0; i < pattern->required_count; ++i)
        known |= pattern->required[i] == byte;
      if (!known) pattern->required[pattern->required_count++] = byte;
    }
    return;
  }
}

}  // namespace

std::int32_t control_escape_byte(unsigned char letter) {
  switch (letter) {
    case 'n':
    case 'N':
      return '\n';
    case 'r':
    case 'R':
      return '\r';
    case 't':
    case 'T':
      return '\t';
    default:
      return -1;
  }
}

const char* class_escape_text(unsigned char letter) {
  switch (letter) {
    case 'd':
      return "0-9";
    case 'D':
      return "^0-9";
    case 's':
      return "\t\r\n ";
    case 'S':
      return "^\t\r\n ";
    case 'w':
      return "0-9a-zA-Z_";
    case 'W':
      return "^0-9a-zA-Z_";
    default:
      return nullptr;
  }
}

namespace {

// Lists the capture names once, for list_captures to copy at each search.
void keep_capture_names(CompiledPattern* pattern) {
  std::int32_t slots = capture_slot_count(pattern);
  if (slots == 0) return;
  auto* table = static_cast<CaptureSlot*>(alloc_zeroed(sizeof(CaptureSlot) * slots));
  std::int32_t count = table != nullptr ? list_captures(pattern, table) : 0;
  auto* names =
      count > 0 ? static_cast<const char**>(alloc_block(sizeof(const char*) * count)) : nullptr;
  if (names != nullptr) {
    for (std::int32_t i = 0; i < count; ++i)
      names[i] = table[i].name;
    pattern->capture_names = names;
    pattern->capture_count = count;
    pattern->bytes += sizeof(const char*) * count;
  }
  release(&table);
}

}  // namespace

CompiledPattern* compile_pattern(const char* text, PatternProblem* problem) {
  if (problem != nullptr) *problem = PATTERN_NO_MEMORY;
  PatternScanner* sc = alloc_record<PatternScanner>();
  if (sc == nullptr) return nullptr;
  sc->pos = text;
  next_token(sc);
  // Parsing stops at the end or at a ")" that closes nothing; the rest is ignored.
  sc->tree = parse_alternation(sc);
  CompiledPattern* pattern = nullptr;
  if (!sc->failed) pattern = alloc_record<CompiledPattern>();
  if (pattern != nullptr) {
    std::int32_t states = 2 + count_states(sc->tree);
    pattern->states =
        static_cast<PatternTransition**>(alloc_zeroed(sizeof(PatternTransition*) * states));
    pattern->start_state = 0;
    pattern->final_state = 1;
    pattern->state_count = states;
    pattern->group_slots = sc->group_count + 1;
    pattern->bytes = sizeof(CompiledPattern) + sizeof(PatternTransition*) * states;
    Builder b = {pattern, 2, pattern->states == nullptr};
    if (!b.failed) build(&b, sc->tree, pattern->start_state, pattern->final_state);
    if (b.failed) {
      free_pattern(&pattern);
    } else {
      compute_first_bytes(pattern);
      collect_required(pattern, sc->tree);
      keep_capture_names(pattern);
    }
  }
  if (problem != nullptr) {
    *problem = pattern != nullptr ? PATTERN_OK
               : sc->too_complex  ? PATTERN_TOO_COMPLEX
                                  : PATTERN_NO_MEMORY;
  }
  free_tree(sc->tree);
  release(&sc);
  return pattern;
}

void free_pattern(CompiledPattern** pattern) {
  CompiledPattern* p = *pattern;
  if (p == nullptr) return;
  if (p->literal_text != nullptr) free_literal_automaton(p);
  release(&p->capture_names);
  if (p->states != nullptr) {
    for (std::int32_t i = 0; i < p->state_count; ++i) {
      PatternTransition* t = p->states[i];
      while (t != nullptr) {
        PatternTransition* next = t->next;
        if (t->type == OP_CLASS && t->step == 0) release(&t->data.class_text);
        release(&t);
        t = next;
      }
    }
    release(&p->states);
  }
  release(pattern);
}
