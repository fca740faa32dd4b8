// A fake UI for the application core: records every window operation as a line of text, and acts as
// the UI thread that carries out the requests of script threads when it serves them.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/app_context.h"
#include "shell/request_queue.h"

struct FakeView {
  std::string name;
  std::string text;  // everything appended since the last clear
  bool visible = false;
};

// One request as the host received it: its number, text, and whether it came from the UI thread.
struct FakeRequest {
  std::uint32_t request;
  std::string text;
  bool from_ui_thread;
};

class FakeUi final : public WindowOps {
 public:
  // Writes `main_text` as main.lum into a fresh folder and prepares the context; nothing is loaded.
  explicit FakeUi(const std::string& main_text);
  ~FakeUi();

  AppContext* app() { return &app_; }
  FakeView& server() { return server_; }
  FakeView* view(ViewHandle handle) { return static_cast<FakeView*>(handle); }
  // The operations so far, one per line ("add 2 #a", "select 0", "show #a 1", ...).
  std::vector<std::string> operations();
  void clear_operations();
  std::vector<FakeRequest> requests();
  // Rewrites main.lum (for reloads).
  void write_main(const std::string& text);

  // Serves requests until `done` holds or 10 seconds have passed; false on the time-out.
  bool serve_until(const std::function<bool()>& done);
  // Serves until no script code runs and every event thread has ended.
  bool serve_until_idle();
  // A request as a script thread would send it, from this (the UI) thread.
  std::intptr_t request(std::uint32_t number, std::intptr_t word, std::intptr_t data);

  ViewHandle make_view(const char* channel_name) override;
  void destroy_view(ViewHandle view) override;
  void append(ViewHandle view, const char* text) override;
  void clear_view(ViewHandle view) override;
  void show_view(ViewHandle view, bool visible) override;
  void selector_add(const SelectorItem* item) override;
  void selector_remove(std::int32_t index) override;
  void selector_select(std::int32_t index) override;
  void focus_input() override;
  void layout(ViewHandle current_view) override;
  void open_link(const char* text) override;

  // The selector's entries as labels: "(Server)" or the channel's name.
  std::vector<std::string> selector;
  std::int32_t selected = -1;

 private:
  static std::intptr_t deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                               std::intptr_t data);
  static void serve(Host* host);
  static std::intptr_t carry_out(void* target, std::uint32_t request, std::uintptr_t word,
                                 std::intptr_t data);
  void note(const std::string& operation);
  std::string label(ViewHandle view);

  AppContext app_{};
  FakeView server_;
  RequestQueue queue_;
  std::filesystem::path folder_;
  std::mutex mutex_;
  std::vector<std::string> operations_;
  std::vector<FakeRequest> requests_;
};
