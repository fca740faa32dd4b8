#include "shell/request_queue.h"

#include <chrono>

RequestQueue::RequestQueue(RequestHandler handler, void* target)
    : handler_(handler), target_(target), owner_(std::this_thread::get_id()) {}

std::intptr_t RequestQueue::deliver(std::uint32_t request, std::uintptr_t word,
                                    std::intptr_t data) {
  if (on_owner_thread()) return handler_(target_, request, word, data);
  Pending pending{request, word, data, 0, false};
  std::unique_lock<std::mutex> guard(mutex_);
  waiting_.push_back(&pending);
  changed_.notify_all();
  changed_.wait(guard, [&] { return pending.done; });
  return pending.result;
}

void RequestQueue::serve() {
  std::unique_lock<std::mutex> guard(mutex_);
  while (!waiting_.empty()) {
    Pending* pending = waiting_.front();
    waiting_.pop_front();
    guard.unlock();
    std::intptr_t result = handler_(target_, pending->request, pending->word, pending->data);
    guard.lock();
    pending->result = result;
    pending->done = true;
    changed_.notify_all();
  }
}

void RequestQueue::wait(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(mutex_);
  changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                    [&] { return !waiting_.empty() || woken_; });
  woken_ = false;
}

void RequestQueue::wake() {
  std::lock_guard<std::mutex> guard(mutex_);
  woken_ = true;
  changed_.notify_all();
}
