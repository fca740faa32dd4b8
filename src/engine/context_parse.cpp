#include "engine/context_parse.h"

#include <cstring>

#include "base/cp932.h"

#include "engine/directive.h"
#include "engine/error_report.h"
#include "engine/function_vm.h"
#include "engine/script.h"
#include "frontend/expression_parser.h"
#include "frontend/parse_owner.h"
#include "frontend/statement_parser.h"
#include "platform/memory.h"

namespace {

// What one parse needs of the engine; the ParseOwner's data.
struct ContextParse {
  CallContext* context;
  FunctionEntry** function_tail;  // where the next definition's entry goes; found on first use
};

void report_to_context(void* data, const char* message, const char* position) {
  report_error(static_cast<ContextParse*>(data)->context, message, position, 0);
}

bool define_in_module(void* data, const char* name, SyntaxNode* definition) {
  auto* parse = static_cast<ContextParse*>(data);
  Script* module = parse->context->script;
  FunctionEntry* entry = alloc_record<FunctionEntry>();
  char* copy = entry != nullptr ? dup_string(name) : nullptr;
  if (copy == nullptr) {
    release(&entry);
    return false;
  }
  entry->name = copy;
  entry->name_hash = name_hash_of(copy);
  entry->definition = definition;
  entry->module = module;
  // The chain's end is looked up once per parse, so many definitions cost no quadratic walk.
  if (parse->function_tail == nullptr) {
    parse->function_tail = &module->functions;
    while (*parse->function_tail != nullptr)
      parse->function_tail = &(*parse->function_tail)->next;
  }
  *parse->function_tail = entry;
  parse->function_tail = &entry->next;
  // Linked already: a failed parse frees it with the rest of the chain.
  return index_function(module, entry);
}

const char* run_module_directive(void* data, const char* position) {
  Script* script = static_cast<ContextParse*>(data)->context->script;
  return run_directive(script, script->directory, position);
}

ParseOwner owner_for(ContextParse* parse) {
  ParseOwner owner{};
  owner.data = parse;
  owner.bind_mode = parse->context->bind_mode == 1 ? 1 : 0;
  owner.report = report_to_context;
  owner.define_function = define_in_module;
  owner.run_directive = run_module_directive;
  return owner;
}

}  // namespace

SyntaxNode* parse_script_text(CallContext* owner, const char* text, std::int32_t depth) {
  if (owner == nullptr || owner->script == nullptr) return nullptr;
  ContextParse parse{owner, nullptr};
  const ParseOwner parse_owner = owner_for(&parse);
  bool failed = false;
  SyntaxNode* code = parse_script_text(&parse_owner, text, depth, &failed);
  if (failed) free_function_entries(owner->script);
  return code;
}

SyntaxNode* parse_expression_text(CallContext* owner, const char* text) {
  if (owner == nullptr) return parse_expression_text(static_cast<const ParseOwner*>(nullptr), text);
  ContextParse parse{owner, nullptr};
  const ParseOwner parse_owner = owner_for(&parse);
  return parse_expression_text(&parse_owner, text);
}

const char* find_embedded_part(const char* cursor) {
  while (*cursor != '\0') {
    if (is_lead_byte(static_cast<unsigned char>(*cursor)) && cursor[1] != '\0') {
      cursor += 2;
    } else if (cursor[0] != '%') {
      ++cursor;
    } else if (cursor[1] == '%') {
      cursor += 2;
    } else {
      break;
    }
  }
  return cursor;
}

namespace {

// The text after the "%" at `lead` up to the next "%" (or the end), parsed by `parse`.
template <typename Parse>
SyntaxNode* parse_part(const char* lead, bool* no_memory, Parse parse) {
  const char* start = lead + 1;
  const char* end = std::strchr(start, '%');
  char* expression = copy_span(
      start,
      static_cast<std::int32_t>((end != nullptr ? end : start + std::strlen(start)) - start + 1));
  *no_memory = expression == nullptr;
  SyntaxNode* list = expression != nullptr ? parse(expression) : nullptr;
  release(&expression);
  return list;
}

void report_nowhere(void*, const char*, const char*) {}
bool define_nowhere(void*, const char*, SyntaxNode*) {
  return false;
}
const char* run_nowhere(void*, const char*) {
  return nullptr;
}

}  // namespace

SyntaxNode* parse_embedded_part(CallContext* owner, const char* lead, bool* no_memory) {
  return parse_part(lead, no_memory,
                    [owner](const char* text) { return parse_expression_text(owner, text); });
}

SyntaxNode* parse_binding_part(const char* lead, bool* no_memory) {
  static constexpr ParseOwner kBinding{nullptr, 1, report_nowhere, define_nowhere, run_nowhere};
  return parse_part(lead, no_memory,
                    [](const char* text) { return parse_expression_text(&kBinding, text); });
}

void free_function_entries(Script* module) {
  release_function_index(module);
  FunctionEntry* entry = module->functions;
  module->functions = nullptr;
  while (entry != nullptr) {
    FunctionEntry* next = entry->next;
    release(&entry->name);
    release_function_vm(entry);
    release(&entry);
    entry = next;
  }
}
