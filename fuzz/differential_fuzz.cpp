// Parses arbitrary bytes as a script and runs it twice: through the general evaluator alone and
// with its shortcuts (number stretches, simple loops, numeric functions). Both runs must show the
// same lines and reports. A run that the watchdog had to stop, or a script whose runs differ from
// themselves (threads, time, random numbers), proves nothing and is passed over.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

// What a run showed. Deliveries come from the running thread and from threads the script started.
std::mutex TranscriptLock;
std::string Transcript;

std::intptr_t record(Host*, std::uint32_t request, std::uintptr_t word, std::intptr_t data) {
  std::lock_guard<std::mutex> guard(TranscriptLock);
  Transcript += std::to_string(request) + " " + std::to_string(word) + " ";
  if (request == UM_LINEECHO && data != 0) Transcript += reinterpret_cast<const char*>(data);
  Transcript += "\n";
  return 0;
}

Host RecordingHost{nullptr, UM_LINEECHO, record, nullptr, nullptr, nullptr};

// Stops the scripts after a while, as the stop command would; remembers whether it had to.
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
  bool fired() const { return fired_; }

 private:
  void watch() {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!wake_.wait_for(guard, std::chrono::milliseconds(100), [this] { return done_; })) {
      fired_ = true;
      guard.unlock();
      stop_all_scripts(&RecordingHost);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

void call_event_with(Script* set, const char* name, const char* argument) {
  ValueNode* arguments = nullptr;
  if (argument != nullptr) {
    arguments = make_node();
    if (arguments != nullptr) set_string_value(arguments->value, argument);
  }
  free_node(call_event(set, name, arguments, 1, 0));
  free_chain(arguments);
}

// Runs the text as the module "main": its transcript, or false when the run proves nothing.
bool run(const std::uint8_t* data, std::size_t size, bool general_only, std::string* transcript) {
  GeneralEvaluationOnly = general_only;
  Transcript.clear();
  Script* set = create_script_set(0);
  Script* module = alloc_record<Script>();
  char* text = static_cast<char*>(alloc_block(size + 1));
  if (set == nullptr || module == nullptr || text == nullptr) {
    release(&text);
    release(&module);
    release_script_set(&set);
    return false;
  }
  std::memcpy(text, data, size);
  text[size] = '\0';
  set->host = &RecordingHost;
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
  bool stopped;
  {
    Watchdog watchdog;
    if (run_top_level(set->next)) {
      call_event_with(set, "start", nullptr);
      call_event_with(set, "recv", ":nick!user@host PRIVMSG #channel :hello 12");
      call_event_with(set, "send", "/join #x");
    }
    stop_all_scripts(&RecordingHost);  // threads the script started
    stopped = watchdog.fired();
  }
  release_script_set(&set);
  GeneralEvaluationOnly = false;
  std::lock_guard<std::mutex> guard(TranscriptLock);
  *transcript = Transcript;
  return !stopped;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string general;
  std::string shortcuts;
  if (!run(data, size, true, &general) || !run(data, size, false, &shortcuts)) return 0;
  if (general == shortcuts) return 0;
  std::string again;
  if (!run(data, size, true, &again) || again != general) return 0;  // not deterministic
  std::fprintf(stderr, "general evaluator:\n%s\nwith shortcuts:\n%s\n", general.c_str(),
               shortcuts.c_str());
  std::abort();
}
