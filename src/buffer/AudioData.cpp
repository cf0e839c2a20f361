#include "AudioData.h"

#include <cassert>
#include <cstddef>
#include <memory>

namespace quorvel::extensions::sherpa {

template <typename T>
AudioData<T>::AudioData(unsigned int maxNumberOfChannels, unsigned int maxNumberOfFrames)
    : maxNumberOfChannels(maxNumberOfChannels), maxNumberOfFrames(maxNumberOfFrames), data(nullptr), channels(nullptr) {
  assert(maxNumberOfChannels > 0);
  assert(maxNumberOfFrames > 0);
  const std::size_t samples = static_cast<std::size_t>(maxNumberOfChannels) * maxNumberOfFrames;
  // unique_ptr frees the block if the pointer array cannot be allocated.
  std::unique_ptr<T[]> block(new T[samples]());
  channels = new T*[maxNumberOfChannels];
  data = block.release();
  for (uint32_t c = 0; c < maxNumberOfChannels; ++c) {
    channels[c] = data + static_cast<std::size_t>(c) * maxNumberOfFrames;
  }
}

template <typename T>
AudioData<T>::~AudioData() {
  delete[] data;
  delete[] channels;
}

template class AudioData<int16_t>;
template class AudioData<int32_t>;
template class AudioData<float>;

}  // namespace quorvel::extensions::sherpa
