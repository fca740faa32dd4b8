#include <windows.h>

#include <shellapi.h>

#include "platform/shell_open.h"
#include "platform/wide_text.h"

bool shell_open(const char* file, const char* parameters, const char* directory,
                std::int32_t show) {
  std::wstring wide_file = widen(file, 932);
  std::wstring wide_parameters = parameters != nullptr ? widen(parameters, 932) : std::wstring();
  std::wstring wide_directory = directory != nullptr ? widen(directory, 932) : std::wstring();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = nullptr;
  info.lpFile = wide_file.c_str();
  info.lpParameters = parameters != nullptr ? wide_parameters.c_str() : nullptr;
  info.lpDirectory = directory != nullptr ? wide_directory.c_str() : nullptr;
  info.nShow = show;
  return ShellExecuteExW(&info) != 0;
}
