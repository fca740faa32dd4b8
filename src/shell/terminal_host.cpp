#include "shell/terminal_host.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/cp932.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/script.h"
#include "frontend/loader.h"
#include "platform/codepage.h"
#include "platform/memory.h"

namespace {

void write_bytes(TerminalHost* terminal, const std::string& bytes) {
  if (bytes.empty()) return;
  std::fwrite(bytes.data(), 1, bytes.size(), terminal->out);
  terminal->ends_with_line_break = bytes.back() == '\n';
}

// Shows one echo: a line echo starts a new line (except the very first), a string echo continues
// the current one.
void show_echo(TerminalHost* terminal, std::uint32_t request, const char* text) {
  std::string bytes = terminal->options.plain ? strip_formatting(text) : std::string(text);
  if (terminal->options.utf8) {
    char* converted = cp932_to_utf8(bytes.c_str());
    bytes = converted != nullptr ? converted : "";
    release(&converted);
  }
  if (request == UM_LINEECHO && terminal->output_started) bytes.insert(0, 1, '\n');
  terminal->output_started = true;
  write_bytes(terminal, bytes);
  std::fflush(terminal->out);
}

// Echoes are shown; the requests of the connection and of channels have no effect in a terminal
// without them.
std::intptr_t carry_out(TerminalHost* terminal, std::uint32_t request, const char* text) {
  if ((request == UM_LINEECHO || request == UM_STRECHO) && text != nullptr)
    show_echo(terminal, request, text);
  return 0;
}

std::intptr_t deliver(Host* host, std::uint32_t request, std::uintptr_t, std::intptr_t data) {
  auto* terminal = reinterpret_cast<TerminalHost*>(host);
  const char* text = reinterpret_cast<const char*>(data);
  if (std::this_thread::get_id() == terminal->owner) return carry_out(terminal, request, text);
  // Another thread waits until the host's thread has carried the request out.
  TerminalHost::Pending pending{request, text, false};
  std::unique_lock<std::mutex> guard(terminal->mutex);
  terminal->pending.push_back(&pending);
  terminal->wake.notify_all();
  terminal->wake.wait(guard, [&] { return pending.done; });
  return 0;
}

void serve(Host* host) {
  terminal_serve_pending(reinterpret_cast<TerminalHost*>(host));
}

void event_finished(void* cookie) {
  auto* terminal = static_cast<TerminalHost*>(cookie);
  std::lock_guard<std::mutex> guard(terminal->mutex);
  --terminal->running_events;
  terminal->wake.notify_all();
}

// Starts a host event on a thread of its own, as the window does.
void fire_event(TerminalHost* terminal, Script* script_set, const char* name, ValueNode* arguments,
                std::int32_t quiet) {
  if (script_set->next == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(terminal->mutex);
    ++terminal->running_events;
  }
  std::int32_t id = start_event_thread(script_set->next, nullptr, name, arguments, quiet, 0,
                                       event_finished, terminal);
  if (id <= 0) {
    std::lock_guard<std::mutex> guard(terminal->mutex);
    --terminal->running_events;
  }
}

void fire_send(TerminalHost* terminal, Script* script_set, const std::string& line) {
  ValueNode* argument = make_node();
  if (argument == nullptr) return;
  if (set_string_value(argument->value, line.c_str()))
    fire_event(terminal, script_set, "send", argument, 0);
  free_node(argument);
}

// What the host loop does next.
enum class Step { Serve, Send, Close };

// Serves deliveries until a line can be sent (no event of this host still runs, so "send"s follow
// each other in input order) or until it is time to close: after an interrupt, or after the end of
// input once no script code runs and no started thread is pending.
Step wait_for_step(TerminalHost* terminal, std::string* line) {
  for (;;) {
    terminal_serve_pending(terminal);
    if (terminal->interrupted.load()) return Step::Close;
    std::unique_lock<std::mutex> guard(terminal->mutex);
    if (!terminal->pending.empty()) continue;
    if (terminal->running_events == 0 && !terminal->lines.empty()) {
      *line = std::move(terminal->lines.front());
      terminal->lines.pop_front();
      return Step::Send;
    }
    if (terminal->input_ended && terminal->lines.empty() && terminal->running_events == 0 &&
        active_calls() == 0)
      return Step::Close;
    // Thread ends and interrupts are polled; everything else wakes the loop.
    terminal->wake.wait_for(guard, std::chrono::milliseconds(10));
  }
}

}  // namespace

void terminal_init(TerminalHost* terminal, const TerminalOptions& options, std::FILE* out) {
  terminal->host = Host{};
  terminal->host.window = terminal;
  terminal->host.error_echo_request = UM_LINEECHO;
  terminal->host.deliver = deliver;
  terminal->host.serve_pending = serve;
  terminal->options = options;
  terminal->out = out;
  terminal->owner = std::this_thread::get_id();
}

void terminal_serve_pending(TerminalHost* terminal) {
  std::unique_lock<std::mutex> guard(terminal->mutex);
  while (!terminal->pending.empty()) {
    TerminalHost::Pending* pending = terminal->pending.front();
    terminal->pending.pop_front();
    guard.unlock();
    carry_out(terminal, pending->request, pending->text);
    guard.lock();
    pending->done = true;
    terminal->wake.notify_all();
  }
}

void terminal_push_line(TerminalHost* terminal, const std::string& line) {
  std::lock_guard<std::mutex> guard(terminal->mutex);
  terminal->lines.push_back(line);
  terminal->wake.notify_all();
}

void terminal_push_end(TerminalHost* terminal) {
  std::lock_guard<std::mutex> guard(terminal->mutex);
  terminal->input_ended = true;
  terminal->wake.notify_all();
}

void terminal_interrupt(TerminalHost* terminal) {
  terminal->interrupted.store(true);
}

void terminal_session(TerminalHost* terminal, const char* path) {
  Script* script_set = create_script_set(0);
  if (script_set == nullptr) return;
  script_set->host = &terminal->host;
  std::string directory;
  std::string file_name;
  split_script_path(path, &directory, &file_name);
  {
    EngineLockGuard engine;
    load_script_file(script_set, directory.c_str(), file_name.c_str());
  }
  run_top_level(script_set);
  fire_event(terminal, script_set, "start", nullptr, 1);

  std::string line;
  while (wait_for_step(terminal, &line) == Step::Send)
    fire_send(terminal, script_set, line);

  // The window's close sequence. "end" cannot keep a terminal open whose input has ended, so its
  // result is not asked for. Without a connection there is no "close" to call.
  if (terminal->interrupted.load()) stop_all_scripts(&terminal->host);
  free_node(call_event(script_set, "end", nullptr, 1, 0));
  stop_all_scripts(&terminal->host);
  release_script_set(&script_set);
  if (terminal->output_started && !terminal->ends_with_line_break) write_bytes(terminal, "\n");
  std::fflush(terminal->out);
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
