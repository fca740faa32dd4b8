// Hands requests from other threads to one owner thread and waits until that thread has carried
// them out, as a message sent to a window waits for the window thread. Requests made on the owner
// thread itself are carried out at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

using RequestHandler = std::intptr_t (*)(void* target, std::uint32_t request, std::uintptr_t word,
                                         std::intptr_t data);

class RequestQueue {
 public:
  // The calling thread becomes the owner.
  RequestQueue(RequestHandler handler, void* target);
  RequestQueue(const RequestQueue&) = delete;
  RequestQueue& operator=(const RequestQueue&) = delete;

  // From any thread: carries the request out on the owner thread and returns its result.
  std::intptr_t deliver(std::uint32_t request, std::uintptr_t word, std::intptr_t data);
  // Owner thread: carries out every waiting request.
  void serve();
  // Owner thread: waits until a request arrives, wake() is called, or the time is up.
  void wait(std::uint32_t milliseconds);
  // From any thread: ends the owner's wait.
  void wake();
  bool on_owner_thread() const { return std::this_thread::get_id() == owner_; }

 private:
  struct Pending {
    std::uint32_t request;
    std::uintptr_t word;
    std::intptr_t data;
    std::intptr_t result;
    bool done;
  };
  RequestHandler handler_;
  void* target_;
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> waiting_;
  bool woken_ = false;
};
