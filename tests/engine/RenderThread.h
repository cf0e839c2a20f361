// A host's audio thread for the real-engine tests of the speech node: it
// renders blocks on its own thread, paced faster than real time, and keeps
// what they carried.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/EventRecorder.h"
#include "support/TestBlock.h"
#include "support/Watchdog.h"
#include "tts/SherpaTTSNode.h"

namespace render_thread {

using namespace quorvel;
using quorvel::extensions::sherpa::SherpaTTSNode;
using test_kit::EventRecorder;
using test_kit::RecordedEvent;
using test_kit::Watchdog;

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
      : node_(node), format_(format), block_(format.channels, format.frames, format.rate) {
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
  // Blocks whose peak passed 0.01.
  long audibleBlocks() const { return audibleBlocks_.load(); }
  bool allBlocksOk() const { return allOk_.load(); }
  // Every sample so far finite and every channel a copy of the first.
  bool channelsAlwaysEqual() const { return channelsEqual_.load(); }
  bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Channel 0 of every block so far (Format::keepAudio).
  std::vector<float> audio() const {
    std::lock_guard<std::mutex> lock(audioMutex_);
    return audio_;
  }
  // Waits until `count` more blocks were rendered.
  void waitBlocks(long count) const {
    const long target = blocks() + count;
    while (blocks() < target && !stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  void run() {
    const auto period = std::chrono::microseconds(1000000LL * format_.frames / format_.rate / format_.speedup);
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      if (!node_.produce(block_.bus())) allOk_.store(false);
      if (block_.peak() > 0.01f) audibleBlocks_.fetch_add(1);
      if (!block_.finiteAndAlike()) channelsEqual_.store(false);
      if (format_.keepAudio) {
        std::lock_guard<std::mutex> lock(audioMutex_);
        audio_.insert(audio_.end(), block_.channel(0), block_.channel(0) + format_.frames);
      }
      blocks_.fetch_add(1);
      next += period;
      std::this_thread::sleep_until(next);
    }
  }

  SherpaTTSNode& node_;
  Format format_;
  test_kit::TestBlock block_;
  std::atomic<bool> stop_{false};
  std::atomic<long> blocks_{0};
  std::atomic<long> audibleBlocks_{0};
  std::atomic<bool> allOk_{true};
  std::atomic<bool> channelsEqual_{true};
  mutable std::mutex audioMutex_;
  std::vector<float> audio_;
  std::thread thread_;
};

}  // namespace render_thread
