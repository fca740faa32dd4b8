#include "script_run.h"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  std::remove(path);
  return 0;
}

}  // namespace

ScratchFolder::ScratchFolder() {
  previous_ = open(".", O_RDONLY | O_DIRECTORY);
  if (previous_ < 0) return;
  std::strcpy(path_, "/tmp/lumo_fuzz_run_XXXXXX");
  const bool made = mkdtemp(path_) != nullptr;
  if (made && chdir(path_) == 0) return;
  if (made) rmdir(path_);
  close(previous_);
  previous_ = -1;
}

ScratchFolder::~ScratchFolder() {
  if (previous_ < 0) return;
  if (fchdir(previous_) != 0) std::perror("fchdir");
  close(previous_);
  nftw(path_, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

Watchdog::Watchdog(std::chrono::milliseconds limit) : limit_(limit), thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Watchdog::watch() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!wake_.wait_for(guard, limit_, [this] { return done_; })) {
    fired_ = true;
    // The flag stays set until the run is over: stop_all_scripts would clear it as soon as no call
    // is active, and top-level code outside calls would then run on unstopped.
    lock_engine();
    engine_detail::StopRequested.store(1, std::memory_order_release);
    unlock_engine();
  }
}

Script* make_script_set(const std::uint8_t* data, std::size_t size, Host* host) {
  Script* set = create_script_set(0);
  Script* module = alloc_record<Script>();
  char* text = static_cast<char*>(alloc_block(size + 1));
  if (set == nullptr || module == nullptr || text == nullptr) {
    release(&text);
    release(&module);
    release_script_set(&set);
    return nullptr;
  }
  std::memcpy(text, data, size);
  text[size] = '\0';
  set->host = host;
  module->name = dup_string("main");
  module->text = text;
  module->root = set;
  module->host = set->host;
  set->next = module;

  CallContext owner{};
  owner.script = module;
  owner.function_name = module->name;
  module->code = parse_script_text(&owner, text, 0);
  assign_name_tables(module);
  release_frame(&owner);
  return set;
}

namespace {

void call_event_with(Script* set, const char* name, const char* argument) {
  ValueNode* arguments = nullptr;
  if (argument != nullptr) {
    arguments = make_node();
    if (arguments != nullptr) set_string_value(arguments->value, argument);
  }
  free_node(call_event(set, name, arguments, 1, 0));
  free_chain(arguments);
}

}  // namespace

bool run_script_set(Script* set, Host* host, std::chrono::milliseconds limit) {
  bool stopped;
  {
    Watchdog watchdog(limit);
    if (run_top_level(set->next)) {
      call_event_with(set, "start", nullptr);
      call_event_with(set, "recv", ":nick!user@host PRIVMSG #channel :hello");
      call_event_with(set, "send", "/join #x");
    }
    // Threads started with &name(...) finish within the time too, or the run is cut short.
    while (active_calls() > 0 && !watchdog.fired())
      yield_processor();
    stopped = watchdog.fired();
  }
  // Threads started with &name(...) may still run: stop them before the set goes. This also
  // clears the flag the watchdog may have set.
  stop_all_scripts(host);
  release_script_set(&set);
  return !stopped;
}
