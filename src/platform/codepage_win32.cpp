#include "platform/codepage.h"

#include <windows.h>

#include <cstring>

#include "platform/memory.h"
#include "platform/wide_text.h"

namespace {

char* narrow(const std::wstring& wide, UINT code_page) {
  // The system's default character stands in for what the code page cannot hold; make it "?".
  const char* fallback = code_page == CP_UTF8 ? nullptr : "?";
  int size = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, fallback, nullptr);
  char* result = static_cast<char*>(alloc_block(size > 0 ? static_cast<std::size_t>(size) : 1));
  if (result == nullptr) return nullptr;
  if (size <= 0 ||
      WideCharToMultiByte(code_page, 0, wide.c_str(), -1, result, size, fallback, nullptr) <= 0)
    result[0] = '\0';
  return result;
}

}  // namespace

char* cp932_to_utf8(const char* text) {
  return narrow(widen(text, 932), CP_UTF8);
}

char* utf8_to_cp932(const char* text) {
  return narrow(widen(text, CP_UTF8), 932);
}
