#include "view/win32/view_clipboard.h"

#include <cstring>

#include "view/view_input.h"

namespace {

// A movable, zero-filled global block with `size` bytes of `data` copied in, or null.
HGLOBAL global_copy(const void* data, std::size_t size, std::size_t block_size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, block_size);
  if (block == nullptr) return nullptr;
  void* target = GlobalLock(block);
  if (target == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(target, data, size);
  GlobalUnlock(block);
  return block;
}

HGLOBAL unicode_block(const char* bytes, int count) {
  int length = MultiByteToWideChar(932, 0, bytes, count, nullptr, 0);
  if (length < 0) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                              (static_cast<std::size_t>(length) + 1) * sizeof(wchar_t));
  if (block == nullptr) return nullptr;
  auto* target = static_cast<wchar_t*>(GlobalLock(block));
  if (target == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  if (length > 0) MultiByteToWideChar(932, 0, bytes, count, target, length);
  GlobalUnlock(block);
  return block;
}

}  // namespace

void copy_selection(HWND owner, const ViewState* state) {
  std::uint32_t start = selection_start(state);
  std::uint32_t count = selection_end(state) - start;
  if (count == 0) return;
  const char* bytes = state->text + start;
  // Both blocks are made before the clipboard is touched, so a failure leaves it unchanged.
  HGLOBAL text = global_copy(bytes, count, std::size_t{count} + 1);
  HGLOBAL unicode = unicode_block(bytes, static_cast<int>(count));
  if (text == nullptr || unicode == nullptr || !OpenClipboard(owner)) {
    if (text != nullptr) GlobalFree(text);
    if (unicode != nullptr) GlobalFree(unicode);
    return;
  }
  EmptyClipboard();
  if (SetClipboardData(CF_TEXT, text) == nullptr) GlobalFree(text);
  if (SetClipboardData(CF_UNICODETEXT, unicode) == nullptr) GlobalFree(unicode);
  CloseClipboard();
}
