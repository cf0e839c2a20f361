// One synthesised segment: the engine's result, read in place, with the play
// position the audio thread advances.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

struct GeneratedAudioItem {
  // Takes ownership of `result` (not null).
  explicit GeneratedAudioItem(const SherpaOnnxGeneratedAudio* result) noexcept : audio(result) {}
  ~GeneratedAudioItem() { SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio); }
  GeneratedAudioItem(const GeneratedAudioItem&) = delete;
  GeneratedAudioItem& operator=(const GeneratedAudioItem&) = delete;

  // Copies (mix false) or adds (mix true) the next samples onto
  // destination[0 .. k-1], k = min(samples left, frameCount); advances the
  // play position and marks the item complete once it reaches the end.
  // Audio thread only. Returns k.
  int32_t readInto(float* destination, uint32_t frameCount, bool mix) noexcept {
    const int32_t n = audio->n;
    const int32_t position = readPosition.load();
    const int64_t remaining = static_cast<int64_t>(n) - position;
    int32_t k = remaining <= static_cast<int64_t>(frameCount) ? static_cast<int32_t>(remaining)
                                                              : static_cast<int32_t>(frameCount);
    if (k < 0) k = 0;
    const float* source = audio->samples + position;
    if (mix) {
      for (int32_t i = 0; i < k; ++i) destination[i] += source[i];
    } else {
      for (int32_t i = 0; i < k; ++i) destination[i] = source[i];
    }
    readPosition.fetch_add(k);
    if (readPosition.load() >= n) complete.store(true);
    return k;
  }

  const SherpaOnnxGeneratedAudio* audio;
  // Order of the synthesis that made it (set before the item is published):
  // "stop" and a cut-in drop what began before them.
  uint64_t sequence = 0;
  // Scratch of the release scan; touched only while the engine is held.
  bool releasable = false;
  std::atomic<int32_t> readPosition{0};
  std::atomic<bool> complete{false};
};

}  // namespace quorvel::extensions::sherpa
