#include "STTEngineInput.h"

#include <cmath>
#include <string>

#include <quorvel/Logger.h>

#include "STTInternals.h"

namespace quorvel::extensions::sherpa {

namespace {

// A single NaN or infinity freezes the engine's graph decoder for the rest
// of the stream, and so does a finite sample large enough for the features
// to overflow (1e20 does: a frame's power grows with the square of its
// samples). Non-finite samples are silenced and the others clamped to a
// bound whose features stay finite by far. It only guards the engine; it
// is no full-scale clip, so audio at any sensible scale passes unchanged.
constexpr float kMaxSampleMagnitude = 1e9f;

}  // namespace

void guardSamples(float* samples, unsigned int frames) {
  unsigned int silenced = 0;
  unsigned int clamped = 0;
  for (unsigned int i = 0; i < frames; ++i) {
    if (!std::isfinite(samples[i])) {
      samples[i] = 0.0f;
      ++silenced;
    } else if (std::abs(samples[i]) > kMaxSampleMagnitude) {
      samples[i] = std::copysign(kMaxSampleMagnitude, samples[i]);
      ++clamped;
    }
  }
  const std::string& tag = SherpaSTTNode::Internals::kLogTag;
  if (silenced > 0) Logger::warning(tag + " Replaced " + std::to_string(silenced) + " non-finite samples with 0");
  if (clamped > 0) Logger::warning(tag + " Clamped " + std::to_string(clamped) + " samples beyond +/-1e9");
}

}  // namespace quorvel::extensions::sherpa
