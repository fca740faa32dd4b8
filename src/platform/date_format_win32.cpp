#include <windows.h>

#include <cstring>
#include <string>

#include "platform/date_format.h"
#include "platform/system_time_win32.h"
#include "platform/wide_text.h"

namespace {

using FormatFunction = int(WINAPI*)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int);

// The picture goes to the W function as UTF-16 and the result comes back as CP932, so Japanese
// pictures and names are right whatever the system code page.
bool format_with(FormatFunction function, std::uint32_t locale, const SystemTime* time,
                 const char* picture, char* out, std::size_t size) {
  SYSTEMTIME converted{};
  if (time != nullptr) converted = to_windows(*time);
  std::wstring wide_picture = picture != nullptr ? widen(picture, 932) : std::wstring();
  wchar_t wide[512];
  int length = function(locale, 0, time != nullptr ? &converted : nullptr,
                        picture != nullptr ? wide_picture.c_str() : nullptr, wide, 512);
  if (length <= 0) return false;
  int bytes = WideCharToMultiByte(932, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0 || static_cast<std::size_t>(bytes) > size) return false;
  return WideCharToMultiByte(932, 0, wide, -1, out, bytes, nullptr, nullptr) == bytes;
}

}  // namespace

std::uint32_t user_default_locale() {
  return GetUserDefaultLCID();
}

bool format_date(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size) {
  return format_with(GetDateFormatW, locale, time, picture, out, size);
}

bool format_time(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size) {
  return format_with(GetTimeFormatW, locale, time, picture, out, size);
}
