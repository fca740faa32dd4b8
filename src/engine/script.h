// Scripts, scopes and variables: the ScriptSet root and its modules, call frames, and how a name is
// resolved to a variable.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/syntax_node.h"
#include "engine/engine.h"
#include "engine/function_index.h"
#include "engine/value.h"
#include "platform/library.h"
#include "platform/lock.h"

struct Host;
struct NameTable;
struct SyntaxNode;

// A function that a module defines, in definition order.
struct FunctionEntry {
  char* name;  // lower-case
  std::int32_t name_hash;
  SyntaxNode* definition;  // the Function or Argmatch node heading the definition; owned by `code`
  FunctionEntry* next;
  Script* module;  // that defines it
  void* compiled;  // owned: its compiled form, made on first call
};

// A native extension library loaded by a script.
struct LibraryEntry {
  LibraryHandle handle;
  LibraryEntry* next;
};

// One record type serves for the ScriptSet root and for each loaded module.
struct Script {
  char* name;       // module name: the file name up to its first "."; null on the ScriptSet
  char* directory;  // ends in a backslash; null on the ScriptSet
  char* text;       // the whole file text; error positions point into it
  std::int32_t is_explicit;  // the module's option directive asked for declared variables only
  SyntaxNode* code;          // top-level node list
  FunctionEntry* functions;
  // The same functions by name, for calls.
  FunctionIndex function_index;
  ValueNode* globals;  // filled when the module's top-level code has run
  // Set (atomically) once `globals` is filled: from then on the chain never changes, so a name it
  // lacks stays missing.
  std::int32_t globals_final;
  LibraryEntry* libraries;  // used on the ScriptSet only
  Script* root;             // the ScriptSet; the ScriptSet points at itself
  Script* next;             // next module in load order (on the ScriptSet: the first module)
  RecursiveLock lock;       // serialises scalar writes into globals; used on the ScriptSet only
  Host* host;               // output target of error reports and window built-ins
  NameTable* top_names;     // the top level's names (in name_tables), or null
  NameTable* name_tables;   // owned: the tables of the top level and of every definition
};

// The frame of a function call or a top-level run. Always zero-filled before use.
struct CallContext {
  const char* function_name;  // not owned; for a top-level run the module's name
  const char* position;       // source position of the node now executing
  std::int32_t bind_mode;     // identifiers parsed meanwhile become declarations
  Script* script;
  ValueNode* locals;        // owned
  ValueNode* last_local;    // the last cell of `locals`, or null
  std::intptr_t host_word;  // opaque; passed unchanged to nested calls and thread starts
  // The `arg` variable of a function frame is made when something first looks for it: until
  // then the frame keeps the arguments it will refer to (owned by the caller, who outlives it),
  // or NO_ARGUMENTS. Null when there is nothing to make.
  ValueNode* pending_arg;
  // The names of the code this frame runs (see name_table.h), or null: then the frame has no
  // slots. slot_count is 0 until the frame's first local is made; then its slots (inline when
  // the table is small) hold, for each name of the table, its variable in `locals` or null.
  const NameTable* names;
  // The frame's locals outlive it (a top level's become its module's globals): their names must
  // be their own. Other frames' locals of the table borrow its names.
  std::int32_t keeps_locals;
  std::int32_t slot_count;
  ValueNode** heap_slots;  // owned
  static constexpr std::int32_t kInlineSlots = 8;
  ValueNode* inline_slots[kInlineSlots];
};

// The frame's slots, or null before its first local.
inline ValueNode** frame_slots(CallContext* frame) {
  if (frame->slot_count == 0) return nullptr;
  return frame->slot_count <= CallContext::kInlineSlots ? frame->inline_slots : frame->heap_slots;
}

// The signature of "arg".
constexpr std::int32_t kArgNameHash = name_hash_of("arg");

// Makes a ScriptSet root with its lock; null when memory runs out.
Script* create_script_set(std::int32_t explicit_flag);
// Releases the ScriptSet and all its modules, from the last module back to the root, and clears the
// caller's pointer. Only after all script code has been stopped.
void release_script_set(Script** script_set);
void release_frame(CallContext* context);
// The pending_arg of a frame whose call had no arguments.
extern ValueNode* const NO_ARGUMENTS;
// Gives a function frame its `arg` variable: 0, with elements referring to the arguments in
// order. Made at once when a parameter is called "arg", else when first looked for.
void provide_arg(CallContext* frame, ValueNode* arguments);
// Makes `arg`, a variable of the call (a parameter of that name), the call's arguments: 0 with
// references to them as its elements. A reference parameter gets a Value of its own first.
void set_arg(CallContext* frame, ValueNode* arg, ValueNode* arguments);

ValueNode* find_local(CallContext* context, const char* name);
ValueNode* find_local(CallContext* context, const char* name, std::int32_t name_hash);
Script* find_script(Script* module, const char* qualified_name);
// `failed` (optional) is set when a qualified name names no module ("Script not Found" is
// reported).
ValueNode* find_global(CallContext* context, const char* name, bool* failed = nullptr);
ValueNode* find_variable(CallContext* context, const char* name, bool* failed = nullptr);
// find_variable with the signature of `name` already known.
ValueNode* find_variable(CallContext* context, const char* name, std::int32_t name_hash,
                         bool* failed);
// find_variable for a Name node, through the slots when the node's code is the frame's.
ValueNode* find_named_variable(CallContext* context, const SyntaxNode* node, bool* failed);
// What a Name node's global_cell holds when its module's final globals lack the name.
extern ValueNode NoGlobal;
// Whether the globals of the node's own module are known to lack its name for good: so for code
// that runs in a frame of that module (known_missing_global checks the frame as well).
inline bool global_known_missing(const SyntaxNode* node) {
  return std::atomic_ref<void*>(const_cast<SyntaxNode*>(node)->global_cell)
             .load(std::memory_order_acquire) == &NoGlobal;
}
bool known_missing_global(const CallContext* context, const SyntaxNode* node);
// The rest of find_named_variable once no frame has the name: the globals.
ValueNode* find_node_global(CallContext* context, const SyntaxNode* node, bool* failed);
// Its common case inline: every frame runs the node's code, the name is not `arg` (which a frame
// may still have to make), and a frame has it in its slot.
inline ValueNode* find_variable(CallContext* context, const SyntaxNode* node, bool* failed) {
  const NameTable* table = node->name_table;
  if (table != nullptr && node->number != kArgNameHash && context != nullptr) {
    if (context->names != table) return find_named_variable(context, node, failed);
    if (context->slot_count != 0) {
      if (ValueNode* found = frame_slots(context)[node->name_slot]; found != nullptr) {
        if (failed != nullptr) *failed = false;
        return found;
      }
    }
    return find_node_global(context, node, failed);
  }
  return find_named_variable(context, node, failed);
}
ValueNode* declare_variable(CallContext* context, const char* name, const char* position);
// declare_variable with the signature of the name (after any "&") already known.
ValueNode* declare_variable(CallContext* context, const char* name, std::int32_t name_hash,
                            const char* position);
// declare_variable of a Name or DeclareName node's name, at the node's position.
ValueNode* declare_variable(CallContext* context, const SyntaxNode* node);
std::int32_t set_variable(CallContext* context, const char* name, const Value* value);
// Marks every Value of the chain and of all element chains below it shared, to any depth. False
// when memory for the walk ran out (cells not reached stay as they were).
bool mark_shared(ValueNode* first);

// The lock that guards writes into the globals of the context's ScriptSet, or null.
RecursiveLock* script_set_lock(CallContext* context);
