// PieceQueue: streamed pieces that are synthesised and wait, in the order of
// their text, for the piece before them to end. Fixed capacity, no
// allocation: pushed by the engine's holder (one thread at a time), popped by
// the render step.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "GeneratedAudioItem.h"

namespace quorvel::extensions::sherpa {

class PieceQueue {
 public:
  // With pieces cut only while nothing plays, two are ever waiting (the one
  // just cut and a final token's rest). With "prepareAhead" every piece an
  // append completes is generated and waits here: pieces are 50 bytes of text
  // at least, so this holds thousands of words of an answer ahead of the
  // voice. A piece that finds the queue full is not cut: its text stays in
  // the streaming buffer until the end of a piece makes room.
  static constexpr std::size_t kCapacity = 128;

  // Producer. False (and nothing changes) when full.
  bool push(GeneratedAudioItem* item) noexcept {
    const std::size_t tail = tail_.load();
    if (tail - head_.load() >= kCapacity) return false;
    slots_[tail % kCapacity].store(item);
    tail_.store(tail + 1);
    return true;
  }
  // Consumer: the oldest piece, or null.
  GeneratedAudioItem* front() const noexcept {
    const std::size_t head = head_.load();
    return head == tail_.load() ? nullptr : slots_[head % kCapacity].load();
  }
  // Any thread: the newest piece, or null.
  GeneratedAudioItem* back() const noexcept {
    const std::size_t tail = tail_.load();
    return tail == head_.load() ? nullptr : slots_[(tail - 1) % kCapacity].load();
  }
  void pop() noexcept {
    const std::size_t head = head_.load();
    if (head != tail_.load()) {
      slots_[head % kCapacity].store(nullptr);
      head_.store(head + 1);
    }
  }
  bool empty() const noexcept { return head_.load() == tail_.load(); }
  bool full() const noexcept { return tail_.load() - head_.load() >= kCapacity; }
  // Any thread; exact only while the queue does not change.
  bool contains(const GeneratedAudioItem* item) const noexcept {
    for (std::size_t i = head_.load(), end = tail_.load(); i != end; ++i)
      if (slots_[i % kCapacity].load() == item) return true;
    return false;
  }
  // Only while neither side can run (produce kept out, engine held), or on
  // the render thread while it holds the engine.
  void clear() noexcept {
    while (!empty()) pop();
  }

 private:
  std::array<std::atomic<GeneratedAudioItem*>, kCapacity> slots_{};
  std::atomic<std::size_t> head_{0};
  std::atomic<std::size_t> tail_{0};
};

}  // namespace quorvel::extensions::sherpa
