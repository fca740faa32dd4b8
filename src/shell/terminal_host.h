// The terminal host: runs a main script with its events and shows what the scripts echo as lines
// of text. Script threads deliver to it synchronously; their requests are carried out on the host's
// own thread, as a window would, so waiting for scripts never deadlocks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "engine/host.h"

struct Script;

// A typed line reaches "send" as at most this many bytes.
constexpr std::size_t INPUT_LINE_LIMIT = 254;

struct TerminalOptions {
  bool plain = false;  // remove the formatting codes
  bool utf8 = false;   // output in UTF-8, typed input read as UTF-8
};

struct TerminalHost {
  Host host;  // first: a Host* is the TerminalHost's address
  TerminalOptions options;
  std::FILE* out = nullptr;
  std::thread::id owner;  // the thread that serves deliveries

  std::mutex mutex;
  std::condition_variable wake;  // a delivery, a finished event, a line, the end of input
  struct Pending {
    std::uint32_t request;
    const char* text;
    bool done;
  };
  std::deque<Pending*> pending;
  std::deque<std::string> lines;  // typed lines not yet sent (CP932)
  bool input_ended = false;
  std::int32_t running_events = 0;  // events this host started whose threads have not ended
  std::atomic<bool> interrupted{false};

  // Output state: whether anything was echoed, and whether the output ends with a line break.
  bool output_started = false;
  bool ends_with_line_break = false;
};

// Prepares a host that writes to `out`, served by the calling thread.
void terminal_init(TerminalHost* terminal, const TerminalOptions& options, std::FILE* out);
// Carries out the deliveries that script threads are waiting on (host thread only).
void terminal_serve_pending(TerminalHost* terminal);

// Input, from any thread: one typed line (line break already removed), and the end of input.
void terminal_push_line(TerminalHost* terminal, const std::string& line);
void terminal_push_end(TerminalHost* terminal);
// Ctrl+C: stop all scripts and close at once. Only sets a flag, so a signal handler may call it.
void terminal_interrupt(TerminalHost* terminal);

// Loads `path` (a script path: CP932, backslashes) as the main script, runs its top level, fires
// "start", fires "send" for each typed line, and after the end of input (or an interrupt), when no
// script code runs, closes as the window does ("end", stop, release). The engine must be started.
void terminal_session(TerminalHost* terminal, const char* path);

// The text an echo shows: formatting codes removed as the message view removes them.
std::string strip_formatting(const char* text);
// A typed line as "send" gets it: converted from UTF-8 when asked, cut to the length limit without
// leaving half a double-byte character.
std::string typed_line(const std::string& raw, bool from_utf8);
// Cuts a script path into its folder (with its backslash; ".\" for a bare name) and file name.
void split_script_path(const char* path, std::string* directory, std::string* file_name);
