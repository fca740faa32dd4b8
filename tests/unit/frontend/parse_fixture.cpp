#include "parse_fixture.h"

#include "engine/context_parse.h"
#include "engine/name_table.h"
#include "frontend/lexer.h"

namespace {

constexpr const char* KIND_NAMES[] = {
    "None",
    "End",
    "2",
    "Semicolon",
    "Colon",
    "Comma",
    "Block",
    "RBrace",
    "LParen",
    "RParen",
    "LBracket",
    "RBracket",
    "Assign",
    "LogicalAnd",
    "LogicalOr",
    "Less",
    "LessEqual",
    "Greater",
    "GreaterEqual",
    "Equal",
    "Match",
    "NotEqual",
    "BitAnd",
    "BitOr",
    "BitXor",
    "ShiftLeft",
    "ShiftRight",
    "Add",
    "Subtract",
    "Multiply",
    "Divide",
    "Modulo",
    "Not",
    "Complement",
    "Plus",
    "Negate",
    "PreIncrement",
    "PreDecrement",
    "PostIncrement",
    "PostDecrement",
    "Directive",
    "ApplyPostfix",
    "Number",
    "String",
    "Pattern",
    "DeclareName",
    "Name",
    "Index",
    "Function",
    "Argmatch",
    "CallStart",
    "Call",
    "FunctionEnd",
    "Var",
    "If",
    "Else",
    "For",
    "While",
    "Do",
    "Break",
    "Continue",
    "Switch",
    "Case",
    "Default",
    "Return",
    "Exit",
    "Jump",
    "SkipIfTrue",
    "EndIf",
    "Loop",
    "LoopTop",
    "LoopEnd",
    "DoTest",
};

}  // namespace

const char* kind_name(NodeKind kind) {
  auto index = static_cast<std::size_t>(kind);
  return index < std::size(KIND_NAMES) ? KIND_NAMES[index] : "?";
}

std::string render(const SyntaxNode* list) {
  std::string out;
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (!out.empty()) out += ' ';
    const std::string text = node->text != nullptr ? node->text : "";
    switch (node->kind) {
      case NodeKind::Name:
        out += "[" + text + "]";
        break;
      case NodeKind::DeclareName:
        out += "decl:" + text;
        break;
      case NodeKind::Call:
        out += "call:" + text;
        break;
      case NodeKind::Number:
        out += std::to_string(node->number);
        break;
      case NodeKind::String:
        out += "\"" + text + "\"";
        break;
      case NodeKind::Pattern:
        out += "pat:\"" + text + "\"";
        break;
      case NodeKind::Jump:
        out += std::string("Jump>") + (node->target ? kind_name(node->target->kind) : "null");
        break;
      default:
        out += kind_name(node->kind);
    }
    if (node->body != nullptr || node->kind == NodeKind::Block) {
      out += "{" + render(node->body) + "}";
    }
  }
  return out;
}

std::string tokens(const char* text) {
  ScriptFixture fixture;
  Script* module = fixture.add_module("main", text);
  ParserState state;
  init_parser_state(&state, nullptr, module->text, 0);
  std::string out;
  for (;;) {
    if (!next_token(&state)) {
      return out + (out.empty() ? "" : " ") + "!error@" +
             std::to_string(state.start - module->text);
    }
    if (state.kind == NodeKind::End) return out;
    if (!out.empty()) out += ' ';
    out += kind_name(state.kind);
  }
}

ParseRun::ParseRun(const char* text, std::int32_t depth) : fixture_(host_.host()) {
  module_ = fixture_.add_module("main", text);
  CallContext context = make_frame(module_, nullptr);
  module_->code = parse_script_text(&context, module_->text, depth);
  assign_name_tables(module_);
}
