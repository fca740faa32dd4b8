// The view's text on GDI: its fonts, made on demand from face, size and character set, the width
// of runs for the layout, and the painting calls on the off-screen surface. CP932 bytes are
// converted to UTF-16 for the W functions; offsets stay byte offsets.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "view/view_paint.h"
#include "view/view_state.h"
#include "view/win32/gdi_handles.h"

// UTF-16 for `count` CP932 bytes, in a buffer that is reused from call to call.
const wchar_t* widen_cp932(const char* bytes, std::uint32_t count, std::wstring* buffer,
                           int* length);

class ViewFonts final : public TextMeasure {
 public:
  // The face ("" means any fixed-pitch font), size in points and character set to make fonts of.
  void set_face(const wchar_t* face, int points, BYTE charset);
  // The font with these styles, made when first asked for; null when it cannot be made.
  HFONT font(bool bold, bool italic, bool underline);
  // Forgets every font made so far (a new face or size).
  void clear();
  void set_surface(HDC surface) { surface_ = surface; }
  int points() const { return points_; }

  int run_width(const char* bytes, std::uint32_t count, bool bold) override;

 private:
  UniqueFont fonts_[8];
  wchar_t face_[LF_FACESIZE] = {};
  int points_ = 9;
  BYTE charset_ = SHIFTJIS_CHARSET;
  HDC surface_ = nullptr;
  std::wstring wide_;
};

// Paints runs on the surface with the view's fonts.
class SurfacePainter final : public PaintSink {
 public:
  SurfacePainter(HDC surface, ViewFonts* fonts, int line_height)
      : surface_(surface), fonts_(fonts), line_height_(line_height) {}

  void select_font(bool bold, bool italic, bool underline) override;
  void set_colors(std::uint32_t foreground, std::uint32_t background) override;
  void draw_run(int x, int top, int width, int text_y, const char* bytes,
                std::uint32_t count) override;
  void fill(int x, int top, int width) override;

 private:
  HDC surface_;
  ViewFonts* fonts_;
  int line_height_;
  std::wstring wide_;
};
