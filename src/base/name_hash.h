// The signature of a name, computed where a name is parsed and where it is looked up, so that the
// parser can store it in Name nodes and the engine compare it before the names themselves.
#pragma once

#include <cstdint>

// The signature of a name: h = 2h + byte, bytes taken as signed, 32-bit wrap-around. Null gives 0.
constexpr std::int32_t name_hash_of(const char* text) {
  std::uint32_t hash = 0;
  if (text == nullptr) return 0;
  for (; *text != '\0'; ++text) {
    hash = 2 * hash +
           static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*text)));
  }
  return static_cast<std::int32_t>(hash);
}
