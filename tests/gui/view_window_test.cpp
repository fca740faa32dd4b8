// The view window under Wine: a view with coloured, bold, underlined, reversed, linked and
// Japanese text. Checks the stored text through WM_GETTEXT, a selection copied to the clipboard
// (CP932 bytes with CR LF, and correct UTF-16), a double-clicked link reaching the parent, and the
// picture itself: saved as a bitmap and checked for the palette colours where text is coloured.
//
// Usage: view_window_test ARTEFACT_DIRECTORY
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "view/view_state.h"
#include "view/win32/view_window.h"

namespace {

int failures = 0;

void check(bool condition, const char* what) {
  std::printf("%s: %s\n", condition ? "ok" : "FAILED", what);
  if (!condition) ++failures;
}

std::string opened_link;

LRESULT CALLBACK parent_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == UM_OPENLINK) {
    opened_link = reinterpret_cast<const char*>(lparam);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void pump(DWORD milliseconds) {
  DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

std::wstring widen(const std::string& bytes) {
  int size = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return wide;
}

// The client area's pixels, read back from the screen, as 0x00RRGGBB top-down rows.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Picture capture(HWND window) {
  Picture picture;
  RECT client{};
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  picture.width = client.right;
  picture.height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, picture.width, picture.height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const auto* source = static_cast<const std::uint32_t*>(bits);
  picture.pixels.assign(source, source + static_cast<std::size_t>(picture.width) * picture.height);
  for (std::uint32_t& pixel : picture.pixels)
    pixel &= 0xFFFFFF;
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

bool save_bitmap(const Picture& picture, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = -picture.height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::size_t data = picture.pixels.size() * 4;
  BITMAPFILEHEADER file_header{};
  file_header.bfType = 0x4D42;
  file_header.bfOffBits = sizeof file_header + sizeof header;
  file_header.bfSize = static_cast<DWORD>(file_header.bfOffBits + data);
  std::fwrite(&file_header, sizeof file_header, 1, file);
  std::fwrite(&header, sizeof header, 1, file);
  std::fwrite(picture.pixels.data(), 4, picture.pixels.size(), file);
  return std::fclose(file) == 0;
}

// Pixels in the rectangle near a palette colour (0x00BBGGRR); glyph edges may be smoothed.
int count_near(const Picture& picture, RECT area, std::uint32_t color, int tolerance = 40) {
  int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  int count = 0;
  for (int y = std::max<int>(area.top, 0); y < std::min<int>(area.bottom, picture.height); ++y) {
    for (int x = std::max<int>(area.left, 0); x < std::min<int>(area.right, picture.width); ++x) {
      std::uint32_t pixel = picture.at(x, y);  // 0x00RRGGBB from the DIB
      int pr = (pixel >> 16) & 0xFF, pg = (pixel >> 8) & 0xFF, pb = pixel & 0xFF;
      if (std::abs(pr - r) <= tolerance && std::abs(pg - g) <= tolerance &&
          std::abs(pb - b) <= tolerance)
        ++count;
    }
  }
  return count;
}

// The text of each visual line, as appended (CP932 with codes) and as stored.
struct Line {
  const char* appended;
  const char* stored;
};

const Line LINES[] = {
    {"\x03"
     "04red text\x03 \x03"
     "03green\x03 \x03"
     "12blue",
     "red text green blue"},
    {"\x02"
     "bold\x02 plain \x1Funderline\x1F \x16reversed\x16",
     "bold plain underline reversed"},
    {"link: \xFFhttp://example.com/\xFF end", "link: http://example.com/ end"},
    // 日本語 こんにちは 表示 (the last has 0x5C as its second byte)
    {"\x93\xFA\x96\x7B\x8C\xEA \x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD \x95\x5C\x8E\xA6",
     "\x93\xFA\x96\x7B\x8C\xEA \x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD \x95\x5C\x8E\xA6"},
    {"\x03"
     "0,4white on red\x03 \x03"
     "8,2yellow on navy",
     "white on red yellow on navy"},
    {"tab\there", "tab\there"},
};

}  // namespace

int main(int argc, char** argv) {
  std::string artefacts = argc > 1 ? argv[1] : ".";
  HINSTANCE instance = GetModuleHandleW(nullptr);
  check(register_view_class(instance), "the view class registers");
  check(register_view_class(instance), "registering twice is harmless");
  WNDCLASSEXW parent_class{};
  parent_class.cbSize = sizeof parent_class;
  parent_class.lpfnWndProc = parent_procedure;
  parent_class.hInstance = instance;
  parent_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  parent_class.lpszClassName = L"lumoViewTestParent";
  RegisterClassExW(&parent_class);
  HWND parent = CreateWindowExW(0, L"lumoViewTestParent", L"view", WS_POPUP | WS_VISIBLE, 0, 0, 640,
                                400, nullptr, nullptr, instance, nullptr);
  HWND view = CreateWindowExW(WS_EX_CLIENTEDGE, VIEW_CLASS_NAME, L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, 0, 0, 640, 400,
                              parent, reinterpret_cast<HMENU>(1026), instance, nullptr);
  check(parent != nullptr, "the parent window is created");
  check(view != nullptr, "the view is created");
  if (view == nullptr) return 1;

  // The main window's text font: 9 points of "ＭＳ ゴシック".
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  HFONT font = CreateFontW(-(9 * dpi / 72), 0, 0, 0, 0, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0,
                           L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF");
  SendMessageW(view, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(view, VM_SETLINKCURSOR, 0,
               reinterpret_cast<LPARAM>(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649))));
  SendMessageW(view, EM_LIMITTEXT, 0, 0);
  SetFocus(view);

  std::string stored;
  for (const Line& line : LINES) {
    std::string appended = stored.empty() ? line.appended : std::string("\r\n") + line.appended;
    LRESULT result = SendMessageW(view, VM_APPEND, 0, reinterpret_cast<LPARAM>(appended.c_str()));
    check(result == 1, "VM_APPEND returns 1");
    stored += stored.empty() ? line.stored : std::string("\r\n") + line.stored;
  }
  check(SendMessageW(view, VM_APPEND, 0, 0) == 1, "a null append does nothing");
  pump(500);

  // The stored text, for a Unicode caller.
  std::wstring expected = widen(stored);
  LRESULT length = SendMessageW(view, WM_GETTEXTLENGTH, 0, 0);
  check(length == static_cast<LRESULT>(expected.size()), "WM_GETTEXTLENGTH counts UTF-16 units");
  std::vector<wchar_t> buffer(expected.size() + 1);
  LRESULT copied =
      SendMessageW(view, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  check(copied == length && std::wstring(buffer.data()) == expected,
        "WM_GETTEXT gives the stored text without codes, in UTF-16");
  check(expected.find(L"\x65E5\x672C\x8A9E") != std::wstring::npos &&
            expected.find(L"\x8868\x793A") != std::wstring::npos,
        "the Japanese text converts whole");
  wchar_t small[6];
  check(SendMessageW(view, WM_GETTEXT, 6, reinterpret_cast<LPARAM>(small)) == 5 &&
            std::wcscmp(small, L"red t") == 0,
        "WM_GETTEXT stops at the buffer's size");

  // Metrics of the font the view uses, to find the text.
  HDC dc = GetDC(view);
  HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(view, dc);
  int line_height = metrics.tmHeight + LINE_SPACING;
  int average = metrics.tmAveCharWidth;
  std::printf("font: height %ld, average width %ld, pitch %d\n", metrics.tmHeight,
              metrics.tmAveCharWidth, metrics.tmPitchAndFamily);
  auto row_middle = [&](int row) { return row * line_height + line_height / 2; };
  auto column_x = [&](int column) { return LEFT_MARGIN + column * average + average / 2; };

  // Double-clicking the link sends its text to the parent and changes nothing.
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(column_x(10), row_middle(2)));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(column_x(10), row_middle(2)));
  SendMessageW(view, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(column_x(10), row_middle(2)));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(column_x(10), row_middle(2)));
  check(opened_link == "http://example.com/", "a double-clicked link reaches the parent");
  check(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0) == length, "opening a link changes no text");

  // Drag from the start of the link line to the end of the Japanese line, then copy.
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, row_middle(2)));
  SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(500, row_middle(3)));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(500, row_middle(3)));
  SendMessageW(view, WM_COPY, 0, 0);
  std::string selected = std::string(LINES[2].stored) + "\r\n" + LINES[3].stored;
  bool opened = OpenClipboard(parent) != 0;
  check(opened, "the clipboard opens");
  if (opened) {
    HANDLE text = GetClipboardData(CF_TEXT);
    const char* bytes = text != nullptr ? static_cast<const char*>(GlobalLock(text)) : nullptr;
    check(bytes != nullptr && selected == bytes, "CF_TEXT holds the stored CP932 bytes with CR LF");
    if (bytes != nullptr) GlobalUnlock(text);
    HANDLE unicode = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* wide =
        unicode != nullptr ? static_cast<const wchar_t*>(GlobalLock(unicode)) : nullptr;
    check(wide != nullptr && widen(selected) == wide, "CF_UNICODETEXT holds the same text");
    check(wide != nullptr && std::wcsstr(wide, L"\x3053\x3093\x306B\x3061\x306F") != nullptr,
          "the Unicode text is correct Japanese");
    if (wide != nullptr) GlobalUnlock(unicode);
    CloseClipboard();
  }

  // Keep the link line selected for the picture: its highlight shows there.
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, row_middle(2)));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(column_x(4), row_middle(2)));
  InvalidateRect(view, nullptr, FALSE);
  UpdateWindow(view);
  pump(500);

  Picture picture = capture(view);
  std::string bitmap = artefacts + "\\view_window.bmp";
  check(save_bitmap(picture, bitmap), "the picture is saved");
  std::printf("picture: %s (%d x %d)\n", bitmap.c_str(), picture.width, picture.height);

  std::uint32_t background = GetSysColor(COLOR_WINDOW);
  RECT whole{0, 0, picture.width, picture.height};
  int total = picture.width * picture.height;
  int plain = count_near(picture, whole, background, 0);
  check(plain < total - 2000, "the picture is not blank");
  auto row_band = [&](int row, int first_column, int last_column) {
    return RECT{LEFT_MARGIN + first_column * average, row * line_height,
                LEFT_MARGIN + last_column * average, (row + 1) * line_height};
  };
  struct ColourCheck {
    RECT area;
    std::uint32_t color;
    int least;
    const char* what;
  };
  const ColourCheck colours[] = {
      {row_band(0, 0, 8), VIEW_PALETTE[4], 15, "red text is red"},
      {row_band(0, 9, 14), VIEW_PALETTE[3], 15, "green text is green"},
      {row_band(0, 15, 19), VIEW_PALETTE[12], 15, "blue text is blue"},
      {row_band(2, 6, 25), VIEW_PALETTE[12], 15, "the link is blue"},
      {row_band(4, 0, 12), VIEW_PALETTE[4], 8 * average * line_height / 2,
       "white on red has a red background"},
      {row_band(4, 0, 12), VIEW_PALETTE[0], 15, "white on red has white text"},
      {row_band(4, 13, 27), VIEW_PALETTE[2], 10 * average * line_height / 2,
       "yellow on navy has a navy background"},
      {row_band(4, 13, 27), VIEW_PALETTE[8], 15, "yellow on navy has yellow text"},
      {row_band(1, 22, 30), GetSysColor(COLOR_WINDOWTEXT), 4 * average * line_height / 2,
       "reversed text has a text-coloured background"},
      {row_band(2, 0, 4), GetSysColor(COLOR_HIGHLIGHT), 3 * average * line_height / 2,
       "the selection is highlighted"},
      {row_band(3, 0, 20), GetSysColor(COLOR_WINDOWTEXT), 30, "the Japanese line shows glyphs"},
  };
  for (const ColourCheck& colour : colours) {
    int found = count_near(picture, colour.area, colour.color);
    std::printf("  %d pixels (at least %d)\n", found, colour.least);
    check(found >= colour.least, colour.what);
  }
  // No red outside the coloured runs of the first line.
  check(count_near(picture, row_band(1, 0, 30), VIEW_PALETTE[4], 10) == 0,
        "the colours end with their line");

  // WM_SETTEXT clears first; its text is taken as CP932.
  check(SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"\x8868\x793A")) == TRUE,
        "WM_SETTEXT succeeds");
  check(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0) == 2 &&
            SendMessageW(view, WM_GETTEXT, 6, reinterpret_cast<LPARAM>(small)) == 2 &&
            std::wcscmp(small, L"\x8868\x793A") == 0,
        "WM_SETTEXT replaces the text");
  SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  check(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0) == 0, "WM_SETTEXT with \"\" clears the view");

  DestroyWindow(parent);
  DeleteObject(font);
  std::printf("%s\n", failures == 0 ? "all passed" : "some checks FAILED");
  return failures == 0 ? 0 : 1;
}
