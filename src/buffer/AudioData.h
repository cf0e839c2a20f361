// An owning block of non-interleaved samples.
//
// AudioData<T> allocates maxNumberOfChannels x maxNumberOfFrames samples in
// one zero-filled block, channel after channel, plus one pointer per channel
// into it. getBuffers() hands out those pointers in the form AudioBuffer<T>
// wraps. The block is owned and freed by the AudioData; it cannot be copied.
// Allocation failure raises std::bad_alloc from the constructor, so callers
// that must not throw construct it inside a try block.
#pragma once

#include <cstdint>

namespace quorvel::extensions::sherpa {

template <typename T>
class AudioData {
 public:
  // Both counts must be greater than zero (checked by assertions).
  AudioData(unsigned int maxNumberOfChannels, unsigned int maxNumberOfFrames);
  ~AudioData();
  AudioData(const AudioData&) = delete;
  AudioData& operator=(const AudioData&) = delete;

  uint32_t getMaxNumberOfChannels() const { return maxNumberOfChannels; }
  uint32_t getMaxNumberOfFrames() const { return maxNumberOfFrames; }
  // The contiguous sample block; channel i starts at i * maxNumberOfFrames.
  T* getData() const { return data; }
  // One pointer per channel into the sample block.
  T** getBuffers() const { return channels; }

 private:
  uint32_t maxNumberOfChannels;
  uint32_t maxNumberOfFrames;
  T* data;
  T** channels;
};

extern template class AudioData<int16_t>;
extern template class AudioData<int32_t>;
extern template class AudioData<float>;

}  // namespace quorvel::extensions::sherpa
