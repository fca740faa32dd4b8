#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include "platform/codepage.h"

namespace {

void (*InterruptHandler)() = nullptr;
void (*HangupHandler)() = nullptr;

void on_signal(int number) {
  void (*handler)() = number == SIGHUP ? HangupHandler : InterruptHandler;
  if (handler != nullptr) handler();
}

void catch_signal(int number) {
  struct sigaction action {};
  action.sa_handler = on_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

}  // namespace

void console_binary_mode() {}

bool console_output_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

void console_on_interrupt(void (*handler)()) {
  InterruptHandler = handler;
  catch_signal(SIGINT);
  catch_signal(SIGTERM);
}

void console_on_hangup(void (*handler)()) {
  HangupHandler = handler;
  catch_signal(SIGHUP);
}

char* argument_to_path(const char* argument) {
  char* path = utf8_to_cp932(argument);
  // "/" is never a CP932 trail byte, so every one is a separator.
  for (char* cursor = path; cursor != nullptr && *cursor != '\0'; ++cursor) {
    if (*cursor == '/') *cursor = '\\';
  }
  return path;
}
