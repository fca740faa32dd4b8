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

// The engine's entries, when the engine that loaded this library has them.
const LumoEngineTable* Engine = nullptr;

using Converter = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

std::int32_t convert_argument(CallContext* context, ValueNode* arguments, ValueNode* result,
                              char* message, Converter convert, const char* alloc_failed) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  // The argument may be a global that another script thread assigns meanwhile: its text is
  // copied through the engine, under the engine's lock, when the engine offers that.
  char* copy = nullptr;
  char digits[16];
  const char* text;
  if (LUMO_ENGINE_HAS(Engine, copy_text)) {
    copy = Engine->copy_text(context, arguments);
    if (copy == nullptr) return lumo_fail(message, alloc_failed);
    text = copy;
  } else {
    text = lumo_text_of(arguments);
    if (text == nullptr) {
      std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(lumo_number_of(arguments)));
      text = digits;
    }
  }
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  std::size_t count = std::strlen(text);
  std::size_t size = convert(in, count, nullptr);
  // Script strings count their bytes in 31 bits; a longer result is refused like a failed
  // allocation (CP932 to UTF-8 makes a text up to three times as long).
  constexpr std::size_t kLongestString = 0x7FFFFFFF;
  auto* converted =
      size <= kLongestString ? static_cast<unsigned char*>(lumo_alloc(size + 1)) : nullptr;
  if (converted != nullptr) {
    convert(in, count, converted);
    converted[size] = '\0';
  }
  lumo_free(copy);
  if (converted == nullptr) return lumo_fail(message, alloc_failed);
  Value* value = result->value;
  if (value->is_string) lumo_free(value->data.text);
  value->data.text = reinterpret_cast<char*>(converted);
  value->is_string = 1;
  return LUMO_STATUS_OK;
}

}  // namespace

extern "C" {

LUMO_EXPORT void LUMO_CALL _lumo_init(const LumoEngineTable* engine) {
  Engine = engine;
}

LUMO_EXPORT std::int32_t LUMO_CALL _sfunc_utf8tosjis(CallContext* context, ValueNode* arguments,
                                                     ValueNode* result, char* message) {
  return convert_argument(context, arguments, result, message, utf8ext::utf8_to_cp932,
                          "Utf8ToSjis: Alloc failed");
}

LUMO_EXPORT std::int32_t LUMO_CALL _sfunc_sjistoutf8(CallContext* context, ValueNode* arguments,
                                                     ValueNode* result, char* message) {
  return convert_argument(context, arguments, result, message, utf8ext::cp932_to_utf8,
                          "SjisToUtf8: Alloc failed");
}

}  // extern "C"
