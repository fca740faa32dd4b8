// The view window: Win32 messages translated to the view model, and the model's changes carried
// out with GDI, the caret, the scroll bar, the mouse capture and the clipboard.
#include "view/win32/view_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "view/layout.h"
#include "view/view_geometry.h"
#include "view/view_input.h"
#include "view/view_paint.h"
#include "view/view_state.h"
#include "view/win32/gdi_handles.h"
#include "view/win32/gdi_text.h"
#include "view/win32/view_clipboard.h"

namespace {

struct ViewWindow {
  HWND window = nullptr;
  ViewState* state = nullptr;
  ViewFonts fonts;
  MemorySurface surface;
  COLORREF text_color = 0;
  COLORREF back_color = 0;
  UniqueBrush background;
  HCURSOR link_cursor = nullptr;
  // What the scroll bar shows, so that it is set again only when that changes.
  std::uint32_t shown_lines = 0;
  std::uint32_t shown_rows = 0;
  std::uint32_t shown_first = 0;
  bool scroll_bar_set = false;

  ~ViewWindow() {
    fonts.clear();
    view_free(&state);
  }
};

ViewWindow* view_of(HWND window) {
  return reinterpret_cast<ViewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HCURSOR ibeam_cursor() {
  return LoadCursorW(nullptr, MAKEINTRESOURCEW(32513));  // IDC_IBEAM
}

bool has_focus(const ViewWindow* view) {
  return GetFocus() == view->window;
}

void update_scroll_bar(ViewWindow* view) {
  const ViewState* state = view->state;
  std::uint32_t rows = view_rows(state);
  if (view->scroll_bar_set && view->shown_lines == state->line_count && view->shown_rows == rows &&
      view->shown_first == state->first_visible_line)
    return;
  view->scroll_bar_set = true;
  view->shown_lines = state->line_count;
  view->shown_rows = rows;
  view->shown_first = state->first_visible_line;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  if (rows < state->line_count) {
    EnableScrollBar(view->window, SB_VERT, ESB_ENABLE_BOTH);
    info.nMax = static_cast<int>(state->line_count - 1);
    info.nPage = rows;
    info.nPos = static_cast<int>(state->first_visible_line);
    SetScrollInfo(view->window, SB_VERT, &info, TRUE);
  } else {
    info.nMax = static_cast<int>(rows + 1);
    SetScrollInfo(view->window, SB_VERT, &info, TRUE);
    EnableScrollBar(view->window, SB_VERT, ESB_DISABLE_BOTH);
  }
}

void place_caret(ViewWindow* view) {
  ViewState* state = view->state;
  std::int64_t y = line_y(state, line_of_offset(state, state->caret));
  y = std::clamp<std::int64_t>(y, -state->line_height, state->client_height);
  SetCaretPos(caret_x(state), static_cast<int>(y));
}

void invalidate_rows(ViewWindow* view, std::int64_t first_row, std::int64_t last_row) {
  const ViewState* state = view->state;
  std::int64_t top = std::max<std::int64_t>(first_row * state->line_height, 0);
  std::int64_t bottom =
      std::min<std::int64_t>((last_row + 1) * state->line_height, state->client_height);
  if (top >= bottom) return;
  RECT rows{0, static_cast<int>(top), state->client_width, static_cast<int>(bottom)};
  InvalidateRect(view->window, &rows, FALSE);
}

void open_link(ViewWindow* view, std::uint32_t start, std::uint32_t length) {
  std::string link(view->state->text + start, length);
  HWND parent = GetParent(view->window);
  if (parent != nullptr)
    SendMessageW(parent, UM_OPENLINK, 0, reinterpret_cast<LPARAM>(link.c_str()));
}

// Carries out what the model asks for after a change.
void apply(ViewWindow* view, const ViewChange& change) {
  ViewState* state = view->state;
  if (change.scroll_rows != 0) {
    std::int64_t limit = view_rows(state) + 1;
    std::int64_t rows = std::clamp(change.scroll_rows, -limit, limit);
    ScrollWindowEx(view->window, 0, static_cast<int>(rows * state->line_height), nullptr, nullptr,
                   nullptr, nullptr, SW_INVALIDATE | SW_ERASE);
  }
  update_scroll_bar(view);
  if (change.repaint_all) InvalidateRect(view->window, nullptr, FALSE);
  if (change.repaint_from_row >= 0)
    invalidate_rows(view, change.repaint_from_row, view_rows(state) + 1);
  for (int i = 0; i < change.line_ranges; ++i) {
    const LineRange& lines = change.lines[i];
    invalidate_rows(view, std::int64_t{lines.first} - state->first_visible_line,
                    std::int64_t{lines.last} - state->first_visible_line);
  }
  if (change.capture > 0) SetCapture(view->window);
  if (change.capture < 0) ReleaseCapture();
  if (change.focus && !has_focus(view)) SetFocus(view->window);
  if (change.copy) copy_selection(view->window, state);
  if (change.open_link) open_link(view, change.link_start, change.link_length);
  if (change.update_now) UpdateWindow(view->window);
  if (has_focus(view)) place_caret(view);
}

void set_cursor_for(ViewWindow* view, int x, int y) {
  if (view->link_cursor != nullptr && view_link_at(view->state, x, y))
    SetCursor(view->link_cursor);
  else
    SetCursor(ibeam_cursor());
}

LRESULT on_create(HWND window) {
  auto* view = new (std::nothrow) ViewWindow;
  if (view == nullptr) return -1;
  view->window = window;
  view->state = view_make(&view->fonts);
  RECT client{};
  GetClientRect(window, &client);
  if (view->state == nullptr || !view->surface.create(window, client.right, client.bottom)) {
    delete view;
    return -1;
  }
  HDC surface = view->surface.dc();
  SetMapMode(surface, MM_TEXT);
  SetTextCharacterExtra(surface, 0);
  SetTextJustification(surface, 0, 0);
  SetTextAlign(surface, TA_LEFT | TA_TOP);
  SetBkMode(surface, TRANSPARENT);
  view->fonts.set_surface(surface);
  view->fonts.set_face(L"", 9, SHIFTJIS_CHARSET);
  view->text_color = GetSysColor(COLOR_WINDOWTEXT);
  view->back_color = GetSysColor(COLOR_WINDOW);
  view->background.reset(CreateSolidBrush(view->back_color));
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  SendMessageW(window, VM_RECALC, 0, 0);
  return 0;
}

void on_destroy(HWND window) {
  ViewWindow* view = view_of(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  if (view == nullptr) return;
  if (has_focus(view)) DestroyCaret();
  delete view;
}

void on_recalc(ViewWindow* view) {
  HDC surface = view->surface.dc();
  view->fonts.clear();
  HFONT plain = view->fonts.font(false, false, false);
  HGDIOBJ previous = SelectObject(surface, plain);
  TEXTMETRICW metrics{};
  GetTextMetricsW(surface, &metrics);
  SelectObject(surface, previous);
  // TMPF_FIXED_PITCH set means a variable-pitch font.
  view_set_metrics(view->state, metrics.tmHeight + LINE_SPACING, metrics.tmAveCharWidth,
                   (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0);
  if (has_focus(view)) {
    DestroyCaret();
    CreateCaret(view->window, nullptr, 0, view->state->line_height);
    ShowCaret(view->window);
  }
  RECT client{};
  GetClientRect(view->window, &client);
  SendMessageW(view->window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

void on_set_font(ViewWindow* view, HFONT font) {
  LOGFONTW logfont{};
  if (font == nullptr || GetObjectW(font, sizeof logfont, &logfont) == 0) return;
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  int points = logfont.lfHeight * -72 / dpi;
  if (points <= 0)
    points = (logfont.lfHeight < 0 ? -logfont.lfHeight : logfont.lfHeight) * 72 / dpi;
  view->fonts.set_face(logfont.lfFaceName, points > 0 ? points : 9, SHIFTJIS_CHARSET);
  SendMessageW(view->window, VM_RECALC, 0, 0);
}

void on_size(ViewWindow* view, int width, int height) {
  apply(view, view_resize(view->state, width, height));
  view->surface.resize(view->window, width, height);
}

void on_paint(ViewWindow* view) {
  PAINTSTRUCT paint{};
  HDC target = BeginPaint(view->window, &paint);
  if (target == nullptr) return;
  HDC surface = view->surface.dc();
  const RECT& update = paint.rcPaint;
  HGDIOBJ previous_font = SelectObject(surface, view->fonts.font(false, false, false));
  FillRect(surface, &update, view->background.get());
  PaintColors colors{view->text_color, view->back_color, GetSysColor(COLOR_HIGHLIGHTTEXT),
                     GetSysColor(COLOR_HIGHLIGHT)};
  SurfacePainter painter(surface, &view->fonts, view->state->line_height);
  paint_view(view->state, colors, update.top, update.bottom, &painter);
  if (has_focus(view)) place_caret(view);
  BitBlt(target, update.left, update.top, update.right - update.left, update.bottom - update.top,
         surface, update.left, update.top, SRCCOPY);
  SelectObject(surface, previous_font);
  EndPaint(view->window, &paint);
}

ViewKey key_of(WPARAM key) {
  switch (key) {
    case VK_PRIOR:
      return ViewKey::PAGE_UP;
    case VK_NEXT:
      return ViewKey::PAGE_DOWN;
    case VK_HOME:
      return ViewKey::HOME;
    case VK_END:
      return ViewKey::END;
    case VK_LEFT:
      return ViewKey::LEFT;
    case VK_RIGHT:
      return ViewKey::RIGHT;
    case VK_UP:
      return ViewKey::UP;
    case VK_DOWN:
      return ViewKey::DOWN;
    case 'A':
      return ViewKey::A;
    case 'C':
      return ViewKey::C;
    default:
      return ViewKey::OTHER;
  }
}

ScrollCode scroll_code_of(ViewWindow* view, WPARAM code, std::int64_t* track) {
  switch (LOWORD(code)) {
    case SB_LINEUP:
      return ScrollCode::LINE_UP;
    case SB_LINEDOWN:
      return ScrollCode::LINE_DOWN;
    case SB_PAGEUP:
      return ScrollCode::PAGE_UP;
    case SB_PAGEDOWN:
      return ScrollCode::PAGE_DOWN;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      GetScrollInfo(view->window, SB_VERT, &info);
      *track = info.nTrackPos;
      return ScrollCode::THUMB;
    }
    case SB_TOP:
      return ScrollCode::TOP;
    case SB_BOTTOM:
      return ScrollCode::BOTTOM;
    default:
      return ScrollCode::OTHER;
  }
}

// The stored text as CP932 bytes, converted for the W interface.
LRESULT get_text(ViewWindow* view, WPARAM size, wchar_t* buffer) {
  if (buffer == nullptr || size == 0) return 0;
  std::wstring wide;
  int length = 0;
  const wchar_t* text = widen_cp932(view->state->text, view->state->length, &wide, &length);
  auto count = std::min<std::size_t>(static_cast<std::size_t>(length), size - 1);
  std::memcpy(buffer, text, count * sizeof(wchar_t));
  buffer[count] = L'\0';
  return static_cast<LRESULT>(count);
}

LRESULT get_text_length(ViewWindow* view) {
  if (view->state->length == 0) return 0;
  return MultiByteToWideChar(932, 0, view->state->text, static_cast<int>(view->state->length),
                             nullptr, 0);
}

LRESULT set_text(ViewWindow* view, const wchar_t* text) {
  std::string bytes;
  if (text != nullptr && text[0] != L'\0') {
    int size = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      bytes.resize(static_cast<std::size_t>(size));
      WideCharToMultiByte(932, 0, text, -1, bytes.data(), size, nullptr, nullptr);
      bytes.resize(std::strlen(bytes.c_str()));
    }
  }
  ViewChange change = view_set_text(view->state, bytes.c_str());
  apply(view, change);
  return change.ok ? TRUE : FALSE;
}

bool key_down(int key) {
  return GetKeyState(key) < 0;
}

LRESULT CALLBACK view_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) return on_create(window);
  ViewWindow* view = view_of(window);
  if (view == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  int x = GET_X_LPARAM(lparam);
  int y = GET_Y_LPARAM(lparam);
  switch (message) {
    case WM_DESTROY:
      on_destroy(window);
      return 0;
    case WM_SIZE:
      on_size(view, LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_SETFOCUS:
      CreateCaret(window, nullptr, 0, view->state->line_height);
      InvalidateRect(window, nullptr, FALSE);
      place_caret(view);
      ShowCaret(window);
      return 0;
    case WM_KILLFOCUS:
      HideCaret(window);
      DestroyCaret();
      return 0;
    case WM_PAINT:
      on_paint(view);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFONT:
      on_set_font(view, reinterpret_cast<HFONT>(wparam));
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      apply(view, view_key(view->state, key_of(wparam), key_down(VK_SHIFT), key_down(VK_CONTROL)));
      return 0;
    case WM_VSCROLL: {
      std::int64_t track = 0;
      ScrollCode code = scroll_code_of(view, wparam, &track);
      apply(view, view_scroll(view->state, code, track));
      return 0;
    }
    case WM_MOUSEWHEEL:
      apply(view, view_wheel(view->state, GET_WHEEL_DELTA_WPARAM(wparam)));
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lparam) == HTCLIENT) {
        POINT pointer{};
        GetCursorPos(&pointer);
        ScreenToClient(window, &pointer);
        set_cursor_for(view, pointer.x, pointer.y);
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      set_cursor_for(view, x, y);
      MouseEvent event = message == WM_MOUSEMOVE     ? MouseEvent::MOVE
                         : message == WM_LBUTTONDOWN ? MouseEvent::LEFT_DOWN
                                                     : MouseEvent::LEFT_UP;
      apply(view, view_mouse(view->state, event, x, y, (wparam & MK_SHIFT) != 0,
                             (wparam & MK_LBUTTON) != 0));
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      ViewChange change = view_double_click(view->state, x, y);
      if (change.open_link && view->link_cursor != nullptr) SetCursor(view->link_cursor);
      apply(view, change);
      return 0;
    }
    case WM_CAPTURECHANGED:
      view->state->dragging = view->state->dragging && reinterpret_cast<HWND>(lparam) == window;
      return 0;
    case WM_COPY:
      copy_selection(window, view->state);
      return 0;
    case WM_SETTEXT:
      return set_text(view, reinterpret_cast<const wchar_t*>(lparam));
    case WM_GETTEXT:
      return get_text(view, wparam, reinterpret_cast<wchar_t*>(lparam));
    case WM_GETTEXTLENGTH:
      return get_text_length(view);
    case EM_LIMITTEXT:
      return 0;
    case VM_APPEND: {
      if (lparam == 0) return 1;
      ViewChange change = view_append(view->state, reinterpret_cast<const char*>(lparam));
      apply(view, change);
      return change.ok ? 1 : 0;
    }
    case VM_RECALC:
      on_recalc(view);
      return 0;
    case VM_SETLINKCURSOR:
      view->link_cursor = reinterpret_cast<HCURSOR>(lparam);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool register_view_class(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = view_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ibeam_cursor();
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = VIEW_CLASS_NAME;
  return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
