// A host for tests: records every delivery, and can behave like a window thread that serves the
// requests of other threads only when it gets to them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/host.h"
#include "engine/script.h"

struct Delivery {
  std::uint32_t request;
  std::uintptr_t word;
  std::string text;  // the data as a NUL-terminated string
};

class TestHost {
 public:
  // queued: deliveries from other threads than the constructing one wait until serve_pending runs
  // on that thread, as a message sent to a window waits for the window thread.
  explicit TestHost(bool queued = false);

  Host* host() { return &host_; }
  std::vector<Delivery> deliveries();
  // The texts of the error lines delivered so far, without their colour code.
  std::vector<std::string> error_lines();
  void clear();
  // Serves the queued deliveries (on the owning thread).
  void serve_pending();
  // Number of deliveries waiting to be served.
  std::size_t waiting();

 private:
  struct Pending {
    Delivery delivery;
    bool done = false;
  };

  static std::intptr_t deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                               std::intptr_t data);
  static void serve(Host* host);
  void record(const Delivery& delivery);

  Host host_;  // first member: a Host* is this object's address
  bool queued_;
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable served_;
  std::vector<Delivery> deliveries_;
  std::deque<Pending*> queue_;
};

// A ScriptSet with modules made by hand (the loader is not needed to test scopes and reports).
class ScriptFixture {
 public:
  explicit ScriptFixture(Host* host = nullptr, std::int32_t explicit_flag = 0);
  ~ScriptFixture();
  ScriptFixture(const ScriptFixture&) = delete;
  ScriptFixture& operator=(const ScriptFixture&) = delete;

  Script* set() { return set_; }
  // Appends a module with the given name and source text.
  Script* add_module(const char* name, const char* text = "");
  // Adds a global variable holding a number to a module.
  ValueNode* add_global(Script* module, const char* name, std::int32_t number);

 private:
  Script* set_;
};

// A fresh frame for running code of a module.
CallContext make_frame(Script* module, const char* function_name);
