// Error and trace lines, delivered through the built-in `error`.
#include "engine/error_report.h"

#include <cstring>

#include "engine/builtin_table.h"
#include "engine/engine.h"
#include "engine/script.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

// The pieces of a line, joined once their lengths are known.
struct LineParts {
  static constexpr int kMax = 12;
  const char* text[kMax];
  std::size_t length[kMax];
  int count = 0;

  void add(const char* piece, std::size_t size) {
    text[count] = piece;
    length[count] = size;
    ++count;
  }
  void add(const char* piece) { add(piece, std::strlen(piece)); }

  char* join() const {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
      total += length[i];
    char* line = static_cast<char*>(alloc_block(total + 1));
    if (line == nullptr) return nullptr;
    char* cursor = line;
    for (int i = 0; i < count; ++i) {
      std::memcpy(cursor, text[i], length[i]);
      cursor += length[i];
    }
    *cursor = '\0';
    return line;
  }
};

bool points_into(const char* text, const char* position) {
  if (text == nullptr || position == nullptr) return false;
  // Compare as integers: the detail may point anywhere, and only a pointer into the text counts.
  auto first = reinterpret_cast<std::uintptr_t>(text);
  auto at = reinterpret_cast<std::uintptr_t>(position);
  return at >= first && at <= first + std::strlen(text);
}

}  // namespace

char* format_error_line(CallContext* context, const char* message, const char* detail,
                        std::int32_t trace) {
  if (context == nullptr) return nullptr;
  Script* module = context->script;

  LineParts parts;
  if (trace) {
    parts.add("        at ");
  } else {
    parts.add("### Error: ");
    parts.add(message != nullptr ? message : "");
    parts.add(" : ");
  }
  if (module != nullptr && module->name != nullptr) {
    parts.add(module->name);
    if (context->function_name != nullptr) {
      parts.add(".");
      parts.add(context->function_name);
    }
  }

  char* line_number = nullptr;
  if (detail != nullptr) {
    const char* text = module != nullptr ? module->text : nullptr;
    if (points_into(text, detail)) {
      std::int32_t line = 1;
      const char* line_start = text;
      for (const char* cursor = text; cursor < detail; ++cursor) {
        if (*cursor == '\n') {
          ++line;
          line_start = cursor;
        }
      }
      while (*line_start == '\t' || *line_start == '\n' || *line_start == '\r' ||
             *line_start == ' ') {
        ++line_start;
      }
      std::size_t line_length = std::strcspn(line_start, "\r\n");
      line_number = number_to_text(line);
      if (line_number == nullptr) return nullptr;
      parts.add(":(");
      parts.add(line_number);
      parts.add(") : ");
      parts.add(line_start, line_length);
    } else {
      parts.add(" : ");
      parts.add(detail);
    }
  }
  char* line = parts.join();
  release(&line_number);
  return line;
}

void report_named_error(CallContext* context, const char* name, const char* suffix,
                        const char* detail) {
  char* message = concat_strings(name, suffix);
  report_error(context, message != nullptr ? message : suffix + 2, detail, 0);
  release(&message);
}

void report_error(CallContext* context, const char* message, const char* detail,
                  std::int32_t trace) {
  if (context == nullptr || stop_requested()) return;
  char* line = format_error_line(context, message, detail, trace);
  if (line == nullptr) return;
  NativeFunction deliver = find_builtin("_sfunc_error");
  ValueNode* argument = make_node();
  ValueNode* result = make_node();
  if (deliver == nullptr || argument == nullptr || result == nullptr) {
    release(&line);
    free_node(argument);
    free_node(result);
    return;
  }
  argument->value->data.text = line;  // the argument cell owns the line now
  argument->value->is_string = 1;
  char buffer[LUMO_MESSAGE_SIZE] = {};
  deliver(context, argument, result, buffer);
  free_node(argument);
  free_node(result);
}
