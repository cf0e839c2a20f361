#include "quorvel/AudioRingBuffer.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

template <typename T>
AudioRingBuffer<T>::AudioRingBuffer(unsigned capacityFrames, unsigned numberOfChannels, bool allowPartial)
    : capacity_(capacityFrames), channels_(numberOfChannels), allowPartial_(allowPartial) {
  storage_.reserve(channels_);
  for (unsigned c = 0; c < channels_; ++c) {
    storage_.emplace_back(new T[std::max(capacity_, 1u)]());
  }
}

template <typename T>
AudioRingBuffer<T>::~AudioRingBuffer() = default;

// The producer owns writeCount_, the consumer readCount_; each reads the
// other's counter with acquire so the frames it guards are visible.
template <typename T>
unsigned AudioRingBuffer<T>::getAvailableFramesToProduce() const {
  uint64_t used = writeCount_.load(std::memory_order_relaxed) - readCount_.load(std::memory_order_acquire);
  return capacity_ - static_cast<unsigned>(used);
}

template <typename T>
unsigned AudioRingBuffer<T>::getAvailableFramesToConsume() const {
  return static_cast<unsigned>(writeCount_.load(std::memory_order_acquire) -
                               readCount_.load(std::memory_order_relaxed));
}

template <typename T>
unsigned AudioRingBuffer<T>::produce(const AudioBuffer<T>& source, unsigned frames) {
  frames = std::min(frames, source.getNumberOfFrames());
  unsigned space = getAvailableFramesToProduce();
  if (frames > space) {
    if (!allowPartial_) return 0;
    frames = space;
  }
  if (frames == 0) return 0;
  uint64_t write = writeCount_.load(std::memory_order_relaxed);
  unsigned start = static_cast<unsigned>(write % capacity_);
  unsigned first = std::min(frames, capacity_ - start);
  for (unsigned c = 0; c < channels_; ++c) {
    T* ring = storage_[c].get();
    const T* src = c < source.getNumberOfChannels() ? source.getReadPointer(c) : nullptr;
    if (src != nullptr) {
      std::memcpy(ring + start, src, sizeof(T) * first);
      std::memcpy(ring, src + first, sizeof(T) * (frames - first));
    } else {
      std::memset(ring + start, 0, sizeof(T) * first);
      std::memset(ring, 0, sizeof(T) * (frames - first));
    }
  }
  writeCount_.store(write + frames, std::memory_order_release);
  return frames;
}

template <typename T>
unsigned AudioRingBuffer<T>::consume(AudioBuffer<T>& destination, unsigned frames) {
  frames = std::min(frames, destination.getNumberOfFrames());
  unsigned available = getAvailableFramesToConsume();
  if (frames > available) {
    if (!allowPartial_) return 0;
    frames = available;
  }
  if (frames == 0) return 0;
  uint64_t read = readCount_.load(std::memory_order_relaxed);
  unsigned start = static_cast<unsigned>(read % capacity_);
  unsigned first = std::min(frames, capacity_ - start);
  unsigned channels = std::min(channels_, destination.getNumberOfChannels());
  for (unsigned c = 0; c < channels; ++c) {
    const T* ring = storage_[c].get();
    T* dst = destination.getWritePointer(c);
    std::memcpy(dst, ring + start, sizeof(T) * first);
    std::memcpy(dst + first, ring, sizeof(T) * (frames - first));
  }
  readCount_.store(read + frames, std::memory_order_release);
  return frames;
}

template class AudioRingBuffer<float>;

}  // namespace quorvel
