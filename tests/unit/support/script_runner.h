// Runs script text in-process: parses it into a module of a fresh ScriptSet, runs its top level,
// and calls its functions, with a capturing host.
#pragma once

#include <string>
#include <vector>

#include "support/test_host.h"

class ScriptRunner {
 public:
  // Parses and runs the top level of `text` as the module "main" (more modules: add_module first).
  explicit ScriptRunner(const char* text = nullptr, bool queued_host = false);
  ~ScriptRunner();

  // Adds a module (parsed at once) without running it; run() runs every module's top level.
  bool add_module(const char* name, const char* text);
  bool run();
  // Adds a module and runs its top level at once.
  bool add_and_run(const char* name, const char* text);

  // Calls a function of the first module: the result's text, or "<failed>".
  std::string call(const char* name);
  std::string call(const char* name, const std::vector<std::string>& arguments);
  // Calls a function that does not end by itself on a thread of its own, stops all scripts once it
  // runs, and returns its result (a stopped call gives "<failed>").
  std::string call_and_stop(const char* name);
  // Evaluates one expression as the body of a fresh function: "return EXPRESSION;".
  std::string eval(const std::string& expression);
  // The text of a global of the first module, or "<none>".
  std::string global(const char* name);

  bool loaded() const { return loaded_; }
  std::vector<std::string> errors() { return host_.error_lines(); }
  TestHost& host() { return host_; }
  Script* script_set() { return scripts_.set(); }

 private:
  TestHost host_;
  ScriptFixture scripts_;
  bool loaded_ = false;
  int eval_count_ = 0;
};
