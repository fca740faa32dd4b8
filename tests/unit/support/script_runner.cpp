#include "support/script_runner.h"

#include <thread>

#include "base/syntax_node.h"
#include "engine/call.h"
#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/name_table.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

// A Value's text, or a marker when memory for the copy ran out.
std::string text_or_marker(const Value* value) {
  char* text = text_of_value(value);
  std::string copy = text != nullptr ? text : "<no memory>";
  release(&text);
  return copy;
}

}  // namespace

ScriptRunner::ScriptRunner(const char* text, bool queued_host)
    : host_(queued_host), scripts_(host_.host()) {
  if (text != nullptr) loaded_ = add_module("main", text) && run();
}

ScriptRunner::~ScriptRunner() = default;

bool ScriptRunner::add_module(const char* name, const char* text) {
  Script* module = scripts_.add_module(name, text);
  CallContext owner{};
  owner.script = module;
  owner.function_name = module->name;
  module->code = parse_script_text(&owner, module->text, 0);
  assign_name_tables(module);
  release_frame(&owner);
  return module->code != nullptr || errors().empty();
}

bool ScriptRunner::run() {
  return run_top_level(scripts_.set()->next);
}

bool ScriptRunner::add_and_run(const char* name, const char* text) {
  if (!add_module(name, text)) return false;
  Script* module = scripts_.set()->next;
  while (module->next != nullptr)
    module = module->next;
  return run_top_level(module);
}

std::string ScriptRunner::call(const char* name) {
  return call(name, {});
}

std::string ScriptRunner::call_and_stop(const char* name) {
  std::string result;
  std::thread script([&] { result = call(name); });
  while (active_calls() == 0)
    yield_processor();
  stop_all_scripts(host_.host());
  script.join();
  return result;
}

std::string ScriptRunner::call(const char* name, const std::vector<std::string>& arguments) {
  ValueNode* chain = nullptr;
  ValueNode** tail = &chain;
  for (const std::string& argument : arguments) {
    ValueNode* cell = make_node();
    set_string_value(cell->value, argument.c_str());
    *tail = cell;
    tail = &cell->next;
  }
  ValueNode* result = call_event(scripts_.set(), name, chain, 0, 0);
  free_chain(chain);
  if (result == CALL_FAILED) return "<failed>";
  std::string copy = text_or_marker(result->value);
  free_node(result);
  return copy;
}

std::string ScriptRunner::eval(const std::string& expression) {
  std::string name = "eval_" + std::to_string(++eval_count_);
  std::string text = "function " + name + "() { return " + expression + "; }";
  std::string module_name = "m" + name;
  if (!add_module(module_name.c_str(), text.c_str())) return "<parse failed>";
  // Run the new module's function in its own module.
  Script* module = scripts_.set()->next;
  while (module->next != nullptr)
    module = module->next;
  CallContext frame{};
  frame.script = module;
  ValueNode* result = call_function(&frame, nullptr, name.c_str(), nullptr, 0);
  release_frame(&frame);
  if (result == CALL_FAILED) return "<failed>";
  std::string copy = text_or_marker(result->value);
  free_node(result);
  return copy;
}

std::string ScriptRunner::global(const char* name) {
  Script* module = scripts_.set()->next;
  if (module == nullptr) return "<none>";
  ValueNode* cell = find_in_chain(module->globals, name, name_hash_of(name));
  if (cell == nullptr) return "<none>";
  return text_or_marker(cell->value);
}
