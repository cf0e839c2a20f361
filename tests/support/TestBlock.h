// One block of non-interleaved audio owned by a test, benchmark or fuzzer,
// with the buffer and bus a node is handed.
//
// The samples live in an AudioData<float> of the capacity given at
// construction; wrap() views the first `frames` of it at a rate, for code
// that varies the block size or rate from call to call.
#pragma once

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "buffer/AudioData.h"

namespace test_kit {

class TestBlock {
 public:
  // `fill` pre-fills every sample: a non-zero value shows a render that
  // forgets to write.
  TestBlock(unsigned channels, unsigned frames, int sampleRate = 16000, float fill = 0.0f)
      : data_(channels, frames), channels_(channels) {
    wrap(frames, sampleRate);
    this->fill(fill);
  }
  TestBlock(const TestBlock&) = delete;
  TestBlock& operator=(const TestBlock&) = delete;

  // Views the first `frames` frames (at most the capacity) at `sampleRate`.
  quorvel::AudioBus& wrap(unsigned frames, int sampleRate) {
    buffer_ = quorvel::AudioBuffer<float>(channels_, std::min(frames, data_.getMaxNumberOfFrames()), false,
                                          sampleRate, data_.getBuffers());
    bus_.setBuffer(&buffer_);
    return bus_;
  }
  quorvel::AudioBus& wrap(unsigned frames) { return wrap(frames, sampleRate()); }

  quorvel::AudioBus& bus() { return bus_; }
  quorvel::AudioBuffer<float>& buffer() { return buffer_; }
  unsigned channels() const { return channels_; }
  unsigned frames() const { return buffer_.getNumberOfFrames(); }
  unsigned capacity() const { return data_.getMaxNumberOfFrames(); }
  int sampleRate() const { return buffer_.getSampleRate(); }

  float* channel(unsigned c) { return data_.getBuffers()[c]; }
  const float* channel(unsigned c) const { return data_.getBuffers()[c]; }
  float at(unsigned c, unsigned i) const { return channel(c)[i]; }
  // The wrapped frames of channel `c`.
  std::vector<float> samples(unsigned c = 0) const { return {channel(c), channel(c) + frames()}; }

  // Sets every sample of the whole capacity.
  void fill(float value) { std::fill(data_.getData(), data_.getData() + channels_ * capacity(), value); }
  // Channel c, frame i = base + i + 1000 * c: every sample tells where it came from.
  void fillCounter(float base) {
    for (unsigned c = 0; c < channels_; ++c)
      for (unsigned i = 0; i < capacity(); ++i) channel(c)[i] = base + static_cast<float>(i + 1000 * c);
  }

  bool silent() const { return peak() == 0.0f; }
  float peak() const {
    float p = 0.0f;
    for (unsigned c = 0; c < channels_; ++c)
      for (unsigned i = 0; i < frames(); ++i) p = std::max(p, std::fabs(at(c, i)));
    return p;
  }
  // Every sample finite and every channel a copy of the first.
  bool finiteAndAlike() const {
    for (unsigned c = 0; c < channels_; ++c)
      for (unsigned i = 0; i < frames(); ++i)
        if (!std::isfinite(at(c, i)) || at(c, i) != at(0, i)) return false;
    return true;
  }

 private:
  quorvel::extensions::sherpa::AudioData<float> data_;
  unsigned channels_;
  quorvel::AudioBuffer<float> buffer_;
  quorvel::AudioBus bus_;
};

}  // namespace test_kit
