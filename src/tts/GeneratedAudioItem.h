// One synthesised segment, which can play while it is still being
// generated: the synthesising thread appends each sentence's samples as the
// engine hands them over, and the audio thread plays the samples that are
// ready, at its own play position.
//
// Storage grows in fixed chunks whose addresses never change, so appending
// never moves what the audio thread reads. The generator writes samples
// (and a chunk's address) before it publishes them by storing the count of
// ready samples; the audio thread loads that count before it reads them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include <quorvel/QVAny.h>

#include "SpokenWords.h"

namespace quorvel::extensions::sherpa {

struct GeneratedAudioItem {
  static constexpr int32_t kChunkSamples = 1 << 14;  // 1 s at 16000 Hz, below the allocator's mmap size
  static constexpr int32_t kMaxChunks = 4096;        // 70 min: beyond the longest text the node speaks
  static constexpr int32_t kMaxSamples = kChunkSamples * kMaxChunks;

  GeneratedAudioItem() noexcept { liveItems.fetch_add(1); }
  ~GeneratedAudioItem() {
    for (float* chunk : chunks_) delete[] chunk;
    liveItems.fetch_sub(1);
  }
  GeneratedAudioItem(const GeneratedAudioItem&) = delete;
  GeneratedAudioItem& operator=(const GeneratedAudioItem&) = delete;

  // Generator only. Copies `n` samples after those appended so far and makes
  // them ready; false (nothing of them ready) when memory or capacity runs
  // out.
  bool append(const float* samples, int32_t n) noexcept;
  // Generator only: no samples follow.
  void finishGeneration() noexcept { generationDone.store(true); }

  // Audio thread. Copies (mix false) or adds (mix true) the next ready
  // samples onto destination[0 .. k-1], k = min(ready samples left,
  // frameCount); advances the play position and marks the item complete once
  // generation has ended and every sample has played. Returns k.
  int32_t readInto(float* destination, uint32_t frameCount, bool mix) noexcept;

  int32_t samplesReady() const noexcept { return readySamples.load(); }
  // Sample i < samplesReady(), for inspection.
  float sample(int32_t i) const noexcept { return chunks_[static_cast<size_t>(i / kChunkSamples)][i % kChunkSamples]; }

  // Order of the synthesis that made it (set before the item is published):
  // "stop" and a cut-in drop what began before them.
  uint64_t sequence = 0;
  // Scratch of the release scan; touched only while the engine is held.
  bool releasable = false;
  // A piece prepared ahead is announced when the render step takes it up,
  // with this payload (built beforehand, so the audio thread allocates
  // nothing for it). Set before the item is published.
  bool announceAtTakeUp = false;
  QVAny startedPayload;
  // Its words and where they end, for the "spoken" events (set up before
  // the item is published).
  SpokenWords words;
  // A streamed piece: where its text starts in the answer's text (see
  // Internals::answerText). Set before the item is published.
  bool streamed = false;
  uint64_t answerOffset = 0;
  std::atomic<int32_t> readySamples{0};
  std::atomic<bool> generationDone{false};
  std::atomic<int32_t> readPosition{0};
  std::atomic<bool> complete{false};

  // Items in existence, for leak checks.
  static inline std::atomic<long> liveItems{0};

 private:
  std::array<float*, kMaxChunks> chunks_{};
  int32_t appended_ = 0;  // generator only
};

}  // namespace quorvel::extensions::sherpa
