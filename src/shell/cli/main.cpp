// lumo-cli: runs a main script in a terminal. Typed lines go to its "send" event; what it shows in
// any view, and its error lines, come out on standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "shell/cli/terminal.h"

namespace {

// The front end outlives main's stack: the input thread may still be blocked in a read when the
// process ends, so it is never destroyed.
Terminal* Front = nullptr;
bool Utf8Input = false;

void on_interrupt() {
  Front->interrupt();
}

void on_hangup() {
  Front->reload();
}

// Reads standard input line by line until it ends.
void read_input(void*) {
  std::string raw;
  while (read_typed_line(stdin, &raw))
    Front->push_line(typed_line(raw, Utf8Input));
  Front->push_end();
}

int bad_use(const char* message) {
  std::fprintf(stderr, "lumo-cli: %s\n", message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  console_binary_mode();
  TerminalOptions options;
  const char* script = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plain") == 0) {
      options.plain = true;
    } else if (std::strcmp(argv[i], "--utf8") == 0) {
      options.utf8 = true;
    } else if (std::strcmp(argv[i], "--connect") == 0) {
      options.connect = true;
    } else if (argv[i][0] == '-' || script != nullptr) {
      return bad_use("usage: lumo-cli [--plain] [--utf8] [--connect] SCRIPT");
    } else {
      script = argv[i];
    }
  }
  if (script == nullptr) return bad_use("usage: lumo-cli [--plain] [--utf8] [--connect] SCRIPT");
  char* path = argument_to_path(script);
  FileInfo info;
  if (path == nullptr || !probe_file(path, &info) || info.is_directory) {
    release(&path);
    std::string message = std::string("cannot read the script ") + script;
    return bad_use(message.c_str());
  }

  // Scripts may open sockets of their own.
  bool sockets = sockets_start();
  engine_start();
  Utf8Input = options.utf8;
  Front = new Terminal(options, stdout);
  console_on_interrupt(on_interrupt);
  console_on_hangup(on_hangup);
  std::uint32_t reader_id = 0;
  if (!start_detached_thread(read_input, nullptr, &reader_id)) Front->push_end();
  Front->session(path);
  release(&path);
  engine_end();
  if (sockets) sockets_end();
  return 0;
}
