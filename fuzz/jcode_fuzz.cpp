// Runs every Japanese-code and Base64 converter over arbitrary bytes, each into a buffer of exactly
// its stated capacity so that the sanitizer sees any write past it, and checks the round trips
// that must hold: Base64 always, Shift_JIS through JIS and EUC-JP for valid Shift_JIS text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/cp932.h"
#include "builtins/args.h"
#include "builtins/jcode.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

using Converter = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

std::vector<unsigned char> run(Converter convert, const unsigned char* in, std::size_t count,
                               std::size_t capacity) {
  // An exactly sized heap block: vector storage could hide an overflow in its spare capacity.
  auto* out = static_cast<unsigned char*>(std::malloc(capacity == 0 ? 1 : capacity));
  std::size_t written = convert(in, count, out);
  check(written <= capacity);
  std::vector<unsigned char> result(out, out + written);
  std::free(out);
  return result;
}

// Valid Shift_JIS text built from the input: printable ASCII and two-byte characters of the
// JIS X 0208 range (lead bytes up to 0xEF).
std::vector<unsigned char> valid_sjis(const unsigned char* data, std::size_t size) {
  std::vector<unsigned char> text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    unsigned lead = data[i] % (0x1F + 0x10);
    lead = lead < 0x1F ? 0x81 + lead : 0xE0 + (lead - 0x1F);
    unsigned trail = 0x40 + data[i + 1] % 0xBC;
    if (trail >= 0x7F) ++trail;
    if ((data[i] & 0x80) != 0) {
      text.push_back(static_cast<unsigned char>(0x20 + data[i + 1] % 0x5F));
    } else {
      text.push_back(static_cast<unsigned char>(lead));
      text.push_back(static_cast<unsigned char>(trail));
    }
  }
  return text;
}

void call_builtins(const unsigned char* data, std::size_t size) {
  using Builtin = std::int32_t(LUMO_CALL*)(CallContext*, ValueNode*, ValueNode*, char*);
  static const Builtin kTextBuiltins[] = {
      builtin_isleadchar, builtin_getcodetype, builtin_sjistojis,    builtin_jistosjis,
      builtin_sjistoeuc,  builtin_euctosjis,   builtin_base64decode, builtin_base64encode};
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  ValueNode* argument = make_node();
  ValueNode* hash = make_node();
  argument->next = hash;
  check(set_string_value(argument->value, text.data()));
  check(store_bytes_in_hash(nullptr, hash, data, static_cast<std::int32_t>(size)));
  char message[LUMO_MESSAGE_SIZE];
  for (Builtin builtin : kTextBuiltins) {
    ValueNode* result = make_node();
    message[0] = '\0';
    check(builtin(nullptr, argument, result, message) == LUMO_STATUS_OK);
    if (result->value->is_string) (void)std::strlen(result->value->data.text);
    free_node(result);
  }
  for (Builtin builtin : {builtin_hashtosjis, builtin_base64encodehash, builtin_base64decodehash}) {
    ValueNode* result = make_node();
    check(builtin(nullptr, builtin == builtin_base64decodehash ? argument : hash, result,
                  message) == LUMO_STATUS_OK);
    free_node(result);
  }
  argument->next = nullptr;
  free_node(argument);
  free_node(hash);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  detect_code_type(data, size);
  run(sjis_to_jis, data, size, sjis_to_jis_capacity(size));
  run(jis_to_sjis, data, size, size);
  run(sjis_to_euc, data, size, size);
  run(euc_to_sjis, data, size, size);

  std::vector<unsigned char> encoded =
      run([](const unsigned char* in, std::size_t count,
             unsigned char* out) { return base64_encode(in, count, reinterpret_cast<char*>(out)); },
          data, size, base64_encode_capacity(size));
  auto decode = [](const unsigned char* in, std::size_t count, unsigned char* out) {
    return base64_decode(reinterpret_cast<const char*>(in), count, out);
  };
  check(run(decode, encoded.data(), encoded.size(), encoded.size()) ==
        std::vector<unsigned char>(data, data + size));
  run(decode, data, size, size);

  std::vector<unsigned char> text = valid_sjis(data, size);
  std::vector<unsigned char> jis =
      run(sjis_to_jis, text.data(), text.size(), sjis_to_jis_capacity(text.size()));
  check(run(jis_to_sjis, jis.data(), jis.size(), jis.size()) == text);
  std::vector<unsigned char> euc = run(sjis_to_euc, text.data(), text.size(), text.size());
  check(run(euc_to_sjis, euc.data(), euc.size(), euc.size()) == text);

  call_builtins(data, size);
  return 0;
}
