#include "view/win32/gdi_text.h"

#include <cwchar>

const wchar_t* widen_cp932(const char* bytes, std::uint32_t count, std::wstring* buffer,
                           int* length) {
  *length = 0;
  if (count == 0) return L"";
  int size = MultiByteToWideChar(932, 0, bytes, static_cast<int>(count), nullptr, 0);
  if (size <= 0) return L"";
  if (buffer->size() < static_cast<std::size_t>(size))
    buffer->resize(static_cast<std::size_t>(size));
  *length = MultiByteToWideChar(932, 0, bytes, static_cast<int>(count), buffer->data(), size);
  return buffer->data();
}

void ViewFonts::set_face(const wchar_t* face, int points, BYTE charset) {
  clear();
  wcsncpy(face_, face, LF_FACESIZE - 1);
  face_[LF_FACESIZE - 1] = L'\0';
  points_ = points;
  charset_ = charset;
}

void ViewFonts::clear() {
  // Fonts still selected into the surface are put back to the stock font first.
  if (surface_ != nullptr) SelectObject(surface_, GetStockObject(SYSTEM_FONT));
  for (UniqueFont& font : fonts_)
    font.reset();
}

HFONT ViewFonts::font(bool bold, bool italic, bool underline) {
  UniqueFont& slot = fonts_[(bold ? 1 : 0) | (italic ? 2 : 0) | (underline ? 4 : 0)];
  if (!slot) {
    HDC screen = GetDC(nullptr);
    int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    LOGFONTW logfont{};
    logfont.lfHeight = -(dpi * points_ / 72);
    logfont.lfWeight = bold ? FW_BOLD : 0;
    logfont.lfItalic = italic ? TRUE : FALSE;
    logfont.lfUnderline = underline ? TRUE : FALSE;
    logfont.lfCharSet = charset_;
    logfont.lfPitchAndFamily = face_[0] == L'\0' ? FIXED_PITCH : 0;
    wcscpy(logfont.lfFaceName, face_);
    slot.reset(CreateFontIndirectW(&logfont));
  }
  return slot.get();
}

int ViewFonts::run_width(const char* bytes, std::uint32_t count, bool bold) {
  HFONT measured = font(bold, false, false);
  if (surface_ == nullptr || measured == nullptr) return 0;
  HGDIOBJ previous = SelectObject(surface_, measured);
  int length = 0;
  const wchar_t* wide = widen_cp932(bytes, count, &wide_, &length);
  SIZE size{};
  GetTextExtentPoint32W(surface_, wide, length, &size);
  SelectObject(surface_, previous);
  return size.cx;
}

void SurfacePainter::select_font(bool bold, bool italic, bool underline) {
  HFONT font = fonts_->font(bold, italic, underline);
  if (font != nullptr) SelectObject(surface_, font);
}

void SurfacePainter::set_colors(std::uint32_t foreground, std::uint32_t background) {
  SetTextColor(surface_, foreground);
  SetBkColor(surface_, background);
}

void SurfacePainter::draw_run(int x, int top, int width, int text_y, const char* bytes,
                              std::uint32_t count) {
  RECT cell{x, top, x + width, top + line_height_};
  int length = 0;
  const wchar_t* wide = widen_cp932(bytes, count, &wide_, &length);
  ExtTextOutW(surface_, x, text_y, ETO_OPAQUE | ETO_CLIPPED, &cell, wide, static_cast<UINT>(length),
              nullptr);
}

void SurfacePainter::fill(int x, int top, int width) {
  RECT cell{x, top, x + width, top + line_height_};
  ExtTextOutW(surface_, x, top, ETO_OPAQUE, &cell, L"", 0, nullptr);
}
