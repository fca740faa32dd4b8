#include "engine/call.h"

#include <atomic>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/builtin_table.h"
#include "engine/cells.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/events.h"
#include "engine/function_vm.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

thread_local std::int32_t CallDepth = 0;
thread_local std::uintptr_t StackOrigin = 0;

// The thread's outermost call begins or ends: it counts in ActiveCalls and holds the thread in
// script code. Out of line, so that the nested calls' counting stays a few instructions.
[[gnu::noinline]] void begin_outermost_call() {
  count_call(1);
  enter_script_code();
}
[[gnu::noinline]] void end_outermost_call() {
  leave_script_code();
  count_call(-1);
}

// Counts a call in the thread's depth for its lifetime, and the thread's outermost call in
// ActiveCalls: only whether that count is zero matters, and nested calls then skip the atomics.
class CountedCall {
 public:
  CountedCall() {
    if (CallDepth++ == 0) [[unlikely]]
      begin_outermost_call();
  }
  ~CountedCall() {
    if (--CallDepth == 0) [[unlikely]]
      end_outermost_call();
  }
  CountedCall(const CountedCall&) = delete;
  CountedCall& operator=(const CountedCall&) = delete;
};

}  // namespace

SyntaxNode* parameter_without_default(SyntaxNode* node, SyntaxNode* call) {
  bool has_default = false;
  std::int32_t open_calls = 0;
  SyntaxNode* at = node;
  for (; node != nullptr && node != call; at = node, node = node->next) {
    if (node->kind == NodeKind::CallStart) ++open_calls;
    if (node->kind == NodeKind::Call && open_calls > 0) --open_calls;
    if (open_calls > 0) continue;
    if (node->kind == NodeKind::Assign) has_default = true;
    if (node->kind == NodeKind::Comma) {
      if (!has_default) return node;
      has_default = false;
    }
  }
  return has_default || at == call ? nullptr : (node != nullptr ? node : at);
}

SyntaxNode* next_parameter(SyntaxNode* node, SyntaxNode* call) {
  std::int32_t open_calls = 0;
  for (node = node->next; node != nullptr && node != call; node = node->next) {
    if (node->kind == NodeKind::CallStart) ++open_calls;
    if (node->kind == NodeKind::Call && open_calls > 0) --open_calls;
    if (node->kind == NodeKind::Comma && open_calls == 0) return node->next;
  }
  return call;
}

namespace {

// Libraries first, then (unless `libraries_only`) the built-in table.
NativeFunction find_native(Script* module, const char* name, bool libraries_only = false) {
  char* full_name = concat_strings(LUMO_EXPORT_PREFIX, name);
  if (full_name == nullptr) return nullptr;
  NativeFunction entry = nullptr;
  Script* root = module != nullptr ? module->root : nullptr;
  for (LibraryEntry* library = root != nullptr ? root->libraries : nullptr;
       library != nullptr && entry == nullptr; library = library->next) {
    entry = reinterpret_cast<NativeFunction>(find_export(library->handle, full_name));
  }
  if (entry == nullptr && !libraries_only) entry = find_builtin(full_name);
  release(&full_name);
  return entry;
}

// Several threads may run the same call node: the target is stored before the kind, and read
// after it, so a reader that sees a kind also sees its complete target. Two threads that both
// found the target may store it at once, so the target is read atomically as well.
void cache_target(SyntaxNode* node, void* target, std::int32_t kind) {
  if (node == nullptr) return;
  std::atomic_ref<void*>(node->call_target).store(target, std::memory_order_relaxed);
  std::atomic_ref<std::int32_t>(node->call_target_kind).store(kind, std::memory_order_release);
}

void* cached_target(SyntaxNode* node) {
  return std::atomic_ref<void*>(node->call_target).load(std::memory_order_relaxed);
}

inline ValueNode* counted_native(CallContext* context, NativeFunction entry, const char* name,
                                 ValueNode* arguments, bool reads_only) {
  CountedCall counted;
  return call_native(context, entry, name, arguments, reads_only);
}

}  // namespace

// Runaway recursion must end in an error report, not in a crashed process.
bool call_too_deep(std::int32_t more) {
  char probe = 0;
  auto here = reinterpret_cast<std::uintptr_t>(&probe);
  if (CallDepth == 0) StackOrigin = here;
  std::uintptr_t used = StackOrigin > here ? StackOrigin - here : here - StackOrigin;
  return CallDepth + more >= MAX_CALL_DEPTH || used > CALL_STACK_BUDGET;
}

bool bind_parameter(CallContext* frame, ValueNode* local, bool by_reference, ValueNode* argument,
                    const char* position) {
  if (by_reference) {
    // Shares the caller's variable (the room for its own Value stays unused in its cell).
    local->value = argument->value;
    local->elements = elements_of(argument);
    if (local->value->shared) count_shared_reference(1);
    return true;
  }
  bool failed = false;
  local->elements = copy_chain(elements_of(argument), &failed);
  if (failed) {
    report_error(frame, "Alloc failed", position, 0);
    return false;
  }
  return assign_value(frame, local->value, argument->value);
}

FunctionEntry* compiled_call_target(SyntaxNode* call_node) {
  if (std::atomic_ref<std::int32_t>(call_node->call_target_kind).load(std::memory_order_acquire) !=
      CALL_TARGET_FUNCTION) {
    return nullptr;
  }
  return static_cast<FunctionEntry*>(cached_target(call_node));
}

bool enter_direct_call(CallContext* context, const char* name) {
  if (call_too_deep(0)) {
    report_error(context, "Stack overflow", name, 0);
    return false;
  }
  if (CallDepth++ == 0) [[unlikely]]
    begin_outermost_call();
  return true;
}

void leave_direct_call() {
  if (--CallDepth == 0) [[unlikely]]
    end_outermost_call();
}

bool call_reader_into(CallContext* context, SyntaxNode* call_node, const char* name,
                      ValueNode* arguments, ValueNode* result) {
  if (call_too_deep(0)) {
    report_error(context, "Stack overflow", name, 0);
    return false;
  }
  CountedCall counted;
  return call_native_into(context, reinterpret_cast<NativeFunction>(cached_target(call_node)), name,
                          arguments, true, result);
}

ValueNode* call_user_function(Script* module, FunctionEntry* entry, ValueNode* arguments,
                              std::intptr_t host_word) {
  CountedCall counted;
  return run_function_vm(module, entry, arguments, host_word);
}

std::int32_t dispatch_module(Script* module, ValueNode* arguments, std::int32_t* stop_dispatch,
                             std::intptr_t host_word) {
  CountedCall counted;
  std::int32_t count = 0;
  char* subject = arguments != nullptr ? text_of_value(arguments->value) : dup_string("");
  for (FunctionEntry* entry = module->functions; entry != nullptr; entry = entry->next) {
    SyntaxNode* head = entry->definition;
    if (head == nullptr || head->kind != NodeKind::Argmatch || head->next == nullptr ||
        head->next->kind != NodeKind::Pattern || head->next->pattern == nullptr) {
      continue;
    }
    std::int32_t code = RUN_NORMAL;
    bool bound = true;
    bool matched = false;
    run_argmatch_vm(module, entry, arguments, subject, host_word, &matched, &code, &bound);
    if (!matched) continue;
    ++count;
    if (!bound) break;
    if (code == RUN_FAILED) {
      count = -1;
      break;
    }
    if (code == RUN_EXIT) {
      if (stop_dispatch != nullptr) *stop_dispatch = 1;
      break;
    }
  }
  release(&subject);
  return stop_requested() ? -1 : count;
}

std::int32_t dispatch_all(Script* script_set, ValueNode* arguments, std::intptr_t host_word) {
  std::int32_t total = 0;
  for (Script* module = script_set->next; module != nullptr; module = module->next) {
    std::int32_t stop = 0;
    std::int32_t count = dispatch_module(module, arguments, &stop, host_word);
    if (count < 0) return -1;
    total += count;
    if (stop) break;
  }
  return total;
}

ValueNode* start_async_call(CallContext* context, SyntaxNode* node, ValueNode* arguments) {
  std::int32_t thread_id =
      start_event_thread(context->script, node, node->text + 1, arguments, 0, context->host_word);
  ValueNode* result = thread_id > 0 ? make_number_cell(thread_id) : nullptr;
  if (result == nullptr) report_error(context, "Alloc failed", context->position, 0);
  return result;
}

bool is_script_function(Script* module, const char* name) {
  if (module == nullptr) return false;
  if (find_function(module, name) != nullptr) return true;
  return find_native(module, name, true) != nullptr;
}

ValueNode* call_function(CallContext* context, SyntaxNode* call_node, const char* name,
                         ValueNode* arguments, std::int32_t quiet) {
  std::int32_t cached = call_node != nullptr
                            ? std::atomic_ref<std::int32_t>(call_node->call_target_kind)
                                  .load(std::memory_order_acquire)
                            : CALL_TARGET_NONE;
  if (cached == CALL_TARGET_NATIVE || cached == CALL_TARGET_READER) {
    // Found before, so the module its name may start with exists: nothing to split.
    if (call_too_deep(0)) {
      report_error(context, "Stack overflow", name, 0);
      return CALL_FAILED;
    }
    return counted_native(context, reinterpret_cast<NativeFunction>(cached_target(call_node)), name,
                          arguments, cached == CALL_TARGET_READER);
  }
  if (cached == CALL_TARGET_FUNCTION) {
    // Found before in its module, which exists as long as the code that calls it.
    if (call_too_deep(0)) {
      report_error(context, "Stack overflow", name, 0);
      return CALL_FAILED;
    }
    auto* entry = static_cast<FunctionEntry*>(cached_target(call_node));
    return call_user_function(entry->module, entry, arguments, context->host_word);
  }
  // Split at the first ".": no dot or "all." keeps the own module, anything else names one.
  Script* module = context->script;
  const char* plain = name;
  bool all = false;
  if (const char* dot = std::strchr(name, '.'); dot != nullptr) {
    if (std::strncmp(name, "all.", 4) == 0) {
      all = true;
      plain = name + 4;
    } else {
      module = find_script(context->script, name);
      if (module == nullptr) {
        report_error(context, "Script not Found", name, 0);
        return CALL_FAILED;
      }
      plain = dot + 1;
    }
  }
  if (module == nullptr) {
    if (!quiet) report_error(context, "Function not Found", name, 0);
    return CALL_FAILED;
  }
  if (call_too_deep(0)) {
    report_error(context, "Stack overflow", name, 0);
    return CALL_FAILED;
  }

  if (std::strcmp(plain, "?") == 0) {
    if (arguments == nullptr) {
      report_error(context, "Too few arguments", context->position, 0);
      return CALL_FAILED;
    }
    std::int32_t count = all ? dispatch_all(module->root, arguments, context->host_word)
                             : dispatch_module(module, arguments, nullptr, context->host_word);
    if (count < 0) return CALL_FAILED;
    ValueNode* result = make_number_cell(count);
    return result != nullptr ? result : CALL_FAILED;
  }
  if (FunctionEntry* entry = find_function(module, plain); entry != nullptr) {
    cache_target(call_node, entry, CALL_TARGET_FUNCTION);
    return call_user_function(module, entry, arguments, context->host_word);
  }
  if (NativeFunction entry = find_native(context->script, name); entry != nullptr) {
    bool reads_only = only_reads_arguments(entry);
    cache_target(call_node, reinterpret_cast<void*>(entry),
                 reads_only ? CALL_TARGET_READER : CALL_TARGET_NATIVE);
    return counted_native(context, entry, name, arguments, reads_only);
  }
  if (!quiet) report_error(context, "Function not Found", name, 0);
  return CALL_FAILED;
}
