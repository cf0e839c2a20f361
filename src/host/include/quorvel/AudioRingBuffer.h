// A wait-free single-producer single-consumer FIFO of audio frames.
//
// One thread may call produce while another calls consume; neither locks or
// allocates after construction. Capacity is in frames; storage is one array
// per channel. produce copies from a buffer's channels (channels beyond the
// ring's are ignored, missing ones are written as silence); consume copies
// into a buffer's channels (extra buffer channels are left untouched).
//
// The constructor's flag `allowPartial`: false means a produce or consume
// asking for more frames than available moves nothing and returns 0; true
// means it moves as many as it can. Both return the frames moved.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "AudioBuffer.h"

namespace quorvel {

template <typename T>
class AudioRingBuffer {
 public:
  AudioRingBuffer(unsigned capacityFrames, unsigned numberOfChannels, bool allowPartial);
  ~AudioRingBuffer();
  AudioRingBuffer(const AudioRingBuffer&) = delete;
  AudioRingBuffer& operator=(const AudioRingBuffer&) = delete;

  unsigned getCapacity() const { return capacity_; }
  unsigned getNumberOfChannels() const { return channels_; }
  // Free space, as seen by the producer.
  unsigned getAvailableFramesToProduce() const;
  // Buffered frames, as seen by the consumer.
  unsigned getAvailableFramesToConsume() const;

  unsigned produce(const AudioBuffer<T>& source, unsigned frames);
  unsigned consume(AudioBuffer<T>& destination, unsigned frames);

 private:
  unsigned capacity_;
  unsigned channels_;
  bool allowPartial_;
  std::vector<std::unique_ptr<T[]>> storage_;
  // Monotonic frame counters; the difference is the fill level.
  alignas(64) std::atomic<uint64_t> writeCount_{0};
  alignas(64) std::atomic<uint64_t> readCount_{0};
};

extern template class AudioRingBuffer<float>;

}  // namespace quorvel
