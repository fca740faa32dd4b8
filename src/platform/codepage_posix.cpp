#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/memory.h"

namespace {

// The converted text grows in a buffer of the engine's heap, so that running out of memory gives
// null like every other maker of strings (no exception).
struct Output {
  char* data = nullptr;
  std::size_t length = 0;
  std::size_t capacity = 0;

  bool append(const char* bytes, std::size_t count) {
    if (length + count + 1 > capacity) {
      std::size_t grown = capacity < 256 ? 256 : capacity;
      while (grown < length + count + 1)
        grown *= 2;
      char* larger = static_cast<char*>(alloc_block(grown));
      if (larger == nullptr) return false;
      if (length > 0) std::memcpy(larger, data, length);
      release(&data);
      data = larger;
      capacity = grown;
    }
    std::memcpy(data + length, bytes, count);
    length += count;
    data[length] = '\0';
    return true;
  }
};

char* convert(const char* text, const char* to, const char* from) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return nullptr;
  Output out;
  bool ok = out.append("", 0);
  char* in_cursor = const_cast<char*>(text);
  std::size_t in_left = std::strlen(text);
  char chunk[256];
  while (ok && in_left > 0) {
    char* out_cursor = chunk;
    std::size_t out_left = sizeof chunk;
    std::size_t done = iconv(converter, &in_cursor, &in_left, &out_cursor, &out_left);
    ok = out.append(chunk, static_cast<std::size_t>(out_cursor - chunk));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // An invalid or incomplete sequence: one "?" for its first byte, then go on after it.
    ok = ok && out.append("?", 1);
    ++in_cursor;
    --in_left;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(converter);
  if (!ok) release(&out.data);
  return out.data;
}

}  // namespace

char* cp932_to_utf8(const char* text) {
  return convert(text, "UTF-8", "CP932");
}

char* utf8_to_cp932(const char* text) {
  return convert(text, "CP932", "UTF-8");
}
