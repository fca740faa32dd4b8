// Parses arbitrary bytes as a script and runs it twice: through the general evaluator alone and
// as it normally runs (in the compiled form). Both runs must show the same lines and reports. A
// script that starts threads (their lines interleave by chance) or opens files (handle numbers
// count on across runs), a run that the watchdog had to stop, or a script whose runs differ from
// themselves (time, random numbers) proves nothing and is passed over.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/syntax_node.h"
#include "engine/engine.h"
#include "engine/host.h"
#include "engine/script.h"
#include "script_run.h"

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

// Whether the code calls anything asynchronously (&name(...)).
bool starts_threads(const SyntaxNode* list) {
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->kind == NodeKind::Call && node->text != nullptr && node->text[0] == '&') return true;
    if (starts_threads(node->body)) return true;
  }
  return false;
}

// Whether the code opens files or directory searches. Their handles are numbered across the
// process, and a script may compute one (h - 57): what it then finds depends on what earlier
// runs left open, not on the evaluator.
bool opens_handles(const SyntaxNode* list) {
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if (node->kind == NodeKind::Call && node->text != nullptr &&
        (std::strcmp(node->text, "fileopen") == 0 || std::strcmp(node->text, "filefindinit") == 0))
      return true;
    if (opens_handles(node->body)) return true;
  }
  return false;
}

// Runs the bytes as the module "main": its transcript, or false when the run proves nothing.
bool run(const std::uint8_t* data, std::size_t size, bool general_only, std::string* transcript) {
  // Each run starts from an empty folder: files one run made cannot change the next.
  ScratchFolder folder;
  Script* set = make_script_set(data, size, &RecordingHost);
  if (set == nullptr) return false;
  for (Script* module = set->next; module != nullptr; module = module->next) {
    if (starts_threads(module->code) || opens_handles(module->code)) {
      release_script_set(&set);
      return false;
    }
  }
  GeneralEvaluationOnly = general_only;
  Transcript.clear();
  bool whole = run_script_set(set, &RecordingHost, std::chrono::milliseconds(100));
  GeneralEvaluationOnly = false;
  std::lock_guard<std::mutex> guard(TranscriptLock);
  *transcript = Transcript;
  return whole;
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
  // Where runaway recursion ends depends on the native stack each way takes per call (the limit
  // guards the process's stack): the two need not report it at the same depth.
  if (general.find("Stack overflow") != std::string::npos &&
      shortcuts.find("Stack overflow") != std::string::npos) {
    return 0;
  }
  // Not deterministic: either way differs from itself. Runs share the process, and what one left
  // (an open file's handle, which numbers count on from) can change what the next one finds.
  std::string again;
  if (!run(data, size, true, &again) || again != general) return 0;
  if (!run(data, size, false, &again) || again != shortcuts) return 0;
  std::fprintf(stderr, "general evaluator:\n%s\nwith shortcuts:\n%s\n", general.c_str(),
               shortcuts.c_str());
  std::abort();
}
