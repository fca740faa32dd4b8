// lumo-cli's front end of the application core: every view in one text stream, typed lines to
// "send", Ctrl+C as a stop. The calling thread of terminal_session is the UI thread: it carries out
// the requests of script threads, as a window would, so waiting for scripts never deadlocks.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "shell/app_context.h"
#include "shell/request_queue.h"

// A typed line reaches "send" as at most this many bytes.
constexpr std::size_t INPUT_LINE_LIMIT = 254;
// Bytes of one typed line kept before conversion: enough for INPUT_LINE_LIMIT bytes of CP932 from
// UTF-8 of up to four bytes per character; the rest of a longer line is dropped as it is read.
constexpr std::size_t RAW_LINE_LIMIT = 4 * INPUT_LINE_LIMIT + 4;

struct TerminalOptions {
  bool plain = false;  // remove the formatting codes
  bool utf8 = false;   // output in UTF-8, typed input read as UTF-8
};

// A view in the stream: its lines begin with "[name] "; the server view has no name.
struct TerminalView {
  char* name;
};

class Terminal final : public WindowOps {
 public:
  // The calling thread becomes the UI thread.
  Terminal(const TerminalOptions& options, std::FILE* out);
  ~Terminal();

  // Input, from any thread: one typed line (line break removed), and the end of input.
  void push_line(const std::string& line);
  void push_end();
  // Ctrl+C: a stop of all script code, wherever it runs, then the close. Only touches atomics, so a
  // signal handler may call it. Presses while a stop cannot complete end the process at last.
  void interrupt();

  // Loads `path` (CP932, backslashes) as the main script, runs it, fires "start", fires "send" for
  // each typed line (one after another), and after the end of input, once no script code runs, or
  // after Ctrl+C, closes: "end", stop, release. The engine must be started.
  void session(const char* path);

  // The window operations.
  ViewHandle make_view(const char* channel_name) override;
  void destroy_view(ViewHandle view) override;
  void append(ViewHandle view, const char* text) override;
  void clear_view(ViewHandle) override {}
  void show_view(ViewHandle, bool) override {}
  void selector_add(const SelectorItem*) override {}
  void selector_remove(std::int32_t) override {}
  void selector_select(std::int32_t) override {}
  void focus_input() override {}
  void layout(ViewHandle) override {}
  void open_link(const char*) override {}

  AppContext* app() { return &app_; }

 private:
  enum class Step { Send, Close };
  Step wait_for_step(std::string* line);
  void watch_interrupts();
  void wait_until_interrupts_handled();
  void begin_line(TerminalView* view);
  void write_shown(const char* cp932, std::size_t length);
  void write_bytes(const char* bytes, std::size_t length);

  static std::intptr_t deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                               std::intptr_t data);
  static void serve(Host* host);
  static std::intptr_t carry_out(void* target, std::uint32_t request, std::uintptr_t word,
                                 std::intptr_t data);
  static std::int32_t message_box(Host* host, std::intptr_t owner, const char* text,
                                  const char* caption, std::uint32_t style);
  static void event_ended(AppContext* app);

  AppContext app_{};
  TerminalOptions options_;
  std::FILE* out_;
  RequestQueue queue_;
  TerminalView server_view_{};

  std::mutex input_mutex_;
  std::deque<std::string> lines_;  // typed lines not yet sent (CP932)
  bool input_ended_ = false;

  std::atomic<std::int32_t> interrupts_{0};  // Ctrl+C presses so far
  std::atomic<std::int32_t> handled_{0};     // of those, the ones whose stop has completed
  std::atomic<bool> stopping_{false};        // a stop for Ctrl+C is in progress
  std::atomic<bool> session_over_{false};

  // Output: whether anything was written, the view of the last line, whether it ends in LF.
  bool started_ = false;
  TerminalView* last_view_ = nullptr;
  bool ends_with_line_break_ = false;
};

// Reads one typed line from `in` up to its LF, keeping at most RAW_LINE_LIMIT bytes (the rest is
// read and dropped), without the LF and any CRs before it. False at the end of input with nothing
// read.
bool read_typed_line(std::FILE* in, std::string* raw);
// Removes the formatting codes from a text as the message view removes them; returns the length
// left.
std::size_t strip_formatting_in_place(char* text);
// A typed line as "send" gets it: converted from UTF-8 when asked, cut to the length limit without
// leaving half a double-byte character.
std::string typed_line(const std::string& raw, bool from_utf8);
// Cuts a script path into its folder (with its backslash; ".\" for a bare name) and file name.
void split_script_path(const char* path, std::string* directory, std::string* file_name);
