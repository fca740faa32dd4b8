// The main window of lumo.exe: selector, message views, input line and Send button, on the
// application core. It translates window messages to the core's operations and does little else.
#pragma once

#include <windows.h>

constexpr const wchar_t* MAIN_WINDOW_CLASS = L"lumo_WndClass";

// Registers lumo_WndClass. False when the class cannot be registered.
bool main_window_register(HINSTANCE instance);
// Creates the main window (which loads main.lum and fires "start") and shows it. Null on failure.
HWND main_window_create(HINSTANCE instance, int show_command);
