#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/memory.h"

namespace {

char* convert(const char* text, const char* to, const char* from) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return nullptr;
  std::string out;
  char* in_cursor = const_cast<char*>(text);
  std::size_t in_left = std::strlen(text);
  char chunk[256];
  while (in_left > 0) {
    char* out_cursor = chunk;
    std::size_t out_left = sizeof chunk;
    std::size_t done = iconv(converter, &in_cursor, &in_left, &out_cursor, &out_left);
    out.append(chunk, static_cast<std::size_t>(out_cursor - chunk));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // An invalid or incomplete sequence: one "?" for its first byte, then go on after it.
    out.push_back('?');
    ++in_cursor;
    --in_left;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(converter);
  char* result = static_cast<char*>(alloc_block(out.size() + 1));
  if (result != nullptr) std::memcpy(result, out.c_str(), out.size() + 1);
  return result;
}

}  // namespace

char* cp932_to_utf8(const char* text) {
  return convert(text, "UTF-8", "CP932");
}

char* utf8_to_cp932(const char* text) {
  return convert(text, "CP932", "UTF-8");
}
