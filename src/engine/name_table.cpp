#include "engine/name_table.h"

#include <cstring>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/element_index.h"
#include "engine/script.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

// Finds `name` in the index, or where it would go.
std::uint32_t probe(const NameTable* table, const char* name) {
  std::uint32_t at = static_cast<std::uint32_t>(key_hash(name)) & table->mask;
  while (table->index[at] != 0 && !same_name(table->names[table->index[at] - 1], name))
    at = (at + 1) & table->mask;
  return at;
}

void free_table(NameTable* table) {
  for (std::int32_t i = 0; i < table->owned_count; ++i)
    release(&table->owned_names[i]);
  release(&table->owned_names);
  release(&table->names);
  release(&table->index);
  release(&table);
}

// Doubles the room for names and index; false when memory runs out.
bool grow(NameTable* table) {
  std::uint32_t capacity = table->mask == 0 ? 16 : (table->mask + 1) * 2;
  auto* names = static_cast<const char**>(alloc_block(sizeof(const char*) * (capacity / 2)));
  auto* index = static_cast<std::int32_t*>(alloc_zeroed(sizeof(std::int32_t) * capacity));
  if (names == nullptr || index == nullptr) {
    release(&names);
    release(&index);
    return false;
  }
  if (table->count > 0)
    std::memcpy(names, table->names, sizeof(const char*) * static_cast<std::size_t>(table->count));
  release(&table->names);
  release(&table->index);
  table->names = names;
  table->index = index;
  table->mask = capacity - 1;
  for (std::int32_t number = 0; number < table->count; ++number)
    table->index[probe(table, names[number])] = number + 1;
  return true;
}

// An empty table of the module's, released with it; null when memory runs out.
NameTable* new_table(Script* module) {
  NameTable* table = alloc_record<NameTable>();
  if (table == nullptr) return nullptr;
  table->module = module;
  table->next = module->name_tables;
  module->name_tables = table;
  return table;
}

// Builds one table while its code is walked.
struct Builder {
  NameTable* table;
  bool failed = false;

  // The slot of `name`, added (the name borrowed) when the table lacks it; -1 when memory ran out.
  std::int32_t slot_of(const char* name) {
    if (failed) return -1;
    // Keep at most half the index in use.
    if (static_cast<std::uint32_t>(table->count + 1) * 2 > table->mask + 1 && !grow(table)) {
      failed = true;
      return -1;
    }
    std::uint32_t at = probe(table, name);
    if (table->index[at] == 0) {
      table->names[table->count] = name;
      table->index[at] = ++table->count;
    }
    return table->index[at] - 1;
  }

  void add(SyntaxNode* node) {
    std::int32_t slot = slot_of(bare_name(node));
    if (slot < 0) return;
    node->name_table = table;
    node->name_slot = slot;
  }

  // A name of code parsed from a literal: a copy of it is kept when the table lacks it.
  void add_copy(const char* name) {
    if (failed || (table->count > 0 && find_name_slot(table, name) >= 0)) return;
    std::int32_t count = table->owned_count;
    if ((count & (count - 1)) == 0) {  // 0, 1, 2, 4...: full
      auto** grown =
          static_cast<char**>(alloc_block(sizeof(char*) * static_cast<std::size_t>(count * 2 + 1)));
      if (grown == nullptr) {
        failed = true;
        return;
      }
      if (count > 0) std::memcpy(grown, table->owned_names, sizeof(char*) * count);
      release(&table->owned_names);
      table->owned_names = grown;
    }
    char* copy = dup_string(name);
    if (copy == nullptr) {
      failed = true;
      return;
    }
    table->owned_names[table->owned_count++] = copy;
    slot_of(copy);
  }

  void add_names_of(const SyntaxNode* list) {
    for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
      if (node->kind == NodeKind::Name || node->kind == NodeKind::DeclareName)
        add_copy(bare_name(node));
      add_names_of(node->body);
    }
  }

  // The names of a literal's «%expr%» parts (a pattern's capture targets): each part runs to the
  // next "%", "%%" is a percent sign, and a lead byte takes the byte after it. A part that does not
  // parse adds nothing: its run reports it.
  void add_literal_names(const char* text) {
    if (text == nullptr || std::strchr(text, '%') == nullptr) return;
    add_part_names(text);
    // A literal's parts are read after its escapes (`%h[\"k\"]%`); a pattern's as written. Names
    // of both readings have slots: one more costs nothing.
    if (std::strchr(text, '\\') == nullptr || failed) return;
    char* unescaped = dup_string(text);
    if (unescaped == nullptr) {
      failed = true;
      return;
    }
    unescape_text(unescaped);
    add_part_names(unescaped);
    release(&unescaped);
  }

  void add_part_names(const char* text) {
    for (const char* lead = find_embedded_part(text); *lead != '\0' && !failed;) {
      bool no_memory = false;
      SyntaxNode* parsed = parse_embedded_part(nullptr, lead, &no_memory);
      add_names_of(parsed);
      free_syntax_node(&parsed);
      const char* close = std::strchr(lead + 1, '%');
      lead = close != nullptr ? find_embedded_part(close + 1) : lead + std::strlen(lead);
    }
  }
};

void walk(Script* module, SyntaxNode* list, const SyntaxNode* end, Builder* builder);

// A definition's own table covers its parameters and body; returns its FunctionEnd (or null).
SyntaxNode* walk_definition(Script* module, SyntaxNode* head) {
  SyntaxNode* end = head->next;
  while (end != nullptr && end->kind != NodeKind::FunctionEnd)
    end = end->next;
  Builder inner{new_table(module)};
  if (inner.table == nullptr) return end;
  walk(module, head->next, end, &inner);
  if (!inner.failed) head->name_table = inner.table;
  return end;
}

// Gives the names of `list` up to `end` (or its last node), and of the lists under them, slots in
// the builder's table; a definition met on the way gets a table of its own.
void walk(Script* module, SyntaxNode* list, const SyntaxNode* end, Builder* builder) {
  for (SyntaxNode* node = list; node != nullptr && node != end; node = node->next) {
    if (node->kind == NodeKind::Function || node->kind == NodeKind::Argmatch) {
      node = walk_definition(module, node);
      if (node == nullptr) break;
      continue;
    }
    if (node->kind == NodeKind::Name || node->kind == NodeKind::DeclareName) builder->add(node);
    if (node->kind == NodeKind::String || node->kind == NodeKind::Pattern)
      builder->add_literal_names(node->text);
    if (node->body != nullptr) walk(module, node->body, nullptr, builder);
  }
}

}  // namespace

void assign_name_tables(Script* module) {
  Builder top{new_table(module)};
  if (top.table == nullptr) return;
  walk(module, module->code, nullptr, &top);
  // A table that could not be completed is given to no frame, so its nodes use the chains.
  if (!top.failed) module->top_names = top.table;
}

std::int32_t find_name_slot(const NameTable* table, const char* name) {
  if (table->count == 0) return -1;
  std::int32_t number = table->index[probe(table, name)];
  return number - 1;
}

void release_name_tables(Script* module) {
  for (NameTable* table = module->name_tables; table != nullptr;) {
    NameTable* next = table->next;
    free_table(table);
    table = next;
  }
  module->name_tables = nullptr;
  module->top_names = nullptr;
}
