// The input format the recognizer accepts: one channel at a usable rate.
#include <string>

#include <quorvel/Logger.h>

#include "STTInternals.h"

namespace quorvel::extensions::sherpa {

bool SherpaSTTNode::Internals::setBusFormat(const AudioBusFormat& format) {
  // The engine faults on a zero rate and exhausts memory on tiny ones, so an
  // unusable rate is refused before it is stored.
  if (format.sampleRate < kMinSampleRate || format.sampleRate > kMaxSampleRate) {
    Logger::error(kLogTag + " Unsupported sample rate: " + std::to_string(format.sampleRate) + " Hz (" +
                  std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) + " supported).");
    return false;
  }
  sampleRate.store(static_cast<uint32_t>(format.sampleRate));
  if (format.numberOfChannels == 1) return true;
  Logger::error(kLogTag + " Number of channels must be 1.");
  return false;
}

}  // namespace quorvel::extensions::sherpa
