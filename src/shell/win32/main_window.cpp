#include "shell/win32/main_window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "platform/wide_text.h"
#include "shell/app_connection.h"
#include "shell/app_context.h"
#include "shell/input_history.h"
#include "shell/main_layout.h"
#include "shell/win32/gdi_handle.h"
#include "shell/win32/link_opener.h"
#include "shell/win32/resource_ids.h"
#include "view/win32/view_window.h"

namespace {

constexpr std::int32_t SELECTOR_ITEM_HEIGHT = 16;
// Clipping the children keeps the window's background from being painted over a child that only
// moved (the Send button when the window is resized).
constexpr DWORD MAIN_WINDOW_STYLE = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr const wchar_t* TEXT_FONT_FACE =
    L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF";  // ＭＳ ゴシック

std::string window_text(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(window, wide.data(), length + 1);
  wide.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return narrow_string(wide, 932);
}

void set_window_text(HWND window, const char* cp932) {
  SetWindowTextW(window, widen(cp932, 932).c_str());
}

struct MainWindow;

// The core's window operations over the real windows.
class Win32WindowOps final : public WindowOps {
 public:
  explicit Win32WindowOps(MainWindow* window) : window_(window) {}
  ViewHandle make_view(const char* channel_name) override;
  void destroy_view(ViewHandle view) override { DestroyWindow(static_cast<HWND>(view)); }
  void append(ViewHandle view, const char* text) override {
    SendMessageW(static_cast<HWND>(view), VM_APPEND, 0, reinterpret_cast<LPARAM>(text));
  }
  void clear_view(ViewHandle view) override {
    SendMessageW(static_cast<HWND>(view), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  }
  void show_view(ViewHandle view, bool visible) override {
    ShowWindow(static_cast<HWND>(view), visible ? SW_SHOW : SW_HIDE);
  }
  void selector_add(const SelectorItem* item) override;
  void selector_remove(std::int32_t index) override;
  void selector_select(std::int32_t index) override;
  void focus_input() override;
  void layout(ViewHandle current_view) override;
  void open_link(const char* text) override { ::open_link(text); }

 private:
  MainWindow* window_;
};

// Everything the main window holds, attached to it (GWLP_USERDATA).
struct MainWindow {
  HWND window = nullptr;
  HINSTANCE instance = nullptr;
  HWND selector = nullptr;
  HWND server_view = nullptr;
  HWND input = nullptr;
  HWND send = nullptr;
  OwnedIcon server_icon;
  OwnedIcon channel_icon;
  OwnedFont text_font;
  HCURSOR link_cursor = nullptr;  // a shared resource cursor: never destroyed
  WNDPROC input_procedure = nullptr;
  InputHistory history;
  Win32WindowOps ops{this};
  AppContext app = {};
  Connection connection = {};  // the server connection, joined to the core at creation
  bool core_ready = false;     // the context is set up; before that no command reaches the core
};

MainWindow* state_of(HWND window) {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

ViewHandle Win32WindowOps::make_view(const char*) {
  HWND view =
      CreateWindowExW(WS_EX_CLIENTEDGE, VIEW_CLASS_NAME, L"", WS_CHILD | WS_VSCROLL | WS_TABSTOP, 0,
                      0, 0, 0, window_->window, nullptr, window_->instance, nullptr);
  if (view != nullptr) {
    SendMessageW(view, VM_SETLINKCURSOR, 0, reinterpret_cast<LPARAM>(window_->link_cursor));
  }
  return view;
}

void Win32WindowOps::selector_add(const SelectorItem* item) {
  // Owner-drawn without strings: the "string" is the entry's item data.
  SendMessageW(window_->selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

void Win32WindowOps::selector_remove(std::int32_t index) {
  SendMessageW(window_->selector, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void Win32WindowOps::selector_select(std::int32_t index) {
  SendMessageW(window_->selector, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32WindowOps::focus_input() {
  SetFocus(window_->input);
}

void move(HWND window, const LayoutRect& place, bool repaint) {
  MoveWindow(window, place.x, place.y, place.width, place.height, repaint ? TRUE : FALSE);
}

void Win32WindowOps::layout(ViewHandle current_view) {
  RECT client = {}, selector_rect = {};
  GetClientRect(window_->window, &client);
  GetWindowRect(window_->selector, &selector_rect);
  MainLayout layout =
      main_layout(client.right, client.bottom, selector_rect.bottom - selector_rect.top);
  // The selector's height is that of its open list; moving it visibly would flash the list.
  ShowWindow(window_->selector, SW_HIDE);
  move(window_->selector, layout.selector, false);
  ShowWindow(window_->selector, SW_SHOWNA);
  if (current_view != nullptr) move(static_cast<HWND>(current_view), layout.view, true);
  move(window_->input, layout.input, true);
  move(window_->send, layout.send, true);
}

// Win32 host: a request is a message sent to the main window; the sender waits until the window
// thread has handled it. On the window thread itself SendMessage calls the procedure at once.
std::intptr_t deliver_request(Host* host, std::uint32_t request, std::uintptr_t word,
                              std::intptr_t data) {
  return SendMessageW(static_cast<HWND>(host->window), request, word, data);
}

// While the window thread waits for scripts: handle the messages other threads are sending it.
void serve_sent_messages(Host*) {
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// The messagebox built-in, on the calling script thread. A missing caption gives the system's own.
std::int32_t show_message_box(Host*, std::intptr_t owner, const char* text, const char* caption,
                              std::uint32_t style) {
  std::wstring wide_caption = caption != nullptr ? widen(caption, 932) : std::wstring();
  return MessageBoxW(reinterpret_cast<HWND>(owner), widen(text != nullptr ? text : "", 932).c_str(),
                     caption != nullptr ? wide_caption.c_str() : nullptr, style);
}

bool is_request(UINT message) {
  switch (message) {
    case UM_STRECHO:
    case UM_LINEECHO:
    case UM_STRSEND:
    case UM_CHANNELADD:
    case UM_CHANNELMOVE:
    case UM_CHANNELDELETE:
    case UM_CONNSTATE:
    case UM_OPENLINK:
      return true;
    default:
      return false;
  }
}

// The exe's folder as CP932 with its backslash (a trail byte 0x5C is no separator); "\" without
// one.
std::string exe_directory() {
  wchar_t module[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::string path = narrow_string(std::wstring(module, length), 932);
  if (path.size() > 255) path.resize(255);
  std::size_t folder = folder_length(path.c_str());
  return folder == 0 ? std::string("\\") : path.substr(0, folder);
}

// Up and Down in the input line browse the sent lines; everything else is the edit control's.
LRESULT CALLBACK input_procedure(HWND input, UINT message, WPARAM wparam, LPARAM lparam) {
  MainWindow* state = state_of(GetParent(input));
  if (message == WM_KEYDOWN && (wparam == VK_UP || wparam == VK_DOWN)) {
    std::string line;
    bool changed = wparam == VK_UP ? history_older(&state->history, &line)
                                   : history_newer(&state->history, &line);
    if (changed) {
      set_window_text(input, line.c_str());
      SendMessageW(input, EM_SETSEL, static_cast<WPARAM>(-1), -1);
      int end = GetWindowTextLengthW(input);
      SendMessageW(input, EM_SETSEL, static_cast<WPARAM>(end), end);
    }
    return 0;
  }
  return CallWindowProcW(state->input_procedure, input, message, wparam, lparam);
}

HWND create_child(MainWindow* state, DWORD ex_style, const wchar_t* window_class,
                  const wchar_t* text, DWORD style, const LayoutRect& place, int id) {
  return CreateWindowExW(ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, place.x,
                         place.y, place.width, place.height, state->window,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), state->instance,
                         nullptr);
}

HICON load_entry_icon(HINSTANCE instance, int id) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
}

bool on_create(MainWindow* state) {
  HINSTANCE instance = state->instance;
  state->server_icon.reset(load_entry_icon(instance, IDI_SERVER_ENTRY));
  state->channel_icon.reset(load_entry_icon(instance, IDI_CHANNEL_ENTRY));
  state->link_cursor = LoadCursorW(instance, MAKEINTRESOURCEW(IDC_LINK_CURSOR));

  HDC screen = GetDC(nullptr);
  int font_height = -(9 * GetDeviceCaps(screen, LOGPIXELSY) / 72);
  ReleaseDC(nullptr, screen);
  state->text_font.reset(
      CreateFontW(font_height, 0, 0, 0, 0, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, TEXT_FONT_FACE));
  WPARAM text_font = reinterpret_cast<WPARAM>(state->text_font.get());
  WPARAM gui_font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));

  RECT client = {};
  GetClientRect(state->window, &client);
  MainLayout layout = initial_layout(client.right, client.bottom);

  state->selector = create_child(state, 0, L"COMBOBOX", L"",
                                 WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED,
                                 layout.selector, ID_SELECTOR);
  if (state->selector == nullptr) return false;
  SendMessageW(state->selector, WM_SETFONT, gui_font, FALSE);
  SendMessageW(state->selector, CB_SETEXTENDEDUI, TRUE, 0);

  state->server_view = create_child(state, WS_EX_CLIENTEDGE, VIEW_CLASS_NAME, L"",
                                    WS_VSCROLL | WS_TABSTOP, layout.view, ID_SERVER_VIEW);
  if (state->server_view == nullptr) return false;
  SendMessageW(state->server_view, VM_SETLINKCURSOR, 0,
               reinterpret_cast<LPARAM>(state->link_cursor));
  SendMessageW(state->server_view, WM_SETFONT, text_font, FALSE);
  SendMessageW(state->server_view, EM_LIMITTEXT, 0, 0);

  state->input = create_child(state, WS_EX_CLIENTEDGE, L"EDIT", L"",
                              WS_TABSTOP | ES_AUTOHSCROLL | ES_NOHIDESEL, layout.input, ID_INPUT);
  if (state->input == nullptr) return false;
  SendMessageW(state->input, WM_SETFONT, text_font, FALSE);
  SendMessageW(state->input, EM_LIMITTEXT, 0, 0);
  state->input_procedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(state->input, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&input_procedure)));

  state->send = create_child(state, 0, L"BUTTON", L"Send", WS_TABSTOP | BS_DEFPUSHBUTTON,
                             layout.send, CMD_SEND);
  if (state->send == nullptr) return false;
  SendMessageW(state->send, WM_SETFONT, gui_font, FALSE);
  SetFocus(state->input);

  std::string directory = exe_directory();
  AppContext* app = &state->app;
  app_init(app, &state->ops, state->server_view, &deliver_request, &serve_sent_messages,
           directory.c_str(), "main.lum");
  app->host.window = state->window;
  app->host.message_box = &show_message_box;
  app_use_connection(app, &state->connection);
  // Waiting for the connection thread to end (disconnect, close) may take a moment: the wait cursor
  // shows it, and the arrow comes back when the thread has ended.
  app->connection.stop = [](AppContext* app) {
    auto* connection = static_cast<Connection*>(app->connection.state);
    if (!connection->running.load()) return;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    connection_stop(connection);
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  };
  state->core_ready = true;
  app_start(app);
  return true;
}

void on_send(MainWindow* state) {
  std::string line = send_line_text(window_text(state->input));
  history_add(&state->history, line);
  app_send_line(&state->app, line.c_str());
  SetWindowTextW(state->input, L"");
  SetFocus(state->input);
}

// Tab: the next visible child after the focused one in z-order (creation order), else the selector.
void on_next_control(MainWindow* state) {
  HWND focus = GetFocus();
  while (focus != nullptr && GetParent(focus) != state->window)
    focus = GetParent(focus);
  std::vector<HWND> children;
  for (HWND child = GetWindow(state->window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  if (children.empty()) return;
  std::unique_ptr<bool[]> visible(new bool[children.size()]);
  std::ptrdiff_t focused = -1;
  for (std::size_t i = 0; i < children.size(); ++i) {
    visible[i] = IsWindowVisible(children[i]) != FALSE;
    if (children[i] == focus) focused = static_cast<std::ptrdiff_t>(i);
  }
  SetFocus(children[next_focus_index(visible.get(), children.size(), focused)]);
}

void insert_code(MainWindow* state, wchar_t code) {
  wchar_t text[2] = {code, L'\0'};
  SendMessageW(state->input, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

void on_command(MainWindow* state, int id, int notification) {
  AppContext* app = &state->app;
  switch (id) {
    case ID_SELECTOR:
      if (notification == CBN_CLOSEUP) {
        LRESULT index = SendMessageW(state->selector, CB_GETCURSEL, 0, 0);
        app_switch_to_entry(app, static_cast<std::int32_t>(index));
      }
      break;
    case CMD_CONNECT:
      app_connect(app);
      break;
    case CMD_DISCONNECT:
      app_disconnect(app);
      break;
    case CMD_EXIT:
      SendMessageW(state->window, WM_CLOSE, 0, 0);
      break;
    case CMD_SEND:
      on_send(state);
      break;
    case CMD_NEXT_CONTROL:
      on_next_control(state);
      break;
    case CMD_INTERRUPT:
      app_interrupt(app);
      break;
    case CMD_RELOAD:
      app_load(app);
      break;
    case CMD_INSERT_COLOR:
      insert_code(state, 0x03);
      break;
    case CMD_INSERT_BOLD:
      insert_code(state, 0x02);
      break;
    case CMD_INSERT_UNDERLINE:
      insert_code(state, 0x1F);
      break;
    case CMD_INSERT_REVERSE:
      insert_code(state, 0x16);
      break;
    case CMD_CLEAR_VIEW:
      app_clear_current_view(app);
      break;
    default:
      break;
  }
}

void draw_selector_entry(MainWindow* state, const DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT area = item->rcItem;
  if (item->itemID == static_cast<UINT>(-1)) {  // an empty selector
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    return;
  }
  const SelectorItem* entry = reinterpret_cast<const SelectorItem*>(item->itemData);
  bool server = entry == nullptr || entry->kind == SELECTOR_SERVER;
  int icon_left = area.left + (server ? 0 : 16);
  // The strip left of the label belongs to the entry too: clear it so old pictures never show.
  RECT strip = {area.left, area.top, icon_left + 18, area.bottom};
  FillRect(dc, &strip, GetSysColorBrush(COLOR_WINDOW));
  DrawIconEx(dc, icon_left, area.top, server ? state->server_icon.get() : state->channel_icon.get(),
             16, 16, 0, nullptr, DI_NORMAL);

  RECT label = {icon_left + 18, area.top, area.right, area.bottom};
  bool selected = (item->itemState & ODS_SELECTED) != 0;
  int fill = selected ? COLOR_HIGHLIGHT : COLOR_WINDOW;
  FillRect(dc, &label, GetSysColorBrush(fill));
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(fill));
  if (item->itemState & ODS_FOCUS) DrawFocusRect(dc, &label);

  std::wstring text = server ? std::wstring(L"(Server)")
                             : widen(static_cast<const Channel*>(entry->target)->name, 932);
  RECT text_area = label;
  text_area.left += 2;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &text_area,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

void on_close(MainWindow* state) {
  if (!state->core_ready) {
    DestroyWindow(state->window);
    return;
  }
  if (!app_close(&state->app)) return;  // "end" returned 1: the window stays
  connection_free(&state->connection);  // stopped by the close sequence
  state->core_ready = false;
  DestroyWindow(state->window);
}

LRESULT CALLBACK main_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  MainWindow* state = state_of(window);
  if (state == nullptr) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      state = static_cast<MainWindow*>(create->lpCreateParams);
      state->window = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }
  if (is_request(message)) {
    if (!state->core_ready) return 0;
    return app_request(&state->app, message, wparam, lparam);
  }
  switch (message) {
    case WM_CREATE:
      return on_create(state) ? 0 : -1;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      delete state;
      return 0;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED && state->core_ready) {
        state->ops.layout(state->app.current_view);
      }
      return 0;
    case WM_SETFOCUS:
      if (state->input != nullptr) SetFocus(state->input);
      return 0;
    case WM_CLOSE:
      on_close(state);
      return 0;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (wparam != ID_SELECTOR) break;
      measure->itemHeight = SELECTOR_ITEM_HEIGHT;
      return TRUE;
    }
    case WM_DRAWITEM:
      if (wparam != ID_SELECTOR) break;
      draw_selector_entry(state, reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_COMMAND:
      on_command(state, LOWORD(wparam), HIWORD(wparam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool main_window_register(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = &main_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMO));
  window_class.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_LUMO), IMAGE_ICON, 16, 16, LR_SHARED));
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
  window_class.lpszClassName = MAIN_WINDOW_CLASS;
  return RegisterClassExW(&window_class) != 0;
}

HWND main_window_create(HINSTANCE instance, int show_command) {
  auto* state = new MainWindow;
  state->instance = instance;
  HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS, L"lumo", MAIN_WINDOW_STYLE, 0, 0, 320, 240,
                                nullptr, nullptr, instance, state);
  if (window == nullptr) {
    // A window that got as far as WM_NCCREATE freed the state itself on WM_NCDESTROY.
    return nullptr;
  }
  ShowWindow(window, show_command);
  UpdateWindow(window);
  return window;
}
