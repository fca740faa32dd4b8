// Runs the utf8 extension's two conversions over arbitrary bytes, each into a block of exactly the
// size it announced, and checks what must hold whatever the input:
// - UTF-8 → CP932 is never longer than its input, CP932 → UTF-8 never more than three times;
// - CP932 → UTF-8 always gives well-formed UTF-8;
// - text that has once been converted converts back and forth unchanged (duplicate CP932 pairs
//   settle on one pair in the first step);
// - UTF-8 that converted without a "?" comes back byte for byte, unless it used a one-way
//   look-alike or began with a byte order mark.
// It also calls the exported functions as the engine would, with argument cells from the shared
// heap.
#include <lumo/extension.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert.h"

extern "C" {
int32_t _sfunc_utf8tosjis(CallContext*, ValueNode*, ValueNode*, char*);
int32_t _sfunc_sjistoutf8(CallContext*, ValueNode*, ValueNode*, char*);
}

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

using Converter = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

// The input comes as the fuzzer's own exactly sized block where it can, so that a read past its
// end is seen too (a std::string has room and a terminator behind its bytes).
std::string run(Converter convert, const unsigned char* in, std::size_t count) {
  std::size_t size = convert(in, count, nullptr);
  // An exactly sized heap block, so that the sanitizer sees any write past it.
  auto* out = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
  check(convert(in, count, out) == size);
  std::string result(reinterpret_cast<char*>(out), size);
  std::free(out);
  return result;
}

std::string run(Converter convert, const std::string& in) {
  return run(convert, reinterpret_cast<const unsigned char*>(in.data()), in.size());
}

bool well_formed_utf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto first = static_cast<unsigned char>(text[i]);
    std::size_t length = first < 0x80   ? 1
                         : first < 0xC2 ? 0
                         : first < 0xE0 ? 2
                         : first < 0xF0 ? 3
                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t point = length == 1 ? first : first & (length == 2 ? 0x1Fu : 0x0Fu);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3Fu);
    }
    if ((length == 3 && point < 0x800) || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

bool uses_look_alike(const std::string& utf8) {
  static const char* const kOneWay[] = {"\xE3\x80\x9C", "\xE2\x80\x96", "\xE2\x88\x92", "\xC2\xA2",
                                        "\xC2\xA3",     "\xC2\xAC",     "\xE2\x80\x94", "\xC2\xA6",
                                        "\xC2\xA5",     "\xE2\x80\xBE"};
  for (const char* form : kOneWay) {
    if (utf8.find(form) != std::string::npos) return true;
  }
  return false;
}

void call_exported(const std::string& text) {
  for (auto function : {_sfunc_utf8tosjis, _sfunc_sjistoutf8}) {
    auto* argument = static_cast<ValueNode*>(lumo_alloc(sizeof(ValueNode)));
    auto* result = static_cast<ValueNode*>(lumo_alloc(sizeof(ValueNode)));
    Value argument_value{};
    Value result_value{};
    argument->value = &argument_value;
    result->value = &result_value;
    char message[LUMO_MESSAGE_SIZE] = "";
    check(lumo_store_text(&argument_value, text.c_str(), message) == LUMO_STATUS_OK);
    check(function(nullptr, argument, result, message) == LUMO_STATUS_OK);
    check(result_value.is_string == 1);
    (void)std::strlen(result_value.data.text);
    lumo_free(result_value.data.text);
    lumo_free(argument_value.data.text);
    lumo_free(argument);
    lumo_free(result);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);

  std::string sjis = run(utf8ext::utf8_to_cp932, data, size);
  check(sjis.size() <= input.size());
  std::string utf8 = run(utf8ext::cp932_to_utf8, data, size);
  check(utf8.size() <= 3 * input.size());
  check(well_formed_utf8(utf8));

  check(run(utf8ext::cp932_to_utf8, run(utf8ext::utf8_to_cp932, utf8)) == utf8);
  check(run(utf8ext::utf8_to_cp932, run(utf8ext::cp932_to_utf8, sjis)) == sjis);

  bool bom = size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0;
  if (input.find('?') == std::string::npos && sjis.find('?') == std::string::npos && !bom &&
      !uses_look_alike(input)) {
    check(run(utf8ext::cp932_to_utf8, sjis) == input);
  }

  call_exported(input);
  return 0;
}
