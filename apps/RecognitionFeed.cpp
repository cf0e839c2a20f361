#include "RecognitionFeed.h"

#include <algorithm>
#include <cstring>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

namespace qs_cli {

RecognitionFeed::RecognitionFeed(quorvel::extensions::sherpa::SherpaSTTNode& node, int sampleRate,
                                 unsigned blockFrames)
    : node_(node), sampleRate_(sampleRate), block_(std::max(1u, blockFrames)) {}

void RecognitionFeed::deliver(const float* mono, std::size_t frames) {
  float* channel = block_.data();
  for (std::size_t offset = 0; offset < frames;) {
    const auto count = static_cast<unsigned>(std::min(frames - offset, block_.size()));
    if (mono != nullptr) {
      std::memcpy(channel, mono + offset, count * sizeof(float));
    } else {
      std::memset(channel, 0, count * sizeof(float));
    }
    quorvel::AudioBuffer<float> buffer(1, count, false, sampleRate_, &channel);
    quorvel::AudioBus bus(&buffer);
    if (!node_.consume(bus)) dropped_ += count;
    offset += count;
  }
  frames_ += frames;
}

}  // namespace qs_cli
