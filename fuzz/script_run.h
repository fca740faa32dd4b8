// What the script fuzz targets share: a ScriptSet made from arbitrary bytes, a watchdog that stops
// runs taking too long, and the events a host fires.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

struct Host;
struct Script;

// Sets the stop flag once `limit` has passed, as the stop command would, and leaves it set.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  bool fired() const { return fired_.load(); }

 private:
  void watch();

  std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// An empty folder of its own made the working folder for one run, so that what a script does to
// files cannot reach the next run or another fuzzing process. The folder before comes back, and the
// scratch folder goes with everything in it, when the object goes. Without one (it could not be
// made) the run keeps the folder it had.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

 private:
  char path_[64] = "";
  int previous_ = -1;  // the folder before, open
};

// A ScriptSet with the bytes parsed as its module "main", shown through `host`; null when memory
// runs out.
Script* make_script_set(const std::uint8_t* data, std::size_t size, Host* host);
// Runs the top level, then "start", "recv" and "send" as a host would, and waits for the threads
// the script started, until `limit` stops them all; then releases the set. True unless the
// watchdog fired.
bool run_script_set(Script* set, Host* host, std::chrono::milliseconds limit);
