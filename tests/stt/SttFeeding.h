// Hands 16000 Hz mono samples to a recognition node as the audio thread
// would: in 10 ms blocks.
#pragma once

#include <algorithm>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "stt/SherpaSTTNode.h"

namespace stt_test {

// False when the node dropped a block.
inline bool consumeInBlocks(quorvel::extensions::sherpa::SherpaSTTNode& node, std::vector<float> samples) {
  for (size_t i = 0; i < samples.size(); i += 160) {
    float* start = samples.data() + i;
    quorvel::AudioBuffer<float> buffer(1, static_cast<unsigned>(std::min<size_t>(160, samples.size() - i)), false,
                                       16000, &start);
    quorvel::AudioBus bus(&buffer);
    if (!node.consume(bus)) return false;
  }
  return true;
}

}  // namespace stt_test
