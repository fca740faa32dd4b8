#include "platform/text.h"

#include <windows.h>

namespace {

// Script text is CP932 whatever the system's ANSI code page, so it is decoded as CP932 and compared
// in the user's locale, as the ANSI comparison would on a Japanese system.
class WideText {
 public:
  explicit WideText(const char* text) {
    int length = MultiByteToWideChar(932, 0, text, -1, nullptr, 0);
    if (length <= 0) return;
    wide_ = length <= kInline
                ? inline_
                : static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)));
    if (wide_ != nullptr && MultiByteToWideChar(932, 0, text, -1, wide_, length) <= 0) wide_[0] = 0;
  }
  ~WideText() {
    if (wide_ != nullptr && wide_ != inline_) HeapFree(GetProcessHeap(), 0, wide_);
  }
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;
  const wchar_t* get() const { return wide_; }

 private:
  static constexpr int kInline = 256;
  wchar_t inline_[kInline];
  wchar_t* wide_ = nullptr;
};

}  // namespace

int compare_text_locale(const char* a, const char* b) {
  WideText wide_a(a);
  WideText wide_b(b);
  int order = 0;
  if (wide_a.get() != nullptr && wide_b.get() != nullptr) {
    order = CompareStringW(LOCALE_USER_DEFAULT, 0, wide_a.get(), -1, wide_b.get(), -1);
  }
  if (order == 0) order = lstrcmpA(a, b) + CSTR_EQUAL;  // conversion failed: the ANSI comparison
  return order < CSTR_EQUAL ? -1 : (order > CSTR_EQUAL ? 1 : 0);
}
