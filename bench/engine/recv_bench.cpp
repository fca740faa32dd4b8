// The shipped chat script's "recv" over generated server lines, in lines per second. The script is
// loaded from the folder the build copies it into (or the folder given), as lumo-cli loads it, and
// runs against a host that answers every window request at once. Not a test: it only measures.
//
//   bench_recv [--lines N] [--dump FILE] [FOLDER]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chat_lines.h"
#include "engine/call.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/loader.h"
#include "engine/script.h"
#include "platform/console.h"
#include "platform/memory.h"

#ifndef LUMO_SCRIPT_FOLDER
#define LUMO_SCRIPT_FOLDER "."
#endif

namespace {

// A window that does what the script asks and keeps only counts: a handle per channel name,
// and the number of lines shown, texts sent and errors reported.
struct BenchHost {
  Host host;  // first: the Host* the engine holds is this record's address
  std::map<std::string, std::intptr_t> handles;
  std::size_t shown = 0;
  std::size_t sent = 0;
  std::size_t errors = 0;
  std::string first_error;
};

std::intptr_t deliver(Host* host, std::uint32_t request, std::uintptr_t, std::intptr_t data) {
  auto* self = reinterpret_cast<BenchHost*>(host);
  const char* text = reinterpret_cast<const char*>(data);
  switch (request) {
    case UM_LINEECHO:
    case UM_STRECHO:
      ++self->shown;
      // The engine's reports; the script's own red lines are not errors of the run.
      if (text != nullptr && std::strstr(text, "### Error") != nullptr) {
        if (self->errors++ == 0) self->first_error = text;
      }
      return 0;
    case UM_STRSEND:
      ++self->sent;
      return 0;
    case UM_CHANNELADD: {
      std::string name = text != nullptr ? text : "";
      auto found = self->handles.find(name);
      if (found != self->handles.end()) return found->second;
      std::intptr_t handle = static_cast<std::intptr_t>(self->handles.size()) + 1;
      self->handles.emplace(name, handle);
      return handle;
    }
    default:
      return 0;
  }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool dump(const std::vector<std::string>& lines, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  for (const std::string& line : lines)
    std::fprintf(file, "%s\r\n", line.c_str());
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 100000;
  const char* dump_path = nullptr;
  std::string folder = LUMO_SCRIPT_FOLDER;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
      count = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc) {
      dump_path = argv[++i];
    } else if (argv[i][0] != '-') {
      folder = argv[i];
    } else {
      std::fprintf(stderr, "usage: bench_recv [--lines N] [--dump FILE] [FOLDER]\n");
      return 2;
    }
  }
  std::vector<std::string> lines = make_chat_lines(count);
  if (dump_path != nullptr && !dump(lines, dump_path)) {
    std::fprintf(stderr, "bench_recv: cannot write %s\n", dump_path);
    return 1;
  }

  // The loader takes Windows paths: the folder with its backslash, and the file name.
  char* directory = argument_to_path((folder + "/").c_str());
  if (directory == nullptr) return 1;
  engine_start();
  BenchHost bench{};
  bench.host.error_echo_request = UM_LINEECHO;
  bench.host.deliver = deliver;
  Script* set = create_script_set(0);
  set->host = &bench.host;
  lock_engine();
  load_script_file(set, directory, "main.lum");
  unlock_engine();
  release(&directory);
  if (set->next == nullptr || !run_top_level(set->next) || bench.errors > 0) {
    std::fprintf(stderr, "bench_recv: the chat script did not load from %s%s%s\n", folder.c_str(),
                 bench.errors > 0 ? ": " : "", bench.first_error.c_str());
    release_script_set(&set);
    engine_end();
    return 1;
  }

  std::size_t failed = 0;
  auto start = std::chrono::steady_clock::now();
  for (const std::string& line : lines) {
    ValueNode* argument = make_node();
    set_string_value(argument->value, line.c_str());
    ValueNode* result = call_event(set, "recv", argument, 0, 0);
    if (result == CALL_FAILED) ++failed;
    free_node(result);
    free_node(argument);
  }
  double elapsed = seconds_since(start);

  std::printf("recv over %zu chat lines: %.3f s, %.0f lines/s\n", lines.size(), elapsed,
              elapsed > 0 ? static_cast<double>(lines.size()) / elapsed : 0.0);
  std::printf("  lines shown %zu, texts sent %zu, views %zu, failed calls %zu, error reports %zu\n",
              bench.shown, bench.sent, bench.handles.size(), failed, bench.errors);
  if (bench.errors > 0) std::printf("  first error: %s\n", bench.first_error.c_str());
  release_script_set(&set);
  engine_end();
  return failed == 0 && bench.errors == 0 ? 0 : 1;
}
