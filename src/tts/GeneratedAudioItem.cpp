#include "GeneratedAudioItem.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quorvel::extensions::sherpa {

bool GeneratedAudioItem::append(const float* samples, int32_t n) noexcept {
  if (n <= 0) return true;
  if (n > kMaxSamples - appended_) return false;
  int32_t done = 0;
  while (done < n) {
    const int32_t at = appended_ + done;
    float*& chunk = chunks_[static_cast<size_t>(at / kChunkSamples)];
    if (chunk == nullptr) {
      chunk = new (std::nothrow) float[kChunkSamples];
      if (chunk == nullptr) return false;
    }
    const int32_t offset = at % kChunkSamples;
    const int32_t count = std::min(n - done, kChunkSamples - offset);
    std::copy(samples + done, samples + done + count, chunk + offset);
    done += count;
  }
  appended_ += n;
  readySamples.store(appended_);
  return true;
}

int32_t GeneratedAudioItem::readInto(float* destination, uint32_t frameCount, bool mix) noexcept {
  // Whether generation has ended is read before the count: once it has, the
  // count read after it is final.
  const bool ended = generationDone.load();
  const int32_t ready = readySamples.load();
  const int32_t position = readPosition.load();
  const int64_t available = static_cast<int64_t>(ready) - position;
  int32_t k = available <= static_cast<int64_t>(frameCount) ? static_cast<int32_t>(available)
                                                            : static_cast<int32_t>(frameCount);
  if (k < 0) k = 0;
  for (int32_t done = 0; done < k;) {
    const int32_t at = position + done;
    const float* __restrict source = chunks_[static_cast<size_t>(at / kChunkSamples)] + at % kChunkSamples;
    const int32_t count = std::min(k - done, kChunkSamples - at % kChunkSamples);
    float* __restrict out = destination + done;
    if (mix) {
      for (int32_t i = 0; i < count; ++i) out[i] += source[i];
    } else {
      std::memcpy(out, source, sizeof(float) * static_cast<size_t>(count));
    }
    done += count;
  }
  readPosition.fetch_add(k);
  if (ended && readPosition.load() >= ready) complete.store(true);
  return k;
}

}  // namespace quorvel::extensions::sherpa
