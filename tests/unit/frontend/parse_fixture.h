// Helpers for front-end tests: a module with a capturing host to parse in, and a compact rendering
// of node lists and token streams that assertions can compare as text.
#pragma once

#include <string>

#include "base/syntax_node.h"
#include "engine/script.h"
#include "support/test_host.h"

// "Semicolon", "Assign", ... for a kind number.
const char* kind_name(NodeKind kind);

// Nodes in `next` order separated by blanks: names as [a], declarations as decl:a, calls as call:f,
// numbers as their value, strings quoted, patterns as pat:"..", sub-lists in braces after their
// node, and jumps as Jump>TargetKind.
std::string render(const SyntaxNode* list);

// The token kinds of `text` up to End; an error ends the list with "!error@" and its offset.
std::string tokens(const char* text);

// A module "main" holding `text`, parsed as a script file on behalf of a loader-like context.
class ParseRun {
 public:
  explicit ParseRun(const char* text, std::int32_t depth = 0);
  ParseRun(const ParseRun&) = delete;
  ParseRun& operator=(const ParseRun&) = delete;

  SyntaxNode* list() { return module_->code; }
  Script* module() { return module_; }
  const char* text() { return module_->text; }
  std::string rendered() { return render(module_->code); }
  std::vector<std::string> errors() { return host_.error_lines(); }

 private:
  TestHost host_;
  ScriptFixture fixture_;
  Script* module_;
};
