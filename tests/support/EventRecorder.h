// Records the events a node emits, in arrival order and from any thread, as
// an application's listener would see them.
#pragma once

#include <quorvel/EventEmitter.h>
#include <quorvel/QVAny.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_kit {

struct RecordedEvent {
  std::string name;
  quorvel::QVAny payload;
  std::string text;  // the payload's "text", when it carries one
  std::thread::id thread;
  std::size_t index = 0;  // arrival order among this recorder's events
};

class EventRecorder {
 public:
  using Reaction = std::function<void(const RecordedEvent&)>;

  // `react`, when given, runs on the emitting thread after each event is
  // recorded, as a listener that calls back into the node would. Reactions
  // on two threads may run in either order; `index` tells the true one.
  explicit EventRecorder(quorvel::EventEmitter& emitter,
                         std::initializer_list<const char*> names = {"finished", "synthesisStarted"},
                         Reaction react = {})
      : emitter_(emitter), react_(std::move(react)) {
    for (const char* name : names) {
      ids_.push_back(emitter_.addListener(name, [this](const std::string& event, const quorvel::QVAny& payload) {
        RecordedEvent recorded{event, payload, textOf(payload), std::this_thread::get_id()};
        {
          std::lock_guard<std::mutex> lock(mutex_);
          recorded.index = events_.size();
          events_.push_back(recorded);
        }
        if (react_) react_(recorded);
      }));
    }
  }
  ~EventRecorder() {
    for (auto id : ids_) emitter_.removeListener(id);
  }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  std::vector<RecordedEvent> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : events()) out.push_back(e.name);
    return out;
  }
  int count(const std::string& name) const {
    int n = 0;
    for (const auto& e : events()) n += e.name == name ? 1 : 0;
    return n;
  }
  // The "text" of every "synthesisStarted", in order.
  std::vector<std::string> startedTexts() const {
    std::vector<std::string> out;
    for (const auto& e : events())
      if (e.name == "synthesisStarted") out.push_back(e.text);
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

  // Polls `condition` until it holds (true) or `limit` passes (false).
  static bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  static std::string textOf(const quorvel::QVAny& payload) {
    const auto map = quorvel::QVAny::convert<quorvel::QVAnyMap>(payload);
    return map.hasKey("text") ? quorvel::QVAny::convert<std::string>(map.at("text")) : std::string();
  }

  quorvel::EventEmitter& emitter_;
  Reaction react_;
  std::vector<quorvel::EventEmitter::ListenerId> ids_;
  mutable std::mutex mutex_;
  std::vector<RecordedEvent> events_;
};

}  // namespace test_kit
