// Buses, bus lists and bus formats of the audio graph.
//
// An AudioBus refers to one AudioBuffer<float> that the graph owns; it owns
// nothing. An AudioBusList is any indexed set of buses; AudioBusArray<N> is
// the fixed-size list that nodes build on the stack.
#pragma once

#include <array>
#include <vector>

#include "AudioBuffer.h"

namespace quorvel {

struct AudioBusFormat {
  int sampleRate = 0;
  unsigned numberOfChannels = 0;
};

using AudioBusFormatList = std::vector<AudioBusFormat>;

class AudioBus {
 public:
  AudioBus() = default;
  explicit AudioBus(AudioBuffer<float>* buffer) : buffer_(buffer) {}

  AudioBuffer<float>* getBuffer() const { return buffer_; }
  void setBuffer(AudioBuffer<float>* buffer) { buffer_ = buffer; }
  // Zeroes every sample of the buffer; a bus without buffer is left alone.
  void clear() {
    if (buffer_ != nullptr) buffer_->clear();
  }

 private:
  AudioBuffer<float>* buffer_ = nullptr;
};

class AudioBusList {
 public:
  virtual ~AudioBusList() = default;
  virtual unsigned getNumberOfBuses() const = 0;
  // The bus at `index`; nullptr past the end.
  virtual AudioBus* getBus(unsigned index) = 0;
};

template <unsigned N>
class AudioBusArray final : public AudioBusList {
 public:
  unsigned getNumberOfBuses() const override { return N; }
  AudioBus* getBus(unsigned index) override {
    if constexpr (N == 0) {
      (void)index;
      return nullptr;
    } else {
      return index < N ? &buses_[index] : nullptr;
    }
  }

 private:
  std::array<AudioBus, N> buses_{};
};

}  // namespace quorvel
