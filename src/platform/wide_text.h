// Win32 only: byte text in a given code page to UTF-16 for the W functions, and back.
#pragma once

#include <windows.h>

#include <string>

// Bytes that have no character in the code page become U+FFFD (later "?" when narrowed again).
inline std::wstring widen(const char* text, UINT code_page) {
  int size = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text, -1, wide.data(), size);
  wide.resize(static_cast<std::size_t>(size - 1));
  return wide;
}

// UTF-16 to bytes in the code page; a character it lacks becomes the code page's default ("?").
inline std::string narrow_string(const std::wstring& wide, UINT code_page) {
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}
