#include "engine/events.h"

#include <atomic>

#include "engine/call.h"
#include "engine/engine.h"
#include "engine/error_report.h"
#include "engine/evaluate.h"
#include "engine/function_vm.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

struct ThreadStart {
  Script* module;
  char* name;
  ValueNode* arguments;
  SyntaxNode* call_node;
  std::int32_t quiet;
  std::uint32_t thread_id;
  std::intptr_t host_word;
  void (*finished)(void* cookie);
  void* cookie;
};

void release_start(ThreadStart* start) {
  release(&start->name);
  free_chain(start->arguments);
  release(&start);
}

void thread_routine(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  CallContext frame{};
  frame.script = start->module;
  frame.host_word = start->host_word;
  free_node(call_function(&frame, start->call_node, start->name, start->arguments, start->quiet));
  release_frame(&frame);
  void (*finished)(void*) = start->finished;
  void* cookie = start->cookie;
  release_start(start);
  if (finished != nullptr) finished(cookie);
  count_call(-1);  // taken when the thread was made
  release_thread_caches();
}

std::int32_t start_thread(Script* module, SyntaxNode* call_node, const char* name,
                          ValueNode* arguments, std::int32_t quiet, std::intptr_t host_word,
                          void (*finished)(void* cookie), void* cookie) {
  ThreadStart* start = alloc_record<ThreadStart>();
  if (start == nullptr) return 0;
  start->module = module;
  start->name = dup_string(name);
  bool failed = false;
  start->arguments = copy_chain(arguments, &failed);
  start->call_node = call_node;
  start->quiet = quiet;
  start->host_word = host_word;
  start->finished = finished;
  start->cookie = cookie;
  if (start->name == nullptr || failed) {
    release_start(start);
    return 0;
  }
  // The thread counts as active from now on, not only once its call begins: a stop (and so a
  // reload) waits for it, and it can never run against a released ScriptSet.
  count_call(1);
  std::uint32_t thread_id = 0;
  if (!start_detached_thread(thread_routine, start, &thread_id)) {
    count_call(-1);
    release_start(start);
    return -1;
  }
  return static_cast<std::int32_t>(thread_id);
}

}  // namespace

std::int32_t start_event_thread(Script* module, SyntaxNode* call_node, const char* name,
                                ValueNode* arguments, std::int32_t quiet, std::intptr_t host_word) {
  return start_thread(module, call_node, name, arguments, quiet, host_word, nullptr, nullptr);
}

std::int32_t start_event_thread(Script* module, SyntaxNode* call_node, const char* name,
                                ValueNode* arguments, std::int32_t quiet, std::intptr_t host_word,
                                void (*finished)(void* cookie), void* cookie) {
  std::int32_t id =
      start_thread(module, call_node, name, arguments, quiet, host_word, finished, cookie);
  if (id <= 0) {
    // The host's event does not run: say so, naming the event.
    CallContext frame{};
    frame.script = module;
    report_error(&frame, "Alloc failed", name, 0);
  }
  return id;
}

bool run_top_level(Script* first) {
  count_call(1);
  enter_script_code();
  bool ok = true;
  for (Script* module = first; module != nullptr && ok; module = module->next) {
    CallContext frame{};
    frame.script = module;
    frame.function_name = module->name;
    frame.names = module->top_names;
    frame.keeps_locals = 1;
    ok = run_top_level_vm(module, &frame);
    if (ok) {
      // Only now do the module's variables become globals, shared by every script thread.
      if (!mark_shared(frame.locals)) report_error(&frame, "Alloc failed", nullptr, 0);
      // Threads of modules run before may be looking names up in this chain meanwhile.
      ValueNode** tail = &module->globals;
      while (*tail != nullptr)
        tail = &(*tail)->next;
      std::atomic_ref<ValueNode*>(*tail).store(frame.locals, std::memory_order_release);
      std::atomic_ref<std::int32_t>(module->globals_final).store(1, std::memory_order_release);
      frame.locals = nullptr;
    }
    release_frame(&frame);
  }
  leave_script_code();
  count_call(-1);
  return ok;
}

bool find_event(Script* module, const char* name, std::int32_t quiet) {
  if (is_script_function(module, name)) return true;
  if (!quiet) {
    CallContext frame{};
    frame.script = module;
    report_error(&frame, "Function not Found", name, 0);
  }
  return false;
}

ValueNode* call_event(Script* script_set, const char* name, ValueNode* arguments,
                      std::int32_t quiet, std::intptr_t host_word) {
  if (script_set == nullptr || script_set->next == nullptr) return CALL_FAILED;
  if (!find_event(script_set->next, name, quiet)) return CALL_FAILED;
  CallContext frame{};
  frame.script = script_set->next;
  frame.host_word = host_word;
  ValueNode* result = call_function(&frame, nullptr, name, arguments, quiet);
  release_frame(&frame);
  return result;
}
