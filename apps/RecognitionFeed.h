// Feeds a recognition node from an input device's callback: the audio
// thread's side of `listen`. Each piece the device delivers goes to the
// node's consume in blocks of the device's block size; the callback copies
// into a block allocated up front, so it allocates nothing and takes no lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "stt/SherpaSTTNode.h"

namespace qs_cli {

class RecognitionFeed {
 public:
  RecognitionFeed(quorvel::extensions::sherpa::SherpaSTTNode& node, int sampleRate, unsigned blockFrames);

  // Audio thread: mono samples, or null for a gap of that many frames of
  // silence.
  void deliver(const float* mono, std::size_t frames);

  // Seconds of input delivered so far; safe from any thread.
  double seconds() const { return static_cast<double>(frames_.load()) / sampleRate_; }
  // Frames the node refused (its buffer was full).
  uint64_t droppedFrames() const { return dropped_.load(); }

 private:
  quorvel::extensions::sherpa::SherpaSTTNode& node_;
  int sampleRate_;
  std::vector<float> block_;
  std::atomic<uint64_t> frames_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace qs_cli
