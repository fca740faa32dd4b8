#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/memory.h"

namespace {

void (*InterruptHandler)() = nullptr;

BOOL WINAPI on_control(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (InterruptHandler != nullptr) InterruptHandler();
  return TRUE;
}

}  // namespace

void console_binary_mode() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool console_output_is_terminal() {
  return _isatty(_fileno(stdout)) != 0;
}

void console_on_interrupt(void (*handler)()) {
  InterruptHandler = handler;
  SetConsoleCtrlHandler(on_control, TRUE);
}

void console_on_hangup(void (*)()) {}

// The arguments arrive in the system code page, which is CP932 on the systems lumo is made for.
char* argument_to_path(const char* argument) {
  std::size_t length = std::strlen(argument);
  char* path = static_cast<char*>(alloc_block(length + 1));
  if (path == nullptr) return nullptr;
  std::memcpy(path, argument, length + 1);
  for (char* cursor = path; *cursor != '\0'; ++cursor) {
    if (*cursor == '/') *cursor = '\\';
  }
  return path;
}
