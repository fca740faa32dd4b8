// ScriptSet records, frames, and name resolution.
#include "engine/script.h"

#include <atomic>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/cells.h"
#include "engine/context_parse.h"
#include "engine/element_index.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/name_table.h"
#include "engine/walk_stack.h"
#include "platform/memory.h"

Script* create_script_set(std::int32_t explicit_flag) {
  Script* set = alloc_record<Script>();
  if (set == nullptr) return nullptr;
  set->root = set;
  set->is_explicit = explicit_flag;
  lock_init(&set->lock);
  return set;
}

static void release_script_record(Script* script) {
  release(&script->name);
  release(&script->directory);
  release(&script->text);
  free_syntax_node(&script->code);
  if (script->globals != nullptr) note_shared_chains_changed();  // other threads may index them
  free_chain(script->globals);
  script->globals = nullptr;
  free_function_entries(script);
  release_name_tables(script);
  for (LibraryEntry* entry = script->libraries; entry != nullptr;) {
    LibraryEntry* next = entry->next;
    free_library(entry->handle);
    release(&entry);
    entry = next;
  }
  if (script->root == script) lock_destroy(&script->lock);
  release(&script);
}

void release_script_set(Script** script_set) {
  Script* set = *script_set;
  *script_set = nullptr;
  if (set == nullptr) return;
  // Reverse the module chain so that the modules go from the last loaded back to the first, and the
  // root, which owns the lock, goes last.
  Script* reversed = nullptr;
  for (Script* module = set->next; module != nullptr;) {
    Script* next = module->next;
    module->next = reversed;
    reversed = module;
    module = next;
  }
  for (Script* module = reversed; module != nullptr;) {
    Script* next = module->next;
    release_script_record(module);
    module = next;
  }
  release_script_record(set);
}

namespace {

// Gives the frame its slots, all empty; false when memory runs out.
bool make_slots(CallContext* frame) {
  std::int32_t count = frame->names->count;
  if (count <= CallContext::kInlineSlots) {
    for (ValueNode*& slot : frame->inline_slots)
      slot = nullptr;
  } else {
    frame->heap_slots = take_slot_array(count);
    if (frame->heap_slots == nullptr) return false;
  }
  frame->slot_count = count;
  return true;
}

// The slot of a name is looked up in the frame's table unless the caller knows it.
constexpr std::int32_t kSlotToFind = -2;

ValueNode* append_local(CallContext* context, const char* name, std::int32_t name_hash,
                        std::int32_t slot = kSlotToFind) {
  if (slot == kSlotToFind)
    slot = context->names != nullptr ? find_name_slot(context->names, name) : -1;
  if (slot >= 0 && context->slot_count == 0 && !make_slots(context)) return nullptr;
  ValueNode* cell = make_node();
  if (cell == nullptr) return nullptr;
  // A local of the table borrows the table's name: release_frame gives it back before the cell
  // goes.
  cell->name = slot >= 0 && context->keeps_locals == 0
                   ? const_cast<char*>(context->names->names[slot])
                   : dup_string(name);
  if (cell->name == nullptr) {
    free_node(cell);
    return nullptr;
  }
  cell->name_hash = name_hash;
  // The chain keeps declaration order: `arg`, the built-ins and the globals a top level leaves
  // read it. New locals go behind the last one.
  ValueNode** tail = context->last_local != nullptr ? &context->last_local->next : &context->locals;
  *tail = cell;
  context->last_local = cell;
  if (slot >= 0) frame_slots(context)[slot] = cell;
  return cell;
}

// A declaration that could not be made is reported, as any other lack of memory.
ValueNode* append_or_report(CallContext* context, const char* name, std::int32_t name_hash,
                            const char* position, std::int32_t slot = kSlotToFind) {
  ValueNode* cell = append_local(context, name, name_hash, slot);
  if (cell == nullptr) report_error(context, "Alloc failed", position, 0);
  return cell;
}

// Sets `arg` (made if missing) to 0 with references to the arguments as its elements.
void define_arg(CallContext* frame, ValueNode* arguments) {
  ValueNode* arg = find_in_private_chain(frame->locals, "arg", kArgNameHash);
  if (arg != nullptr) {
    set_arg(frame, arg, arguments);
    return;
  }
  arg = append_local(frame, "arg", kArgNameHash);
  if (arg != nullptr) set_arg(frame, arg, arguments);
}

}  // namespace

void set_arg(CallContext* frame, ValueNode* arg, ValueNode* arguments) {
  // A reference parameter called arg: the caller's variable is not the call's `arg`.
  take_own_value(arg);
  Value zero{};
  assign_value(frame, arg->value, &zero);
  ValueNode* chain = nullptr;
  ValueNode** tail = &chain;
  for (ValueNode* argument = arguments; argument != nullptr; argument = argument->next) {
    ValueNode* reference = make_reference(argument);
    if (reference == nullptr) break;
    *tail = reference;
    tail = &reference->next;
  }
  ValueNode* owner = arg->value->owner;
  if (owner->elements != nullptr) note_chains_changed();  // the old cells may be indexed
  free_chain(owner->elements);
  owner->elements = chain;
  arg->elements = chain;
}

namespace {

ValueNode NoArgumentsMark{};

[[gnu::noinline, gnu::cold]] void make_pending_arg(CallContext* frame) {
  ValueNode* arguments = frame->pending_arg;
  frame->pending_arg = nullptr;
  define_arg(frame, arguments != NO_ARGUMENTS ? arguments : nullptr);
}

// Makes the frame's `arg` now if it is still pending and `name` is "arg".
inline void settle_arg(CallContext* frame, const char* name, std::int32_t name_hash) {
  if (name_hash == kArgNameHash && frame->pending_arg != nullptr && same_name(name, "arg")) {
    make_pending_arg(frame);
  }
}

}  // namespace

ValueNode* const NO_ARGUMENTS = &NoArgumentsMark;

void provide_arg(CallContext* frame, ValueNode* arguments) {
  if (find_in_private_chain(frame->locals, "arg", kArgNameHash) != nullptr) {
    define_arg(frame, arguments);
    return;
  }
  frame->pending_arg = arguments != nullptr ? arguments : NO_ARGUMENTS;
}

void release_frame(CallContext* context) {
  context->pending_arg = nullptr;
  if (ValueNode** slots = frame_slots(context); slots != nullptr && context->keeps_locals == 0) {
    for (std::int32_t slot = 0; slot < context->slot_count; ++slot) {
      if (slots[slot] != nullptr && slots[slot]->name == context->names->names[slot])
        slots[slot]->name = nullptr;
    }
  }
  if (context->heap_slots != nullptr) give_slot_array(context->heap_slots, context->slot_count);
  context->heap_slots = nullptr;
  context->slot_count = 0;
  context->last_local = nullptr;
  free_variables(context->locals);
  context->locals = nullptr;
  context->function_name = nullptr;
}

ValueNode* find_local(CallContext* context, const char* name) {
  return find_local(context, name, name_hash_of(name));
}

ValueNode* find_local(CallContext* context, const char* name, std::int32_t name_hash) {
  settle_arg(context, name, name_hash);
  return find_in_private_chain(context->locals, name, name_hash);
}

static bool same_ignoring_ascii_case(const char* a, std::size_t length_a, const char* b) {
  for (std::size_t i = 0; i < length_a; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (y == '\0') return false;
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return b[length_a] == '\0';
}

Script* find_script(Script* module, const char* qualified_name) {
  if (module == nullptr || qualified_name == nullptr) return nullptr;
  const char* dot = std::strchr(qualified_name, '.');
  if (dot == nullptr) return nullptr;
  std::size_t length = static_cast<std::size_t>(dot - qualified_name);
  Script* root = module->root != nullptr ? module->root : module;
  for (Script* candidate = root->next; candidate != nullptr; candidate = candidate->next) {
    if (candidate->name != nullptr &&
        same_ignoring_ascii_case(qualified_name, length, candidate->name)) {
      return candidate;
    }
  }
  return nullptr;
}

ValueNode* find_global(CallContext* context, const char* name, bool* failed) {
  if (failed != nullptr) *failed = false;
  if (context == nullptr || context->script == nullptr) return nullptr;
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return find_in_chain(context->script->globals, name, name_hash_of(name));
  Script* module = find_script(context->script, name);
  if (module == nullptr) {
    report_error(context, "Script not Found", name, 0);
    if (failed != nullptr) *failed = true;
    return nullptr;
  }
  return find_in_chain(module->globals, dot + 1, name_hash_of(dot + 1));
}

ValueNode* find_variable(CallContext* context, const char* name, bool* failed) {
  return find_variable(context, name, name_hash_of(name), failed);
}

namespace {

// What find_variable finds once no frame has the name.
ValueNode* find_outside_frames(CallContext* context, const char* name, std::int32_t name_hash,
                               bool* failed) {
  if (context == nullptr || context->script == nullptr) return nullptr;
  if (!is_qualified(name)) return find_in_chain(context->script->globals, name, name_hash);
  return find_global(context, name, failed);
}

}  // namespace

ValueNode* find_variable(CallContext* context, const char* name, std::int32_t name_hash,
                         bool* failed) {
  if (failed != nullptr) *failed = false;
  ValueNode* found = find_local(context, name, name_hash);
  if (found != nullptr) return found;
  return find_outside_frames(context, name, name_hash, failed);
}

ValueNode* find_named_variable(CallContext* context, const SyntaxNode* node, bool* failed) {
  const char* name = bare_name(node);
  const NameTable* table = node->name_table;
  if (table == nullptr) return find_variable(context, name, node->number, failed);
  if (failed != nullptr) *failed = false;
  settle_arg(context, name, node->number);
  ValueNode* found;
  if (context->names == table) {
    ValueNode** slots = frame_slots(context);
    found = slots != nullptr ? slots[node->name_slot] : nullptr;
  } else {
    found = find_in_private_chain(context->locals, name, node->number);
  }
  if (found != nullptr) return found;
  return find_node_global(context, node, failed);
}

ValueNode NoGlobal{};

ValueNode* find_node_global(CallContext* context, const SyntaxNode* node, bool* failed) {
  if (failed != nullptr) *failed = false;
  // A module's globals are only ever appended, and live as long as its code: the global a name
  // found stays what the name finds while no frame has the name. Once the chain is final, a name
  // it lacks stays missing too.
  std::atomic_ref<void*> kept(const_cast<SyntaxNode*>(node)->global_cell);
  const Script* module = node->name_table->module;
  bool own_code = context != nullptr && context->script == module;
  if (own_code) {
    if (void* global = kept.load(std::memory_order_acquire); global != nullptr)
      return global != &NoGlobal ? static_cast<ValueNode*>(global) : nullptr;
  }
  const char* name = bare_name(node);
  ValueNode* global = find_outside_frames(context, name, node->number, failed);
  if (!own_code) return global;
  if (global != nullptr) {
    kept.store(global, std::memory_order_release);
  } else if (!is_qualified(name) &&
             std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(module->globals_final))
                 .load(std::memory_order_acquire)) {
    kept.store(&NoGlobal, std::memory_order_release);
  }
  return global;
}

bool known_missing_global(const CallContext* context, const SyntaxNode* node) {
  return context != nullptr && context->script == node->name_table->module &&
         global_known_missing(node);
}

ValueNode* declare_variable(CallContext* context, const char* name, const char* position) {
  return declare_variable(context, name, name_hash_of(*name == '&' ? name + 1 : name), position);
}

ValueNode* declare_variable(CallContext* context, const char* name, std::int32_t name_hash,
                            const char* position) {
  if (*name == '&') ++name;
  settle_arg(context, name, name_hash);
  if (find_in_private_chain(context->locals, name, name_hash) != nullptr) {
    report_named_error(context, name, " :Declaration overlaps", position);
    return nullptr;
  }
  return append_or_report(context, name, name_hash, position);
}

ValueNode* declare_variable(CallContext* context, const SyntaxNode* node) {
  const char* name = bare_name(node);
  bool own_slot = node->name_table != nullptr && context->names == node->name_table &&
                  node->number != kArgNameHash;
  if (!own_slot || (context->slot_count != 0 && frame_slots(context)[node->name_slot] != nullptr))
    return declare_variable(context, name, node->number, node->source);
  return append_or_report(context, name, node->number, node->source, node->name_slot);
}

std::int32_t set_variable(CallContext* context, const char* name, const Value* value) {
  ValueNode* cell = find_local(context, name);
  if (cell == nullptr) {
    cell = append_local(context, name, name_hash_of(name));
    if (cell == nullptr) return 0;
  }
  assign_value(context, cell->value, value);
  return 1;
}

bool mark_shared(ValueNode* first) {
  // Depth first, as a loop: the chain after a cell whose elements are entered is remembered only
  // when there is one, so a hash nested a level per element needs no stack at all.
  WalkStack<ValueNode*> pending;
  ValueNode* cell = first;
  for (;;) {
    if (cell == nullptr) {
      if (pending.empty()) return true;
      cell = pending.pop();
    }
    if (cell->value != nullptr) cell->value->shared = 1;
    if (cell->elements != nullptr) {
      if (cell->next != nullptr && !pending.push(cell->next)) return false;
      cell = cell->elements;
    } else {
      cell = cell->next;
    }
  }
}

RecursiveLock* script_set_lock(CallContext* context) {
  if (context == nullptr || context->script == nullptr) return nullptr;
  Script* root = context->script->root;
  return root != nullptr ? &root->lock : nullptr;
}
