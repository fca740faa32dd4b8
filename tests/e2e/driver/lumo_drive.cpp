// lumo_drive: drives a running lumo.exe from outside, as a user would, for the end-to-end tests.
//
// It finds the main window by class, its children by control id and class, and sends them window
// messages or real input (SendInput). Each argument group is one step; the first failing step ends
// the program with exit code 1 and says what it saw. Text arguments are CP932 bytes with the
// escapes \xNN, \r, \n, \t and \\, so Japanese text passes through any Unix locale unchanged.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/wide_text.h"

namespace {

constexpr int SELECTOR_ID = 1025;
constexpr int SERVER_VIEW_ID = 1026;
constexpr int INPUT_ID = 1027;
constexpr int SEND_ID = 40015;
constexpr DWORD POLL_LIMIT_MS = 10000;

HWND g_main = nullptr;

std::string unescape(const char* text) {
  std::string bytes;
  for (const char* p = text; *p; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      bytes += *p;
      continue;
    }
    ++p;
    switch (*p) {
      case 'r':
        bytes += '\r';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'x': {
        char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
        bytes += static_cast<char>(std::strtoul(hex, nullptr, 16));
        p += 2;
        break;
      }
      default:
        bytes += *p;
        break;
    }
  }
  return bytes;
}

// Shows bytes readably in a failure message: printable ASCII as is, everything else as \xNN.
std::string escape(const std::string& bytes) {
  std::string shown;
  char hex[8];
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}

std::wstring to_wide(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int size = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return wide;
}

std::string window_text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length)) return "";
  std::wstring wide(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(wide.data()),
                      SMTO_BLOCK, 5000, &copied);
  wide.resize(copied);
  return narrow_string(wide, 932);
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// Every message view of the main window in creation order: the server view, then channel views.
std::vector<HWND> views() {
  std::vector<HWND> found;
  for (HWND child = GetWindow(g_main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (class_of(child) == L"lumoViewClass") found.push_back(child);
  }
  return found;
}

HWND current_view() {
  for (HWND view : views()) {
    if (IsWindowVisible(view)) return view;
  }
  return nullptr;
}

// "server", "current", or the 1-based number of a channel view in creation order.
HWND view_named(const char* which) {
  if (std::strcmp(which, "server") == 0) return GetDlgItem(g_main, SERVER_VIEW_ID);
  if (std::strcmp(which, "current") == 0) return current_view();
  std::vector<HWND> all = views();
  std::size_t index = std::strtoul(which, nullptr, 10);
  return index < all.size() ? all[index] : nullptr;
}

HWND control_named(const char* name) {
  if (std::strcmp(name, "selector") == 0) return GetDlgItem(g_main, SELECTOR_ID);
  if (std::strcmp(name, "input") == 0) return GetDlgItem(g_main, INPUT_ID);
  if (std::strcmp(name, "send") == 0) return GetDlgItem(g_main, SEND_ID);
  if (std::strcmp(name, "main") == 0) return g_main;
  return view_named(name);
}

bool fail(const char* step, const std::string& detail) {
  std::fprintf(stderr, "lumo_drive: %s: %s\n", step, detail.c_str());
  return false;
}

// Polls `check` until it holds or the limit passes; `seen` describes the last state for the report.
template <typename Check>
bool poll(Check check, DWORD limit_ms = POLL_LIMIT_MS) {
  DWORD start = GetTickCount();
  for (;;) {
    if (check()) return true;
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(50);
  }
}

bool wait_main() {
  // Shown only after its creation (children, main.lum, "start") is complete.
  auto shown = [] {
    g_main = FindWindowW(L"lumo_WndClass", nullptr);
    return g_main != nullptr && IsWindowVisible(g_main);
  };
  if (poll(shown, 30000)) {
    return true;
  }
  return fail("wait-main", "no lumo_WndClass window");
}

void key_event(WORD vk, bool up, std::vector<INPUT>* events) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (vk == VK_CANCEL || vk == VK_UP || vk == VK_DOWN || vk == VK_LEFT || vk == VK_RIGHT) {
    input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  }
  events->push_back(input);
}

WORD virtual_key(const std::string& name) {
  if (name == "return") return VK_RETURN;
  if (name == "tab") return VK_TAB;
  if (name == "up") return VK_UP;
  if (name == "down") return VK_DOWN;
  if (name == "break") return VK_CANCEL;
  if (name == "escape") return VK_ESCAPE;
  if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') return static_cast<WORD>(name[0] - 32);
  if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return static_cast<WORD>(name[0]);
  return 0;
}

// Real key strokes to whatever has the focus in lumo: "ctrl+k", "shift+tab", "return", "up".
bool press(const char* keys) {
  std::string rest = keys;
  std::vector<WORD> modifiers;
  for (std::size_t plus; (plus = rest.find('+')) != std::string::npos;) {
    std::string modifier = rest.substr(0, plus);
    rest = rest.substr(plus + 1);
    if (modifier == "ctrl")
      modifiers.push_back(VK_CONTROL);
    else if (modifier == "shift")
      modifiers.push_back(VK_SHIFT);
    else if (modifier == "alt")
      modifiers.push_back(VK_MENU);
    else
      return fail("key", "unknown modifier " + modifier);
  }
  WORD vk = virtual_key(rest);
  if (vk == 0) return fail("key", "unknown key " + rest);
  SetForegroundWindow(g_main);
  std::vector<INPUT> events;
  for (WORD modifier : modifiers)
    key_event(modifier, false, &events);
  key_event(vk, false, &events);
  key_event(vk, true, &events);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
    key_event(*it, true, &events);
  SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
  Sleep(300);  // input is queued; let lumo's thread take it before the next step looks
  return true;
}

void mouse_event_at(POINT screen, DWORD flags, std::vector<INPUT>* events) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = (screen.x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = (screen.y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  events->push_back(input);
}

// A real double-click at a point of a control's client area.
bool double_click(const char* which, int x, int y) {
  HWND target = control_named(which);
  if (!target) return fail("dblclick", std::string("no window ") + which);
  POINT point = {x, y};
  ClientToScreen(target, &point);
  SetForegroundWindow(g_main);
  std::vector<INPUT> events;
  mouse_event_at(point, MOUSEEVENTF_MOVE, &events);
  for (int i = 0; i < 2; ++i) {
    mouse_event_at(point, MOUSEEVENTF_LEFTDOWN, &events);
    mouse_event_at(point, MOUSEEVENTF_LEFTUP, &events);
  }
  SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
  Sleep(500);
  return true;
}

bool expect_text(const char* step, HWND window, const std::string& want, bool exact) {
  if (!window) return fail(step, "no such window");
  std::string seen;
  bool ok = poll([&] {
    seen = window_text(window);
    return exact ? seen == want : seen.find(want) != std::string::npos;
  });
  if (ok) return true;
  return fail(step, "want " + std::string(exact ? "exactly " : "") + "\"" + escape(want) +
                        "\", have \"" + escape(seen) + "\"");
}

// The text must stay absent for a while (asynchronous senders get their chance first).
bool expect_absent(HWND window, const std::string& unwanted) {
  if (!window) return fail("expect-absent", "no such window");
  Sleep(1000);
  std::string seen = window_text(window);
  if (seen.find(unwanted) == std::string::npos) return true;
  return fail("expect-absent", "\"" + escape(unwanted) + "\" is in \"" + escape(seen) + "\"");
}

bool expect_selector(int count, int selected) {
  HWND selector = GetDlgItem(g_main, SELECTOR_ID);
  LRESULT have_count = 0, have_selected = 0;
  bool ok = poll([&] {
    have_count = SendMessageW(selector, CB_GETCOUNT, 0, 0);
    have_selected = SendMessageW(selector, CB_GETCURSEL, 0, 0);
    return have_count == count && have_selected == selected;
  });
  if (ok) return true;
  char detail[128];
  std::snprintf(detail, sizeof detail, "want %d entries with %d selected, have %d with %d", count,
                selected, static_cast<int>(have_count), static_cast<int>(have_selected));
  return fail("expect-selector", detail);
}

// The user's pick: open the list, move the selection, close the list (CBN_CLOSEUP goes to lumo).
bool pick(int index) {
  HWND selector = GetDlgItem(g_main, SELECTOR_ID);
  SendMessageW(selector, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(selector, CB_SHOWDROPDOWN, FALSE, 0);
  return true;
}

std::string focus_name() {
  DWORD thread = GetWindowThreadProcessId(g_main, nullptr);
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(thread, &info) || !info.hwndFocus) return "none";
  HWND focus = info.hwndFocus;
  // The selector's drop-down list has an edit-less child; name the combo box itself.
  if (GetParent(focus) != g_main && GetParent(focus)) focus = GetParent(focus);
  switch (GetDlgCtrlID(focus)) {
    case SELECTOR_ID:
      return "selector";
    case SERVER_VIEW_ID:
      return "server";
    case INPUT_ID:
      return "input";
    case SEND_ID:
      return "send";
    default:
      break;
  }
  if (focus == g_main) return "main";
  std::vector<HWND> all = views();
  for (std::size_t i = 1; i < all.size(); ++i) {
    if (all[i] == focus) return std::to_string(i);
  }
  return "other";
}

bool expect_focus(const char* want) {
  std::string seen;
  if (poll([&] { return (seen = focus_name()) == want; }, 3000)) return true;
  return fail("expect-focus", std::string("want ") + want + ", have " + seen);
}

int visible_view_count() {
  int count = 0;
  for (HWND view : views())
    count += IsWindowVisible(view) ? 1 : 0;
  return count;
}

// Runs one step; `args` points at its name. Returns the number of arguments used, or -1.
int run_step(char** args, int available) {
  std::string step = args[0];
  auto need = [&](int count) {
    if (available > count) return true;
    fail(step.c_str(), "missing arguments");
    return false;
  };
  if (step == "desktop") {  // before any other step: work on the windows of that desktop
    if (!need(1)) return -1;
    std::wstring name = to_wide(args[1]);
    HDESK desktop = nullptr;
    poll([&] { return (desktop = OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL)) != nullptr; },
         30000);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
      fail("desktop", std::string("cannot use desktop ") + args[1]);
      return -1;
    }
    return 1;
  }
  if (step == "wait-main") return wait_main() ? 0 : -1;
  if (!g_main && !wait_main()) return -1;
  if (step == "input") {
    if (!need(1)) return -1;
    std::wstring text = to_wide(unescape(args[1]));
    HWND input = GetDlgItem(g_main, INPUT_ID);
    SendMessageW(input, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    // As if typed: the caret after the text.
    SendMessageW(input, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
    return 1;
  }
  if (step == "expect-input") {
    if (!need(1)) return -1;
    return expect_text("expect-input", GetDlgItem(g_main, INPUT_ID), unescape(args[1]), true) ? 1
                                                                                              : -1;
  }
  if (step == "command" || step == "post-command") {
    if (!need(1)) return -1;
    WPARAM id = std::strtoul(args[1], nullptr, 10);
    if (step == "command")
      SendMessageW(g_main, WM_COMMAND, id, 0);
    else
      PostMessageW(g_main, WM_COMMAND, id, 0);
    return 1;
  }
  if (step == "click") {
    SendMessageW(GetDlgItem(g_main, SEND_ID), BM_CLICK, 0, 0);
    return 0;
  }
  if (step == "key") {
    if (!need(1)) return -1;
    return press(args[1]) ? 1 : -1;
  }
  if (step == "expect-view" || step == "expect-view-exact") {
    if (!need(2)) return -1;
    return expect_text(step.c_str(), view_named(args[1]), unescape(args[2]),
                       step == "expect-view-exact")
               ? 2
               : -1;
  }
  if (step == "expect-absent") {
    if (!need(2)) return -1;
    return expect_absent(view_named(args[1]), unescape(args[2])) ? 2 : -1;
  }
  if (step == "expect-selector") {
    if (!need(2)) return -1;
    return expect_selector(std::atoi(args[1]), std::atoi(args[2])) ? 2 : -1;
  }
  if (step == "expect-entries") {  // number of selector entries, whichever is selected
    if (!need(1)) return -1;
    int want = std::atoi(args[1]);
    LRESULT have = 0;
    HWND selector = GetDlgItem(g_main, SELECTOR_ID);
    if (poll([&] { return (have = SendMessageW(selector, CB_GETCOUNT, 0, 0)) == want; })) return 1;
    fail("expect-entries", "want " + std::to_string(want) + ", have " + std::to_string(have));
    return -1;
  }
  if (step == "expect-views") {  // number of views, number visible
    if (!need(2)) return -1;
    int want_all = std::atoi(args[1]), want_visible = std::atoi(args[2]);
    int have_all = 0, have_visible = 0;
    bool ok = poll([&] {
      have_all = static_cast<int>(views().size());
      have_visible = visible_view_count();
      return have_all == want_all && have_visible == want_visible;
    });
    if (ok) return 2;
    fail("expect-views", "want " + std::to_string(want_all) + "/" + std::to_string(want_visible) +
                             ", have " + std::to_string(have_all) + "/" +
                             std::to_string(have_visible));
    return -1;
  }
  if (step == "pick") {
    if (!need(1)) return -1;
    return pick(std::atoi(args[1])) ? 1 : -1;
  }
  if (step == "open-list" || step == "close-list") {
    SendMessageW(GetDlgItem(g_main, SELECTOR_ID), CB_SHOWDROPDOWN, step == "open-list", 0);
    Sleep(300);
    return 0;
  }
  if (step == "resize") {  // the main window's outer size
    if (!need(2)) return -1;
    SetWindowPos(g_main, nullptr, 0, 0, std::atoi(args[1]), std::atoi(args[2]),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(300);
    return 2;
  }
  if (step == "expect-layout") {  // the current view sits between the selector and the input line
    HWND view = current_view();
    HWND selector = GetDlgItem(g_main, SELECTOR_ID);
    HWND input = GetDlgItem(g_main, INPUT_ID);
    HWND send = GetDlgItem(g_main, SEND_ID);
    RECT client, view_rect, selector_rect, input_rect, send_rect;
    GetClientRect(g_main, &client);
    GetWindowRect(selector, &selector_rect);
    auto place = [](HWND window, RECT* rect) {
      GetWindowRect(window, rect);
      MapWindowPoints(nullptr, g_main, reinterpret_cast<POINT*>(rect), 2);
    };
    if (!view) return fail("expect-layout", "no visible view"), -1;
    place(view, &view_rect);
    place(input, &input_rect);
    place(send, &send_rect);
    int selector_height = selector_rect.bottom - selector_rect.top;
    int w = client.right, h = client.bottom;
    bool ok = view_rect.left == 0 && view_rect.top == selector_height + 2 && view_rect.right == w &&
              view_rect.bottom == h - 22 && input_rect.left == 0 && input_rect.top == h - 20 &&
              input_rect.right == w - 50 && input_rect.bottom == h && send_rect.left == w - 50 &&
              send_rect.top == h - 20 && send_rect.right == w && send_rect.bottom == h;
    if (ok) return 0;
    char detail[256];
    std::snprintf(detail, sizeof detail,
                  "client %dx%d selector %d: view (%ld,%ld)-(%ld,%ld) input (%ld,%ld)-(%ld,%ld) "
                  "send (%ld,%ld)-(%ld,%ld)",
                  w, h, selector_height, view_rect.left, view_rect.top, view_rect.right,
                  view_rect.bottom, input_rect.left, input_rect.top, input_rect.right,
                  input_rect.bottom, send_rect.left, send_rect.top, send_rect.right,
                  send_rect.bottom);
    fail("expect-layout", detail);
    return -1;
  }
  if (step == "focus") {
    if (!need(1)) return -1;
    HWND target = control_named(args[1]);
    if (!target) return fail("focus", "no such window"), -1;
    SetForegroundWindow(g_main);
    // Focus belongs to lumo's thread; a tab stop of its own is reached by attaching to it.
    DWORD lumo_thread = GetWindowThreadProcessId(g_main, nullptr);
    AttachThreadInput(GetCurrentThreadId(), lumo_thread, TRUE);
    SetFocus(target);
    AttachThreadInput(GetCurrentThreadId(), lumo_thread, FALSE);
    return 1;
  }
  if (step == "expect-focus") {
    if (!need(1)) return -1;
    return expect_focus(args[1]) ? 1 : -1;
  }
  if (step == "dblclick") {
    if (!need(3)) return -1;
    return double_click(args[1], std::atoi(args[2]), std::atoi(args[3])) ? 3 : -1;
  }
  if (step == "close") {
    PostMessageW(g_main, WM_CLOSE, 0, 0);
    return 0;
  }
  if (step == "expect-gone" || step == "expect-alive") {
    bool want_gone = step == "expect-gone";
    Sleep(want_gone ? 0 : 1000);
    if (poll([&] { return !IsWindow(g_main) == want_gone; })) return 0;
    fail(step.c_str(), want_gone ? "the main window is still there" : "the main window is gone");
    return -1;
  }
  if (step == "sleep") {
    if (!need(1)) return -1;
    Sleep(static_cast<DWORD>(std::atoi(args[1])));
    return 1;
  }
  if (step == "print") {  // a window's text as escaped CP932, for writing tests
    if (!need(1)) return -1;
    HWND window = control_named(args[1]);
    std::printf("%s\n", window ? escape(window_text(window)).c_str() : "(no window)");
    return 1;
  }
  fail(step.c_str(), "unknown step");
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc;) {
    int used = run_step(argv + i, argc - i);
    if (used < 0) return 1;
    i += used + 1;
  }
  return 0;
}
