// Turn ends of SherpaSTTNode::Internals: the endpoint setting and decoding
// in segments.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>

#include <quorvel/AudioBuffer.h>
#include <quorvel/Logger.h>

#include "STTEngineInput.h"
#include "STTInternals.h"
#include "engine/EngineCall.h"

namespace quorvel::extensions::sherpa {

namespace {

// Longest trailing silence accepted; anything longer would never end a turn
// before the engine's own 20 s utterance limit.
constexpr float kMaxEndpointSilence = 60.0f;

// The engine is fed this much audio at a time and asked for an endpoint
// after each piece, so an endpoint is found within 100 ms of audio of where
// the engine sees it, also inside a long stretch of buffered audio.
constexpr unsigned int kChunksPerSecond = 10;

std::string seconds(float value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

}  // namespace

bool SherpaSTTNode::Internals::setEndpointDetection(bool enabled, float trailingSilenceSeconds) {
  if (!std::isfinite(trailingSilenceSeconds) || trailingSilenceSeconds <= 0.0f ||
      trailingSilenceSeconds > kMaxEndpointSilence) {
    Logger::error(kLogTag + " Endpoint silence must be more than 0 and at most 60 seconds, got " +
                  seconds(trailingSilenceSeconds));
    return false;
  }
  endpointsEnabled = enabled;
  endpointSilence = trailingSilenceSeconds;
  Logger::info(kLogTag + " Endpoint detection " + (enabled ? "on" : "off") + " from the next load" +
               (enabled ? " (trailing silence " + seconds(trailingSilenceSeconds) + " s)" : ""));
  return true;
}

SherpaSTTNode::SegmentResult SherpaSTTNode::Internals::processSegment() {
  if (recognizer == nullptr || stream == nullptr) {
    const unsigned int frames = inputBuffer->getAvailableFramesToConsume();
    // Kept, so that a model loaded later still decodes it.
    if (frames > 0) {
      Logger::warning(kLogTag + " No model loaded; keeping " + std::to_string(frames) + " buffered frames");
    }
    return SegmentResult{{}, false, segmentNumber, false};
  }
  const uint32_t rate = sampleRate.load();
  if (streamSampleRate != 0 && rate != streamSampleRate && !replaceStream(rate)) {
    return SegmentResult{{}, false, segmentNumber, false};
  }
  const unsigned int chunkFrames = std::max(1u, rate / kChunksPerSecond);
  if (chunk.size() < chunkFrames) chunk.resize(chunkFrames);

  while (const unsigned int buffered = inputBuffer->getAvailableFramesToConsume()) {
    bool ended = false;
    std::string endedText;
    if (!feedChunk(std::min(buffered, chunkFrames), rate, ended, endedText)) {
      return SegmentResult{{}, false, segmentNumber, false};
    }
    // A stretch of silence with nothing decoded also ends in an endpoint;
    // it is no turn, so it passes unseen and decoding goes on.
    if (ended && !endedText.empty()) return endSegment(std::move(endedText));
  }
  bool failed = true;
  std::string text = engineCall(kLogTag, "reading the result", [&]() -> std::string {
    ResultRelease result{SherpaOnnxGetOnlineStreamResult(recognizer, stream)};
    failed = false;
    return result.text();
  });
  if (failed) return SegmentResult{{}, false, segmentNumber, false};
  return continueSegment(std::move(text));
}

bool SherpaSTTNode::Internals::feedChunk(unsigned int frames, uint32_t rate, bool& ended, std::string& endedText) {
  float* channel = chunk.data();
  AudioBuffer<float> buffer(1, frames, false, static_cast<int>(rate), &channel);
  inputBuffer->consume(buffer, frames);
  guardSamples(channel, frames);
  // Recorded before the call: once the engine has seen any audio, the
  // stream's rate is fixed.
  streamSampleRate = rate;
  return engineCall(kLogTag, "decoding", [&] {
    SherpaOnnxOnlineStreamAcceptWaveform(stream, static_cast<int32_t>(rate), channel, static_cast<int32_t>(frames));
    while (SherpaOnnxIsOnlineStreamReady(recognizer, stream) != 0) {
      SherpaOnnxDecodeOnlineStream(recognizer, stream);
    }
    if (SherpaOnnxOnlineStreamIsEndpoint(recognizer, stream) == 0) return;
    // Taken before the reset, which clears the segment's text.
    ResultRelease result{SherpaOnnxGetOnlineStreamResult(recognizer, stream)};
    endedText = result.text();
    SherpaOnnxOnlineStreamReset(recognizer, stream);
    ended = true;
  });
}

SherpaSTTNode::SegmentResult SherpaSTTNode::Internals::endSegment(std::string text) {
  const bool grew = text != segmentText;
  SegmentResult result{std::move(text), true, segmentNumber, grew};
  ++segmentNumber;
  segmentText.clear();
  return result;
}

SherpaSTTNode::SegmentResult SherpaSTTNode::Internals::continueSegment(std::string text) {
  const bool grew = !text.empty() && text != segmentText;
  segmentText = text;
  return SegmentResult{std::move(text), false, segmentNumber, grew};
}

void SherpaSTTNode::Internals::startSegmentOnNewStream() {
  if (segmentText.empty()) return;
  ++segmentNumber;
  segmentText.clear();
}

}  // namespace quorvel::extensions::sherpa
