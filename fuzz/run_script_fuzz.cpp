// Parses arbitrary bytes as a script and runs it: its top level, then the events a host fires. A
// watchdog stops every run that takes too long through the stop flag, as the stop command would, so
// endless loops end and every script failure must unwind cleanly.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

// Shows nothing; every delivery returns at once.
std::intptr_t discard(Host*, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return 0;
}

Host QuietHost{nullptr, UM_LINEECHO, discard, nullptr, nullptr, nullptr};

class Watchdog {
 public:
  Watchdog() : thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!wake_.wait_for(guard, std::chrono::milliseconds(30), [this] { return done_; })) {
      guard.unlock();
      stop_all_scripts(&QuietHost);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

void call_quietly(Script* set, const char* name, const char* argument) {
  ValueNode* arguments = nullptr;
  if (argument != nullptr) {
    arguments = make_node();
    if (arguments != nullptr) set_string_value(arguments->value, argument);
  }
  free_node(call_event(set, name, arguments, 1, 0));
  free_chain(arguments);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Script* set = create_script_set(0);
  Script* module = alloc_record<Script>();
  char* text = static_cast<char*>(alloc_block(size + 1));
  if (set == nullptr || module == nullptr || text == nullptr) {
    release(&text);
    release(&module);
    release_script_set(&set);
    return 0;
  }
  std::memcpy(text, data, size);
  text[size] = '\0';
  set->host = &QuietHost;
  module->name = dup_string("main");
  module->text = text;
  module->root = set;
  module->host = set->host;
  set->next = module;

  CallContext owner{};
  owner.script = module;
  owner.function_name = module->name;
  module->code = parse_script_text(&owner, text, 0);
  release_frame(&owner);
  {
    Watchdog watchdog;
    if (run_top_level(set->next)) {
      call_quietly(set, "start", nullptr);
      call_quietly(set, "recv", ":nick!user@host PRIVMSG #channel :hello");
      call_quietly(set, "send", "/join #x");
    }
  }
  // Threads started with &name(...) may still run: stop them before the set goes.
  stop_all_scripts(&QuietHost);
  release_script_set(&set);
  return 0;
}
