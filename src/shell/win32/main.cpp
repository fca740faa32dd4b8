// lumo.exe: start-up, the message loop and shut-down.
// Winsock before the rest of the system headers.
#include <winsock2.h>

#include <windows.h>

#include "engine/engine.h"
#include "shell/win32/main_window.h"
#include "shell/win32/resource_ids.h"
#include "view/win32/view_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  WSADATA winsock = {};
  if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0) return 0;
  engine_start();

  HWND window = nullptr;
  if (register_view_class(instance) && main_window_register(instance)) {
    window = main_window_create(instance, show_command);
  }
  if (window != nullptr) {
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    // Accelerators first, so Tab and Enter are commands wherever the focus is; then the dialog
    // keys; then ordinary dispatch.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == 1) {
      if (IsWindow(window) && TranslateAcceleratorW(window, accelerators, &message)) continue;
      if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    WSACleanup();
  }
  engine_end();
  return 0;
}
