// A non-owning view of non-interleaved audio: one caller-owned array per
// channel, all of the same frame count, with the rate they run at.
//
// The constructor's flag `clearOnWrap` zeroes the wrapped arrays at once
// when true; false leaves their contents as they are.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstring>

namespace quorvel {

template <typename T>
class AudioBuffer {
 public:
  static constexpr unsigned kMaxChannels = 16;

  AudioBuffer() = default;
  AudioBuffer(unsigned numberOfChannels, unsigned numberOfFrames, bool clearOnWrap, int sampleRate,
              T* const* channelPointers)
      : channels_(std::min(numberOfChannels, kMaxChannels)),
        frames_(numberOfFrames),
        sampleRate_(sampleRate) {
    for (unsigned c = 0; c < channels_; ++c) data_[c] = channelPointers[c];
    if (clearOnWrap) clear();
  }

  unsigned getNumberOfChannels() const { return channels_; }
  unsigned getNumberOfFrames() const { return frames_; }
  int getSampleRate() const { return sampleRate_; }
  void setSampleRate(int rate) { sampleRate_ = rate; }

  const T* getReadPointer(unsigned channel) const { return channel < channels_ ? data_[channel] : nullptr; }
  T* getWritePointer(unsigned channel) { return channel < channels_ ? data_[channel] : nullptr; }
  T* const* getChannelPointers() { return data_; }

  // A buffer of no frames may carry null channel pointers: nothing to touch.
  void clear() {
    if (frames_ == 0) return;
    for (unsigned c = 0; c < channels_; ++c) std::memset(data_[c], 0, sizeof(T) * frames_);
  }

 private:
  unsigned channels_ = 0;
  unsigned frames_ = 0;
  int sampleRate_ = 0;
  T* data_[kMaxChannels] = {};
};

}  // namespace quorvel
