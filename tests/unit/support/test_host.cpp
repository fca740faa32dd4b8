#include "support/test_host.h"

#include <cstring>

#include "platform/memory.h"

TestHost::TestHost(bool queued) : host_{}, queued_(queued), owner_(std::this_thread::get_id()) {
  host_.window = this;
  host_.error_echo_request = UM_LINEECHO;
  host_.deliver = &TestHost::deliver;
  host_.serve_pending = &TestHost::serve;
}

std::intptr_t TestHost::deliver(Host* host, std::uint32_t request, std::uintptr_t word,
                                std::intptr_t data) {
  auto* self = static_cast<TestHost*>(host->window);
  Delivery delivery{request, word, data != 0 ? reinterpret_cast<const char*>(data) : ""};
  if (!self->queued_ || std::this_thread::get_id() == self->owner_) {
    self->record(delivery);
    return 0;
  }
  Pending pending{delivery};
  std::unique_lock<std::mutex> guard(self->mutex_);
  self->queue_.push_back(&pending);
  self->served_.wait(guard, [&] { return pending.done; });
  return 0;
}

void TestHost::serve(Host* host) {
  static_cast<TestHost*>(host->window)->serve_pending();
}

void TestHost::serve_pending() {
  std::unique_lock<std::mutex> guard(mutex_);
  while (!queue_.empty()) {
    Pending* pending = queue_.front();
    queue_.pop_front();
    deliveries_.push_back(pending->delivery);
    pending->done = true;
  }
  served_.notify_all();
}

std::size_t TestHost::waiting() {
  std::lock_guard<std::mutex> guard(mutex_);
  return queue_.size();
}

void TestHost::record(const Delivery& delivery) {
  std::lock_guard<std::mutex> guard(mutex_);
  deliveries_.push_back(delivery);
}

std::vector<Delivery> TestHost::deliveries() {
  std::lock_guard<std::mutex> guard(mutex_);
  return deliveries_;
}

std::vector<std::string> TestHost::error_lines() {
  std::vector<std::string> lines;
  for (const Delivery& delivery : deliveries()) {
    if (delivery.request != UM_LINEECHO) continue;
    std::string text = delivery.text;
    if (text.rfind("\x03"
                   "04",
                   0) == 0)
      text.erase(0, 3);
    lines.push_back(text);
  }
  return lines;
}

void TestHost::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  deliveries_.clear();
}

ScriptFixture::ScriptFixture(Host* host, std::int32_t explicit_flag)
    : set_(create_script_set(explicit_flag)) {
  set_->host = host;
}

ScriptFixture::~ScriptFixture() {
  release_script_set(&set_);
}

Script* ScriptFixture::add_module(const char* name, const char* text) {
  Script* module = alloc_record<Script>();
  module->name = dup_string(name);
  module->directory = dup_string("");
  module->text = dup_string(text);
  module->root = set_;
  module->is_explicit = set_->is_explicit;
  module->host = set_->host;
  Script** tail = &set_->next;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = module;
  return module;
}

ValueNode* ScriptFixture::add_global(Script* module, const char* name, std::int32_t number) {
  ValueNode* cell = make_node();
  cell->name = dup_string(name);
  cell->name_hash = name_hash_of(name);
  cell->value->data.number = number;
  cell->value->shared = 1;
  ValueNode** tail = &module->globals;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = cell;
  return cell;
}

CallContext make_frame(Script* module, const char* function_name) {
  CallContext frame{};
  frame.script = module;
  frame.function_name = function_name;
  return frame;
}
