#include "shell/cli/terminal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "builtins/window.h"
#include "engine/cp932.h"
#include "engine/engine.h"
#include "engine/value.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

std::string to_utf8(const std::string& cp932) {
  char* converted = cp932_to_utf8(cp932.c_str());
  std::string text = converted != nullptr ? converted : "";
  release(&converted);
  return text;
}

}  // namespace

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
    {
      std::lock_guard<std::mutex> guard(input_mutex_);
      // "send"s follow each other in input order: the next starts when no event of ours runs.
      if (app_.running_events.load() == 0 && !lines_.empty()) {
        *line = std::move(lines_.front());
        lines_.pop_front();
        return Step::Send;
      }
      if (input_ended_ && lines_.empty() && app_.running_events.load() == 0 && active_calls() == 0)
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

  app_load(&app_);
  if (interrupts_.load() == 0) app_fire_start(&app_);
  std::string line;
  while (wait_for_step(&line) == Step::Send)
    app_send_line(&app_, line.c_str());

  // The window's close sequence. "end" cannot keep open a terminal whose input has ended or that
  // was interrupted, so its answer is not followed.
  wait_until_interrupts_handled();
  app_ask_end(&app_);
  app_shut_down(&app_);
  wait_until_interrupts_handled();
  session_over_.store(true);
  watcher.join();
  if (started_ && !ends_with_line_break_) write_bytes("\n");
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
  if (started_) write_bytes("\n");
  started_ = true;
  last_view_ = view;
  if (view->name != nullptr) write_shown(std::string("[") + view->name + "] ");
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
    std::string piece(text, kept);
    if (!first_piece) {
      begin_line(view);
      write_shown(piece);
    } else if (!piece.empty()) {
      if (!started_ || last_view_ != view) begin_line(view);
      write_shown(piece);
    }
    if (end == nullptr) break;
    text = end + 1;
    first_piece = false;
  }
  std::fflush(out_);
}

void Terminal::write_shown(const std::string& cp932) {
  std::string bytes = options_.plain ? strip_formatting(cp932.c_str()) : cp932;
  if (options_.utf8) bytes = to_utf8(bytes);
  write_bytes(bytes);
}

void Terminal::write_bytes(const std::string& bytes) {
  if (bytes.empty()) return;
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
  ends_with_line_break_ = bytes.back() == '\n';
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
  std::string converted_caption = caption != nullptr ? to_utf8(caption) : "";
  return messagebox_without_windows(stderr, to_utf8(text).c_str(),
                                    caption != nullptr ? converted_caption.c_str() : nullptr,
                                    style);
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

std::string strip_formatting(const char* text) {
  std::string shown;
  bool in_link = false;
  const auto* cursor = reinterpret_cast<const unsigned char*>(text);
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
          shown.push_back(static_cast<char>(0xFF));
          ++cursor;
        } else {
          // A link begins; after 0x03 it is a plain one and that byte belongs to the mark.
          in_link = true;
          if (*cursor == 0x03) ++cursor;
        }
        break;
      default:
        shown.push_back(static_cast<char>(byte));
        // A double-byte character is kept whole: its second byte is never a code.
        if (is_lead_byte(byte) && *cursor != 0) shown.push_back(static_cast<char>(*cursor++));
        break;
    }
  }
  return shown;
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
