// A host's audio thread for the real-engine tests of the speech node: it
// renders blocks on its own thread, paced faster than real time, and keeps
// what they carried; a recorder of the node's events with their texts; and
// a watchdog that turns a hang into a failing test program instead of a
// stuck suite.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "tts/SherpaTTSNode.h"

namespace render_thread {

using namespace quorvel;
using quorvel::extensions::sherpa::SherpaTTSNode;

struct Format {
  int rate = 48000;
  unsigned channels = 2;
  unsigned frames = 480;   // 10 ms at 48000 Hz
  int speedup = 16;        // blocks are rendered this many times faster than real time
  bool keepAudio = false;  // keep channel 0 of every block (mind the memory)
};

class RenderThread {
 public:
  RenderThread(SherpaTTSNode& node, Format format)
      : node_(node), format_(format), storage_(format.channels, std::vector<float>(format.frames)) {
    for (unsigned c = 0; c < format.channels; ++c) pointers_[c] = storage_[c].data();
    buffer_ = AudioBuffer<float>(format.channels, format.frames, false, format.rate, pointers_);
    bus_.setBuffer(&buffer_);
    thread_ = std::thread([this] { run(); });
  }
  ~RenderThread() { stop(); }
  RenderThread(const RenderThread&) = delete;
  RenderThread& operator=(const RenderThread&) = delete;

  void stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  long blocks() const { return blocks_.load(); }
  long audibleBlocks() const { return audibleBlocks_.load(); }
  bool allBlocksOk() const { return allOk_.load(); }
  bool channelsAlwaysEqual() const { return channelsEqual_.load(); }
  bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Channel 0 of every block so far (Format::keepAudio).
  std::vector<float> audio() const {
    std::lock_guard<std::mutex> lock(audioMutex_);
    return audio_;
  }
  // Waits until `blocks` more blocks were rendered.
  void waitBlocks(long count) const {
    const long target = blocks() + count;
    while (blocks() < target && !stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  void run() {
    const auto period = std::chrono::microseconds(1000000LL * format_.frames / format_.rate / format_.speedup);
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      if (!node_.produce(bus_)) allOk_.store(false);
      float peak = 0.0f;
      for (float v : storage_[0]) peak = std::max(peak, v < 0 ? -v : v);
      if (peak > 0.01f) audibleBlocks_.fetch_add(1);
      for (unsigned c = 1; c < format_.channels; ++c)
        if (storage_[c] != storage_[0]) channelsEqual_.store(false);
      if (format_.keepAudio) {
        std::lock_guard<std::mutex> lock(audioMutex_);
        audio_.insert(audio_.end(), storage_[0].begin(), storage_[0].end());
      }
      blocks_.fetch_add(1);
      next += period;
      std::this_thread::sleep_until(next);
    }
  }

  SherpaTTSNode& node_;
  Format format_;
  std::vector<std::vector<float>> storage_;
  float* pointers_[AudioBuffer<float>::kMaxChannels] = {};
  AudioBuffer<float> buffer_;
  AudioBus bus_;
  std::atomic<bool> stop_{false};
  std::atomic<long> blocks_{0};
  std::atomic<long> audibleBlocks_{0};
  std::atomic<bool> allOk_{true};
  std::atomic<bool> channelsEqual_{true};
  mutable std::mutex audioMutex_;
  std::vector<float> audio_;
  std::thread thread_;
};

struct Event {
  std::string name;
  std::string text;  // "synthesisStarted"'s
  std::thread::id thread;
};

// Records the node's events; `onEvent`, when set, runs after recording
// (on the emitting thread), as an application's listener would.
class EventTrace {
 public:
  explicit EventTrace(SherpaTTSNode& node) : node_(node) {
    for (const char* name : {"finished", "synthesisStarted"}) {
      ids_.push_back(node_.addListener(name, [this](const std::string& event, const QVAny& payload) {
        std::string text;
        if (event == "synthesisStarted") text = QVAny::convert<std::string>(QVAny::convert<QVAnyMap>(payload).at("text"));
        {
          std::lock_guard<std::mutex> lock(mutex_);
          events_.push_back({event, text, std::this_thread::get_id()});
        }
        if (onEvent) onEvent(event, text);
      }));
    }
  }
  ~EventTrace() {
    for (auto id : ids_) node_.removeListener(id);
  }
  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  int count(const std::string& name) const {
    int n = 0;
    for (const auto& e : events()) n += e.name == name ? 1 : 0;
    return n;
  }
  std::vector<std::string> startedTexts() const {
    std::vector<std::string> out;
    for (const auto& e : events())
      if (e.name == "synthesisStarted") out.push_back(e.text);
    return out;
  }
  // Waits (polling) for a condition on the events; false after `limit`.
  bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  std::function<void(const std::string& event, const std::string& text)> onEvent;

 private:
  SherpaTTSNode& node_;
  std::vector<EventEmitter::ListenerId> ids_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

// Ends the test program with a message when not disarmed within `limit`:
// a hang fails the run (with its name) instead of stalling the suite.
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

 private:
  std::string name_;
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace render_thread
