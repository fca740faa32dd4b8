#include "builtins/strings.h"

#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "builtins/args.h"
#include "engine/value.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace {

// An argument's text for reading: a number formatted, a string read in place (a shared one is
// a private copy); "" for a missing argument.
class ArgText {
 public:
  explicit ArgText(const ValueNode* argument) : view_(value_of(argument)) {}
  ArgText(const ArgText&) = delete;
  ArgText& operator=(const ArgText&) = delete;
  // False when a global's text could not be copied (memory ran out).
  bool ok() const { return !view_.scalar.failed; }
  const char* get() const { return view_.text; }
  // An owned copy of the text to change in place; null when memory runs out.
  char* take() {
    char* owned = view_.scalar.owned_text;
    view_.scalar.owned_text = nullptr;
    return owned != nullptr ? owned : dup_string(view_.text);
  }
  std::int32_t length() const { return static_cast<std::int32_t>(std::strlen(view_.text)); }

 private:
  static const Value* value_of(const ValueNode* argument) {
    static char kNoText[1] = "";
    static const Value kEmpty = {ValueData{.text = kNoText}, 1, 0, nullptr};
    return argument != nullptr ? argument->value : &kEmpty;
  }
  ValueText view_;
};

std::int32_t return_span(ValueNode* result, const char* start, std::int32_t count, char* message,
                         const char* name) {
  return return_text(result, copy_span(start, count + 1), message, name);
}

unsigned char fold(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Rewrites ASCII letters; the bytes of two-byte characters are left alone, since a second byte in
// the letter range is part of a character, not a letter.
void map_letters(char* text, bool upper) {
  for (auto* cursor = reinterpret_cast<unsigned char*>(text); *cursor != 0; ++cursor) {
    if (is_lead_byte(*cursor) && cursor[1] != 0) {
      ++cursor;
    } else if (upper && *cursor >= 'a' && *cursor <= 'z') {
      *cursor = static_cast<unsigned char>(*cursor - 'a' + 'A');
    } else if (!upper && *cursor >= 'A' && *cursor <= 'Z') {
      *cursor = static_cast<unsigned char>(*cursor - 'A' + 'a');
    }
  }
}

}  // namespace

bool wildcard_match(const char* text, const char* pattern) {
  // Iterative with one backtrack point (the last "*"), which decides the same as trying every split
  // and needs neither recursion nor exponential time.
  const char* star = nullptr;
  const char* star_text = nullptr;
  while (*text != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      star_text = text;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || fold(static_cast<unsigned char>(*pattern)) ==
                                       fold(static_cast<unsigned char>(*text)))) {
      ++pattern;
      ++text;
    } else if (star != nullptr) {
      pattern = star + 1;
      text = ++star_text;
    } else {
      return false;
    }
  }
  while (*pattern == '*')
    ++pattern;
  return *pattern == '\0';
}

LUMO_BUILTIN(istype) {
  (void)context, (void)message;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  return return_number(result, read_scalar(arguments->value).is_string);
}

LUMO_BUILTIN(int) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ScalarSnapshot scalar = read_scalar(arguments->value);
  if (scalar.failed) return alloc_failed(message, "int");
  if (!scalar.is_string) return return_number(result, scalar.number);
  const char* text = scalar.text;
  if (text[0] == '0' && text[1] != '\0') {
    if (text[1] == 'x' || text[1] == 'X') return return_number(result, parse_hex(text + 2));
    if (text[1] != '8' && text[1] != '9') return return_number(result, parse_octal(text + 1));
  }
  return return_number(result, number_of_text(text));
}

LUMO_BUILTIN(uintstr) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(read_int_arg(arguments)));
  return return_text(result, dup_string(digits), message, "uintstr");
}

LUMO_BUILTIN(chr) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char text[2] = {static_cast<char>(read_int_arg(arguments) & 0xFF), '\0'};
  return return_text(result, dup_string(text), message, "chr");
}

LUMO_BUILTIN(asc) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "asc");
  return return_number(result, static_cast<signed char>(text.get()[0]));
}

LUMO_BUILTIN(string) {
  (void)context;
  const ValueNode* text_argument = nth_argument(arguments, 1);
  if (text_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t count = read_int_arg(arguments);
  ArgText text(text_argument);
  if (!text.ok()) return alloc_failed(message, "string");
  if (count <= 0 || text.get()[0] == '\0') count = 0;  // a negative count gives "" too
  char* repeated = static_cast<char*>(alloc_block(static_cast<std::size_t>(count) + 1));
  if (repeated == nullptr) return alloc_failed(message, "string");
  std::memset(repeated, text.get()[0], static_cast<std::size_t>(count));
  repeated[count] = '\0';
  return return_text(result, repeated, message, "string");
}

LUMO_BUILTIN(trim) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "trim");
  const char* start = text.get();
  while (*start == ' ' || *start == '\t')
    ++start;
  const char* end = start + std::strlen(start);
  while (end > start && (end[-1] == ' ' || end[-1] == '\t'))
    --end;
  return return_span(result, start, static_cast<std::int32_t>(end - start), message, "trim");
}

LUMO_BUILTIN(len) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "len");
  return return_number(result, text.length());
}

LUMO_BUILTIN(left) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t count = read_int_arg(nth_argument(arguments, 1));
  if (count < 0) return return_number(result, 0);
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "left");
  std::int32_t length = text.length();
  return return_span(result, text.get(), count < length ? count : length, message, "left");
}

LUMO_BUILTIN(right) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t count = read_int_arg(nth_argument(arguments, 1));
  if (count < 0) return return_number(result, 0);
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "right");
  std::int32_t length = text.length();
  if (count > length) count = length;
  return return_span(result, text.get() + (length - count), count, message, "right");
}

LUMO_BUILTIN(mid) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t position = read_int_arg(nth_argument(arguments, 1));
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::int32_t count = count_argument != nullptr ? read_int_arg(count_argument) : -1;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "mid");
  std::int32_t length = text.length();
  // A position before the text gives "" like one past it: nothing outside the text is read.
  if (position < 0 || position >= length) return return_span(result, "", 0, message, "mid");
  std::int32_t rest = length - position;
  if (count < 0 || count > rest) count = rest;
  return return_span(result, text.get() + position, count, message, "mid");
}

LUMO_BUILTIN(instr) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t start = read_int_arg(nth_argument(arguments, 2));
  bool ignore_case = read_int_arg(nth_argument(arguments, 3)) != 0;
  ArgText text(arguments);
  ArgText sub(nth_argument(arguments, 1));
  if (!text.ok() || !sub.ok()) return alloc_failed(message, "instr");
  std::int32_t length = text.length();
  if (start < 0 || start >= length) return return_number(result, -1);
  if (!ignore_case) {
    // Byte for byte, as below: the library's search is the same search, only faster.
    const char* found = std::strstr(text.get() + start, sub.get());
    return return_number(result,
                         found != nullptr ? static_cast<std::int32_t>(found - text.get()) : -1);
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text.get());
  const auto* needle = reinterpret_cast<const unsigned char*>(sub.get());
  for (std::int32_t position = start; s[position] != 0; ++position) {
    std::int32_t i = 0;
    for (; needle[i] != 0; ++i) {
      unsigned char a = s[position + i];
      unsigned char b = needle[i];
      if (ignore_case ? fold(a) != fold(b) : a != b) break;  // also stops at the text's end
    }
    if (needle[i] == 0) return return_number(result, position);
  }
  return return_number(result, -1);
}

LUMO_BUILTIN(strcmp) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText a(arguments);
  ArgText b(nth_argument(arguments, 1));
  if (!a.ok() || !b.ok()) return alloc_failed(message, "strcmp");
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::int32_t count = count_argument != nullptr ? read_int_arg(count_argument) : -1;
  if (count < 0) return return_number(result, compare_text_locale(a.get(), b.get()));
  for (std::int32_t i = 0; i < count; ++i) {
    // Bytes compare as signed values, so 0x80 and above sort before ASCII.
    auto x = static_cast<signed char>(a.get()[i]);
    auto y = static_cast<signed char>(b.get()[i]);
    if (x != y) return return_number(result, x < y ? -1 : 1);
    if (x == 0) break;
  }
  return return_number(result, 0);
}

LUMO_BUILTIN(strmatch) {
  (void)context;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  ArgText pattern(nth_argument(arguments, 1));
  if (!text.ok() || !pattern.ok()) return alloc_failed(message, "strmatch");
  return return_number(result, wildcard_match(text.get(), pattern.get()) ? 1 : 0);
}

LUMO_BUILTIN(tolower) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "tolower");
  char* lowered = text.take();
  if (lowered == nullptr) return alloc_failed(message, "tolower");
  map_letters(lowered, false);
  return return_text(result, lowered, message, "tolower");
}

LUMO_BUILTIN(toupper) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgText text(arguments);
  if (!text.ok()) return alloc_failed(message, "toupper");
  char* raised = text.take();
  if (raised == nullptr) return alloc_failed(message, "toupper");
  map_letters(raised, true);
  return return_text(result, raised, message, "toupper");
}
