// Owning wrappers for the window system's handles that the main window makes itself.
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle, BOOL(WINAPI* Release)(Handle)>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~OwnedHandle() { reset(); }

  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Release(handle_);
    handle_ = handle;
  }
  Handle get() const { return handle_; }

 private:
  Handle handle_ = nullptr;
};

inline BOOL WINAPI delete_font(HFONT font) {
  return DeleteObject(font);
}

using OwnedIcon = OwnedHandle<HICON, DestroyIcon>;
using OwnedFont = OwnedHandle<HFONT, delete_font>;
