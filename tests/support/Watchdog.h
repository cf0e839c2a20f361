// Ends the test program with a message when not disarmed within a limit:
// a hang fails the run, with its name, instead of stalling the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace test_kit {

class Watchdog {
 public:
  Watchdog(std::string name, std::chrono::seconds limit)
      : name_(std::move(name)), thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!disarmed_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "HANG: %s did not finish within %lld s\n", name_.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string name_;
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace test_kit
