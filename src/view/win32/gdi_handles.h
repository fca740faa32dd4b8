// Owning wrappers for GDI handles: each deletes its object when it goes.
#pragma once

#include <windows.h>

#include <utility>

template <class Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : handle_(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using UniqueFont = GdiObject<HFONT>;
using UniqueBitmap = GdiObject<HBITMAP>;
using UniqueBrush = GdiObject<HBRUSH>;

// A memory device context that holds a bitmap; the bitmap it held at first is put back before
// either is deleted.
class MemorySurface {
 public:
  MemorySurface() = default;
  ~MemorySurface() { reset(); }
  MemorySurface(const MemorySurface&) = delete;
  MemorySurface& operator=(const MemorySurface&) = delete;

  // A surface compatible with the window's device context, width x height pixels.
  bool create(HWND window, int width, int height) {
    reset();
    HDC screen = GetDC(window);
    if (screen == nullptr) return false;
    dc_ = CreateCompatibleDC(screen);
    ReleaseDC(window, screen);
    if (dc_ == nullptr) return false;
    return resize(window, width, height);
  }
  // A new bitmap of the given size in place of the current one.
  bool resize(HWND window, int width, int height) {
    HDC screen = GetDC(window);
    if (screen == nullptr) return false;
    UniqueBitmap bitmap(
        CreateCompatibleBitmap(screen, width < 1 ? 1 : width, height < 1 ? 1 : height));
    ReleaseDC(window, screen);
    if (!bitmap) return false;
    HGDIOBJ previous = SelectObject(dc_, bitmap.get());
    if (original_bitmap_ == nullptr) original_bitmap_ = previous;
    bitmap_ = std::move(bitmap);
    return true;
  }
  HDC dc() const { return dc_; }

 private:
  void reset() {
    if (dc_ == nullptr) return;
    if (original_bitmap_ != nullptr) SelectObject(dc_, original_bitmap_);
    bitmap_.reset();
    DeleteDC(dc_);
    dc_ = nullptr;
    original_bitmap_ = nullptr;
  }

  HDC dc_ = nullptr;
  HGDIOBJ original_bitmap_ = nullptr;
  UniqueBitmap bitmap_;
};
