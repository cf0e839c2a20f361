#include "EventQueue.h"

namespace qs_cli {

EventQueue::EventQueue(std::size_t capacity, std::size_t textCapacity) : slots_(capacity) {
  for (QueuedEvent& slot : slots_) {
    slot.name.reserve(64);
    slot.text.reserve(textCapacity);
  }
}

bool EventQueue::push(const std::string& name, const quorvel::QVAny& payload, double audioSeconds, double wallSeconds) {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  if (written - read_.load(std::memory_order_acquire) == slots_.size()) {
    dropped_++;
    return false;
  }
  QueuedEvent& slot = slots_[written % slots_.size()];
  slot.name.assign(name);
  slot.hasText = false;
  slot.sequence = -1;
  slot.audioSeconds = audioSeconds;
  slot.wallSeconds = wallSeconds;
  // Walked rather than looked up: the map's at() returns a copy.
  if (const quorvel::QVAnyMap* map = payload.asMap()) {
    for (const auto& [key, value] : *map) {
      const std::string* text = key == "text" ? value.asString() : nullptr;
      if (text != nullptr) {
        slot.text.assign(*text);
        slot.hasText = true;
      }
      if (key == "sequence") slot.sequence = quorvel::QVAny::convert<int64_t>(value);
    }
  }
  written_.store(written + 1, std::memory_order_release);
  return true;
}

}  // namespace qs_cli
