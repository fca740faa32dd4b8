#include "shell/cli/terminal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/cp932.h"
#include "builtins/window.h"
#include "engine/engine.h"
#include "engine/value.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "shell/app_connection.h"

Terminal::Terminal(const TerminalOptions& options, std::FILE* out)
    : options_(options), out_(out), queue_(carry_out, this) {}

Terminal::~Terminal() = default;

void Terminal::push_line(const std::string& line) {
  {
    std::lock_guard<std::mutex> guard(input_mutex_);
    lines_.push_back(line);
  }
  queue_.wake();
}

void Terminal::push_end() {
  {
    std::lock_guard<std::mutex> guard(input_mutex_);
    input_ended_ = true;
  }
  queue_.wake();
}

void Terminal::interrupt() {
  // Code that a stop cannot reach (a platform call that blocks) has had its chance when two more
  // presses come while the stop still waits: end the process. Every echo was flushed when written.
  if (stopping_.load() && interrupts_.load() - handled_.load() >= 2) std::_Exit(130);
  interrupts_.fetch_add(1);
}

void Terminal::reload() {
  reload_asked_.store(true);
  queue_.wake();
}

// Runs beside the UI thread for the whole session: each Ctrl+C becomes a stop of all script code,
// also of code that runs on the UI thread itself (the top level, "end").
void Terminal::watch_interrupts() {
  while (!session_over_.load()) {
    if (handled_.load() < interrupts_.load()) {
      std::int32_t seen = interrupts_.load();
      stopping_.store(true);
      // The UI thread serves the deliveries of stopping threads: it is either waiting for its next
      // step or running script code that this stop ends.
      stop_all_scripts(nullptr);
      stopping_.store(false);
      handled_.store(seen);
      queue_.wake();
    } else {
      sleep_milliseconds(5);
    }
  }
}

void Terminal::wait_until_interrupts_handled() {
  while (handled_.load() < interrupts_.load()) {
    queue_.serve();
    queue_.wait(5);
  }
}

Terminal::Step Terminal::wait_for_step(std::string* line) {
  for (;;) {
    queue_.serve();
    if (interrupts_.load() > 0) return Step::Close;
    if (reload_asked_.exchange(false)) return Step::Reload;
    {
      std::lock_guard<std::mutex> guard(input_mutex_);
      // "send"s follow each other in input order: the next starts when no event of ours runs.
      if (app_.running_events.load() == 0 && !lines_.empty()) {
        *line = std::move(lines_.front());
        lines_.pop_front();
        return Step::Send;
      }
      // A connection keeps the session going after the end of input, so that a script can run as
      // a bot; once the connection has ended by itself the session closes.
      if (input_ended_ && lines_.empty() && app_.running_events.load() == 0 &&
          active_calls() == 0 && !connection_active(&connection_))
        return Step::Close;
    }
    // Thread ends are polled; deliveries, lines and interrupts wake the wait.
    queue_.wait(10);
  }
}

void Terminal::session(const char* path) {
  std::string directory;
  std::string file_name;
  split_script_path(path, &directory, &file_name);
  app_init(&app_, this, &server_view_, deliver, serve, directory.c_str(), file_name.c_str());
  app_.host.window = this;
  app_.host.message_box = message_box;
  app_.event_finished = event_ended;
  session_over_.store(false);
  std::thread watcher([this] { watch_interrupts(); });

  app_use_connection(&app_, &connection_);

  app_load(&app_);
  if (interrupts_.load() == 0) app_fire_start(&app_);
  if (options_.connect) {
    // "start" may set "server" and "port": connect once it has returned.
    while (interrupts_.load() == 0 && app_.running_events.load() > 0) {
      queue_.serve();
      queue_.wait(10);
    }
    if (interrupts_.load() == 0) app_connect(&app_);
  }
  std::string line;
  for (Step step; (step = wait_for_step(&line)) != Step::Close;) {
    if (step == Step::Send) app_send_line(&app_, line.c_str());
    if (step == Step::Reload) app_load(&app_);
  }

  // The window's close sequence. "end" cannot keep open a terminal whose input has ended or that
  // was interrupted, so its answer is not followed.
  wait_until_interrupts_handled();
  app_ask_end(&app_);
  app_shut_down(&app_);
  connection_free(&connection_);
  wait_until_interrupts_handled();
  session_over_.store(true);
  watcher.join();
  if (started_ && !ends_with_line_break_) write_bytes("\n", 1);
  std::fflush(out_);
}

ViewHandle Terminal::make_view(const char* channel_name) {
  TerminalView* view = alloc_record<TerminalView>();
  if (view == nullptr) return nullptr;
  view->name = dup_string(channel_name);
  if (view->name == nullptr) release(&view);
  return view;
}

void Terminal::destroy_view(ViewHandle handle) {
  auto* view = static_cast<TerminalView*>(handle);
  if (last_view_ == view) last_view_ = nullptr;
  release(&view->name);
  release(&view);
}

// A new terminal line for a view: a line break unless it is the first line, then the prefix.
void Terminal::begin_line(TerminalView* view) {
  if (started_) write_bytes("\n", 1);
  started_ = true;
  last_view_ = view;
  if (view->name == nullptr) return;
  write_bytes("[", 1);
  write_shown(view->name, std::strlen(view->name));
  write_bytes("] ", 2);
}

// Each LF (with the CRs before it) of the text starts a new terminal line. Text for the view of the
// last line continues it; text for another view starts a line of its own.
void Terminal::append(ViewHandle handle, const char* text) {
  auto* view = static_cast<TerminalView*>(handle);
  bool first_piece = true;
  for (;;) {
    const char* end = std::strchr(text, '\n');
    std::size_t length = end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
    std::size_t kept = length;
    if (end != nullptr) {
      while (kept > 0 && text[kept - 1] == '\r')
        --kept;
    }
    if (!first_piece) {
      begin_line(view);
      write_shown(text, kept);
    } else if (kept > 0) {
      if (!started_ || last_view_ != view) begin_line(view);
      write_shown(text, kept);
    }
    if (end == nullptr) break;
    text = end + 1;
    first_piece = false;
  }
  std::fflush(out_);
}

// Writes CP932 text as it is shown. Without memory for the conversion the bytes go out as they are:
// an echo is never lost for it, and nothing aborts.
void Terminal::write_shown(const char* cp932, std::size_t length) {
  if (!options_.plain && !options_.utf8) {
    write_bytes(cp932, length);
    return;
  }
  char* shown = static_cast<char*>(alloc_block(length + 1));
  if (shown == nullptr) {
    write_bytes(cp932, length);
    return;
  }
  std::memcpy(shown, cp932, length);
  shown[length] = '\0';
  std::size_t shown_length = options_.plain ? strip_formatting_in_place(shown) : length;
  char* converted = options_.utf8 ? cp932_to_utf8(shown) : nullptr;
  if (converted != nullptr) {
    write_bytes(converted, std::strlen(converted));
  } else {
    write_bytes(shown, shown_length);
  }
  release(&converted);
  release(&shown);
}

void Terminal::write_bytes(const char* bytes, std::size_t length) {
  if (length == 0) return;
  std::fwrite(bytes, 1, length, out_);
  ends_with_line_break_ = bytes[length - 1] == '\n';
}

std::intptr_t Terminal::deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                                std::intptr_t data) {
  return static_cast<Terminal*>(host->window)->queue_.deliver(request, word, data);
}

void Terminal::serve(Host* host) {
  static_cast<Terminal*>(host->window)->queue_.serve();
}

std::intptr_t Terminal::carry_out(void* target, std::uint32_t request, std::uintptr_t word,
                                  std::intptr_t data) {
  return app_request(&static_cast<Terminal*>(target)->app_, request, word, data);
}

std::int32_t Terminal::message_box(Host* host, std::intptr_t, const char* text, const char* caption,
                                   std::uint32_t style) {
  auto* terminal = static_cast<Terminal*>(host->window);
  if (!terminal->options_.utf8) return messagebox_without_windows(stderr, text, caption, style);
  // Without memory for a conversion the bytes are written as they are.
  char* converted_text = cp932_to_utf8(text);
  char* converted_caption = caption != nullptr ? cp932_to_utf8(caption) : nullptr;
  std::int32_t button =
      messagebox_without_windows(stderr, converted_text != nullptr ? converted_text : text,
                                 converted_caption != nullptr ? converted_caption : caption, style);
  release(&converted_text);
  release(&converted_caption);
  return button;
}

void Terminal::event_ended(AppContext* app) {
  static_cast<Terminal*>(app->host.window)->queue_.wake();
}

bool read_typed_line(std::FILE* in, std::string* raw) {
  raw->clear();
  bool read_any = false;
  for (;;) {
    int c = std::getc(in);
    if (c == EOF) break;
    read_any = true;
    if (c == '\n') break;
    if (raw->size() < RAW_LINE_LIMIT) raw->push_back(static_cast<char>(c));
  }
  while (!raw->empty() && raw->back() == '\r')
    raw->pop_back();
  return read_any;
}

std::size_t strip_formatting_in_place(char* text) {
  // What is kept is never longer than what was read, so the text is rewritten as it is read.
  auto* shown = reinterpret_cast<unsigned char*>(text);
  auto* out = shown;
  const unsigned char* cursor = shown;
  bool in_link = false;
  while (*cursor != 0) {
    unsigned char byte = *cursor++;
    switch (byte) {
      case 0x02:
      case 0x14:
      case 0x16:
      case 0x1F:
        break;
      case 0x03: {
        // Up to two digits, then a comma only after digits, and up to two more digits.
        auto skip_digits = [&] {
          int count = 0;
          while (count < 2 && *cursor >= '0' && *cursor <= '9') {
            ++cursor;
            ++count;
          }
          return count;
        };
        if (skip_digits() > 0 && *cursor == ',') {
          ++cursor;
          skip_digits();
        }
        break;
      }
      case 0xFF:
        if (in_link) {
          in_link = false;
        } else if (*cursor == 0xFF) {
          *out++ = 0xFF;
          ++cursor;
        } else {
          // A link begins; after 0x03 it is a plain one and that byte belongs to the mark.
          in_link = true;
          if (*cursor == 0x03) ++cursor;
        }
        break;
      default:
        *out++ = byte;
        // A double-byte character is kept whole: its second byte is never a code.
        if (is_lead_byte(byte) && *cursor != 0) *out++ = *cursor++;
        break;
    }
  }
  *out = 0;
  return static_cast<std::size_t>(out - shown);
}

std::string typed_line(const std::string& raw, bool from_utf8) {
  std::string line = raw;
  if (from_utf8) {
    char* converted = utf8_to_cp932(raw.c_str());
    line = converted != nullptr ? converted : "";
    release(&converted);
  }
  std::size_t length = 0;
  while (length < line.size()) {
    std::size_t step = is_lead_byte(static_cast<unsigned char>(line[length])) ? 2 : 1;
    if (length + step > INPUT_LINE_LIMIT) break;
    length += step;
  }
  line.resize(std::min(length, line.size()));
  return line;
}

void split_script_path(const char* path, std::string* directory, std::string* file_name) {
  std::size_t name_start = folder_length(path);
  *directory = name_start > 0 ? std::string(path, name_start) : std::string(".\\");
  *file_name = std::string(path + name_start);
}
