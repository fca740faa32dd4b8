#include "shell/win32/link_opener.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/wide_text.h"
#include "shell/link_filter.h"

namespace {

// The replacement opener: appends the link's bytes and a line break to the named file.
void log_link(const std::wstring& log_path, const char* link) {
  HANDLE file = CreateFileW(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string line = std::string(link) + "\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring link_log_path() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"LUMO_LINK_LOG", path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

}  // namespace

void open_link(const char* link) {
  if (!link_may_open(link)) return;
  static const std::wstring log_path = link_log_path();
  if (!log_path.empty()) {
    log_link(log_path, link);
    return;
  }
  // Shown normally: a browser or mail program started hidden would look as if nothing happened.
  ShellExecuteW(nullptr, nullptr, widen(link, 932).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
