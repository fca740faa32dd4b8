// The utf8 extension: load it from a script with #library("utf8.dll") (utf8.so on POSIX).
//   utf8tosjis(text)  the UTF-8 bytes of text as CP932 text
//   sjistoutf8(text)  CP932 text as UTF-8 bytes
// Both read the argument's text (a number as its decimal text, a hash by its own scalar) and
// replace whatever cannot be converted with "?" (see convert.h); they never fail on their input.
#include <lumo/extension.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "convert.h"

namespace {

using Converter = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

std::int32_t convert_argument(ValueNode* arguments, ValueNode* result, char* message,
                              Converter convert, const char* alloc_failed) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char digits[16];
  const char* text = lumo_text_of(arguments);
  if (text == nullptr) {
    std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(lumo_number_of(arguments)));
    text = digits;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  std::size_t count = std::strlen(text);
  std::size_t size = convert(in, count, nullptr);
  auto* converted = static_cast<unsigned char*>(lumo_alloc(size + 1));
  if (converted == nullptr) return lumo_fail(message, alloc_failed);
  convert(in, count, converted);
  converted[size] = '\0';
  Value* value = result->value;
  if (value->is_string) lumo_free(value->data.text);
  value->data.text = reinterpret_cast<char*>(converted);
  value->is_string = 1;
  return LUMO_STATUS_OK;
}

}  // namespace

extern "C" {

LUMO_EXPORT std::int32_t LUMO_CALL _sfunc_utf8tosjis(CallContext* context, ValueNode* arguments,
                                                     ValueNode* result, char* message) {
  (void)context;
  return convert_argument(arguments, result, message, utf8ext::utf8_to_cp932,
                          "Utf8ToSjis: Alloc failed");
}

LUMO_EXPORT std::int32_t LUMO_CALL _sfunc_sjistoutf8(CallContext* context, ValueNode* arguments,
                                                     ValueNode* result, char* message) {
  (void)context;
  return convert_argument(arguments, result, message, utf8ext::cp932_to_utf8,
                          "SjisToUtf8: Alloc failed");
}

}  // extern "C"
