#include "fake_ui.h"

#include <chrono>
#include <fstream>
#include <random>

#include "engine/engine.h"
#include "platform/thread.h"

namespace fs = std::filesystem;

FakeUi::FakeUi(const std::string& main_text) : queue_(carry_out, this) {
  engine_start();
  server_.name = "(server)";
  server_.visible = true;
  folder_ = fs::temp_directory_path() / ("lumo-app-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder_);
  write_main(main_text);
  std::string directory = folder_.string() + "/";
  for (char& c : directory) {
    if (c == '/') c = '\\';
  }
  app_init(&app_, this, &server_, deliver, serve, directory.c_str(), "main.lum");
  app_.host.window = this;
}

FakeUi::~FakeUi() {
  // A test that did not close: stop and release like the close sequence, without "end".
  if (app_.directory != nullptr) app_shut_down(&app_);
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void FakeUi::write_main(const std::string& text) {
  std::ofstream(folder_ / "main.lum", std::ios::binary) << text;
}

std::vector<std::string> FakeUi::operations() {
  std::lock_guard<std::mutex> guard(mutex_);
  return operations_;
}

void FakeUi::clear_operations() {
  std::lock_guard<std::mutex> guard(mutex_);
  operations_.clear();
}

std::vector<FakeRequest> FakeUi::requests() {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

bool FakeUi::serve_until(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    queue_.serve();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    queue_.wait(2);
  }
}

bool FakeUi::serve_until_idle() {
  return serve_until([this] { return active_calls() == 0 && app_.running_events.load() == 0; });
}

std::intptr_t FakeUi::request(std::uint32_t number, std::intptr_t word, std::intptr_t data) {
  return deliver(&app_.host, number, static_cast<std::uintptr_t>(word), data);
}

std::intptr_t FakeUi::deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                              std::intptr_t data) {
  auto* ui = static_cast<FakeUi*>(host->window);
  {
    std::lock_guard<std::mutex> guard(ui->mutex_);
    std::string text;
    if ((request == UM_STRECHO || request == UM_LINEECHO || request == UM_STRSEND ||
         request == UM_CHANNELADD || request == UM_OPENLINK) &&
        data != 0)
      text = reinterpret_cast<const char*>(data);
    ui->requests_.push_back(FakeRequest{request, text, ui->queue_.on_owner_thread()});
  }
  return ui->queue_.deliver(request, word, data);
}

void FakeUi::serve(Host* host) {
  static_cast<FakeUi*>(host->window)->queue_.serve();
}

std::intptr_t FakeUi::carry_out(void* target, std::uint32_t request, std::uintptr_t word,
                                std::intptr_t data) {
  return app_request(&static_cast<FakeUi*>(target)->app_, request, word, data);
}

void FakeUi::note(const std::string& operation) {
  std::lock_guard<std::mutex> guard(mutex_);
  operations_.push_back(operation);
}

std::string FakeUi::label(ViewHandle handle) {
  return handle == nullptr ? "<none>" : "#" + static_cast<FakeView*>(handle)->name;
}

ViewHandle FakeUi::make_view(const char* channel_name) {
  if (std::string(channel_name) == "#no view") return nullptr;  // a view that cannot be made
  auto* view = new FakeView;
  view->name = channel_name;
  note("make " + label(view));
  return view;
}

void FakeUi::destroy_view(ViewHandle handle) {
  note("destroy " + label(handle));
  delete static_cast<FakeView*>(handle);
}

void FakeUi::append(ViewHandle handle, const char* text) {
  view(handle)->text += text;
}

void FakeUi::clear_view(ViewHandle handle) {
  note("clear " + label(handle));
  view(handle)->text.clear();
}

void FakeUi::show_view(ViewHandle handle, bool visible) {
  note("show " + label(handle) + (visible ? " 1" : " 0"));
  view(handle)->visible = visible;
}

void FakeUi::selector_add(const SelectorItem* item) {
  std::string name =
      item->kind == SELECTOR_SERVER ? "(Server)" : static_cast<Channel*>(item->target)->name;
  note("add " + std::to_string(selector.size()) + " " + name);
  selector.push_back(name);
}

void FakeUi::selector_remove(std::int32_t index) {
  note("remove " + std::to_string(index));
  selector.erase(selector.begin() + index);
}

void FakeUi::selector_select(std::int32_t index) {
  note("select " + std::to_string(index));
  selected = index;
}

void FakeUi::focus_input() {
  note("focus");
}

void FakeUi::layout(ViewHandle current_view) {
  note("layout " + label(current_view));
}

void FakeUi::open_link(const char* text) {
  note(std::string("link ") + text);
}
