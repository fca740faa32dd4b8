// Token kinds and syntax-node kinds share one numbering; a parsed script is a linear list of nodes
// in postfix order threaded through `next`, with sub-lists in `body`.
#pragma once

#include <cstdint>

struct CompiledPattern;
struct NameTable;

// The evaluator relies on the ranges: 13-31 binary operators, 32-39 unary operators; the markers
// Else, EndIf, LoopTop and LoopEnd do nothing when reached. There is no kind 2.
enum class NodeKind : std::int32_t {
  None = 0,
  End = 1,
  Semicolon = 3,
  Colon = 4,
  Comma = 5,
  Block = 6,
  RBrace = 7,
  LParen = 8,
  RParen = 9,
  LBracket = 10,
  RBracket = 11,
  Assign = 12,
  LogicalAnd = 13,
  LogicalOr = 14,
  Less = 15,
  LessEqual = 16,
  Greater = 17,
  GreaterEqual = 18,
  Equal = 19,
  Match = 20,
  NotEqual = 21,
  BitAnd = 22,
  BitOr = 23,
  BitXor = 24,
  ShiftLeft = 25,
  ShiftRight = 26,
  Add = 27,
  Subtract = 28,
  Multiply = 29,
  Divide = 30,
  Modulo = 31,
  Not = 32,
  Complement = 33,
  Plus = 34,
  Negate = 35,
  PreIncrement = 36,
  PreDecrement = 37,
  PostIncrement = 38,
  PostDecrement = 39,
  Directive = 40,
  ApplyPostfix = 41,
  Number = 42,
  String = 43,
  Pattern = 44,
  DeclareName = 45,
  Name = 46,
  Index = 47,
  Function = 48,
  Argmatch = 49,
  CallStart = 50,
  Call = 51,
  FunctionEnd = 52,
  Var = 53,
  If = 54,
  Else = 55,
  For = 56,
  While = 57,
  Do = 58,
  Break = 59,
  Continue = 60,
  Switch = 61,
  Case = 62,
  Default = 63,
  Return = 64,
  Exit = 65,
  Jump = 66,
  SkipIfTrue = 67,
  EndIf = 68,
  Loop = 69,
  LoopTop = 70,
  LoopEnd = 71,
  DoTest = 72,
};

constexpr bool is_binary_operator(NodeKind kind) {
  return kind >= NodeKind::LogicalAnd && kind <= NodeKind::Modulo;
}
constexpr bool is_unary_operator(NodeKind kind) {
  return kind >= NodeKind::Not && kind <= NodeKind::PostDecrement;
}

// What a Call node's call-site cache holds.
enum CallTargetKind : std::int32_t {
  CALL_TARGET_NONE = 0,
  CALL_TARGET_FUNCTION = 1,  // call_target is a FunctionEntry
  CALL_TARGET_NATIVE = 2,    // call_target is a native entry point
  CALL_TARGET_READER = 3,    // the same, for a function that only reads its arguments
};

struct SyntaxNode {
  NodeKind kind;
  char* text;                // owned: the lower-cased name, or a string literal's raw bytes
  CompiledPattern* pattern;  // owned: String and Pattern nodes
  std::int32_t number;       // Number nodes; Name and DeclareName: the signature of the name
  const char* source;        // where the node's token starts in the script text
  void* call_target;         // Call nodes: the callee cached on first use
  std::int32_t call_target_kind;
  SyntaxNode* next;            // owned
  SyntaxNode* body;            // owned sub-list
  SyntaxNode* target;          // Jump nodes: execution continues after this node; not owned
  // Name and DeclareName: the name table of the code the node belongs to (not owned) and the
  // name's slot in it; Function and Argmatch: the table of the definition. Null for nodes parsed
  // at run time.
  const NameTable* name_table;
  std::int32_t name_slot;
  // Name nodes with a table: the global the name found last when no frame had it (read and
  // written atomically; globals live as long as the code that names them). Else null.
  void* global_cell;
  // String nodes read in place by a built-in (see expression.cpp): the constant cell and Value
  // that stand for the literal, made on first use (set atomically; owned, the text is not).
  void* literal_constant;
  // String nodes: 1 when the raw text is the literal's value (no escape, no «%expr%» part), 2 when
  // it is not, 0 until first asked (set atomically; every thread computes the same).
  std::int32_t plain_text;
};

// The name of a Name or DeclareName node without its leading "&" ("" for a node without text).
inline const char* bare_name(const SyntaxNode* node) {
  const char* name = node->text != nullptr ? node->text : "";
  return *name == '&' ? name + 1 : name;
}

// A zero-filled node of the given kind and source position; null when memory runs out.
SyntaxNode* make_syntax_node(NodeKind kind, const char* source);
// Frees the node with its body list, its next list, its pattern and its text, and clears the
// pointer; freeing the head of a list frees the whole list.
void free_syntax_node(SyntaxNode** node);
