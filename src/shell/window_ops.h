// The window operations that the application core needs. The Win32 shell, lumo-cli and the tests'
// fake UI implement them; the core calls them only on the UI thread.
#pragma once

#include <cstdint>

// A message view: a window handle in the Win32 shell, the front end's own record elsewhere.
using ViewHandle = void*;

// One entry of the channel selector. Entry 0 is always the server entry.
struct SelectorItem {
  std::int32_t kind;  // SELECTOR_SERVER or SELECTOR_CHANNEL
  void* target;       // the AppContext, or the Channel
};
constexpr std::int32_t SELECTOR_SERVER = 1;
constexpr std::int32_t SELECTOR_CHANNEL = 2;

class WindowOps {
 public:
  // Makes a hidden message view for a channel; null when it cannot be made.
  virtual ViewHandle make_view(const char* channel_name) = 0;
  virtual void destroy_view(ViewHandle view) = 0;
  // Appends text with formatting codes to a view; "\r\n" starts a new line.
  virtual void append(ViewHandle view, const char* text) = 0;
  virtual void clear_view(ViewHandle view) = 0;
  // Shows or hides a view.
  virtual void show_view(ViewHandle view, bool visible) = 0;
  // Selector entries: appended at the end; removed and selected by index.
  virtual void selector_add(const SelectorItem* item) = 0;
  virtual void selector_remove(std::int32_t index) = 0;
  virtual void selector_select(std::int32_t index) = 0;
  virtual void focus_input() = 0;
  // Lays out the main window around the current view.
  virtual void layout(ViewHandle current_view) = 0;
  // Opens the text of a link with the system's shell.
  virtual void open_link(const char* text) = 0;

 protected:
  ~WindowOps() = default;
};
