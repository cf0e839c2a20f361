// What both decoding paths of the node share at the engine's edge: samples
// made safe to hand over, and result records released on every path.
// Private to src/stt.
#pragma once

#include "engine/SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// Silences non-finite samples and clamps huge ones in place, logging a
// warning for each kind found.
void guardSamples(float* samples, unsigned int frames);

// Releases a result record when it goes out of scope.
struct ResultRelease {
  explicit ResultRelease(const SherpaOnnxOnlineRecognizerResult* record) : result(record) {}
  ~ResultRelease() {
    if (result != nullptr) SherpaOnnxDestroyOnlineRecognizerResult(result);
  }
  ResultRelease(const ResultRelease&) = delete;
  ResultRelease& operator=(const ResultRelease&) = delete;
  const SherpaOnnxOnlineRecognizerResult* result;
  const char* text() const { return result != nullptr && result->text != nullptr ? result->text : ""; }
};

}  // namespace quorvel::extensions::sherpa
