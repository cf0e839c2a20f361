// Node events raised on the audio thread, handed to the control thread that
// prints them: the audio thread must not write to a terminal or a pipe.
//
// One producer (the audio thread) and one consumer (the control thread),
// wait-free. Every slot is allocated up front with room for a text, so a
// push allocates only for a text longer than that (a streamed piece that
// long is synthesised on the audio thread anyway, which allocates far more).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <quorvel/QVAny.h>

namespace qs_cli {

struct QueuedEvent {
  std::string name;
  bool hasText = false;
  std::string text;  // the payload's "text", when it has one
  int64_t sequence = -1;  // the payload's "sequence", when it has one
  double audioSeconds = 0.0;
  double wallSeconds = 0.0;
};

class EventQueue {
 public:
  explicit EventQueue(std::size_t capacity = 64, std::size_t textCapacity = 1024);

  // Audio thread. False when the control thread has fallen that far behind.
  bool push(const std::string& name, const quorvel::QVAny& payload, double audioSeconds, double wallSeconds);
  // Control thread: hands each queued event to `each`, oldest first.
  template <typename Each>
  void drain(Each&& each) {
    uint64_t read = read_.load(std::memory_order_relaxed);
    const uint64_t written = written_.load(std::memory_order_acquire);
    for (; read != written; ++read) each(slots_[read % slots_.size()]);
    read_.store(read, std::memory_order_release);
  }
  // Events lost because the queue was full.
  unsigned dropped() const { return dropped_.load(); }

 private:
  std::vector<QueuedEvent> slots_;
  alignas(64) std::atomic<uint64_t> written_{0};
  alignas(64) std::atomic<uint64_t> read_{0};
  std::atomic<unsigned> dropped_{0};
};

}  // namespace qs_cli
