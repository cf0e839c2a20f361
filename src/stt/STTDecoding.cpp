// Audio intake and decoding of SherpaSTTNode::Internals.
#include <memory>
#include <new>

#include <quorvel/AudioBuffer.h>
#include <quorvel/Logger.h>

#include "STTEngineInput.h"
#include "STTInternals.h"
#include "buffer/AudioData.h"
#include "engine/EngineCall.h"

namespace quorvel::extensions::sherpa {

// Audio thread: no allocation, no lock and no log line except the first
// warning of a run of drops.
bool SherpaSTTNode::Internals::consume(AudioBus& bus) {
  if (!enabled.load()) return false;
  const AudioBuffer<float>* buffer = bus.getBuffer();
  if (buffer == nullptr) return false;
  const unsigned int freeFrames = inputBuffer->getAvailableFramesToProduce();
  const unsigned int frames = buffer->getNumberOfFrames();
  if (freeFrames < frames) {
    if (!overflowReported) Logger::warning(kLogTag + " Input buffer is full, dropping audio data.");
    overflowReported = true;
    return false;
  }
  // The ring has one channel: produce takes channel 0 and ignores the rest.
  inputBuffer->produce(*buffer, frames);
  overflowReported = false;
  return true;
}

std::string SherpaSTTNode::Internals::processAudio() {
  const unsigned int frames = inputBuffer->getAvailableFramesToConsume();
  if (frames == 0) return {};
  if (recognizer == nullptr || stream == nullptr) {
    // Kept, so that a model loaded later still decodes it.
    Logger::warning(kLogTag + " No model loaded; keeping " + std::to_string(frames) +
                    " buffered frames");
    return {};
  }
  const uint32_t rate = sampleRate.load();
  if (streamSampleRate != 0 && rate != streamSampleRate && !replaceStream(rate)) return {};
  return decodeBuffered(frames, rate);
}

// The engine ends the process when a stream that has been fed receives
// another rate, so a rate change starts a fresh stream (and a fresh text).
bool SherpaSTTNode::Internals::replaceStream(uint32_t newRate) {
  Logger::warning(kLogTag + " Sample rate changed from " + std::to_string(streamSampleRate) + " to " +
                  std::to_string(newRate) + " Hz, starting a new stream");
  SherpaOnnxDestroyOnlineStream(stream);
  stream = nullptr;
  if (createStream()) return true;
  // No stream without recognizer: drop both rather than keep half a model.
  cleanup();
  return false;
}

std::string SherpaSTTNode::Internals::decodeBuffered(unsigned int frames, uint32_t rate) {
  std::unique_ptr<AudioData<float>> audioDataToProcess;
  try {
    audioDataToProcess = std::make_unique<AudioData<float>>(1, frames);
  } catch (const std::bad_alloc&) {
    Logger::error(kLogTag + " Out of memory for " + std::to_string(frames) +
                  " frames; audio kept buffered");
    return {};
  }
  AudioBuffer<float> buffer(1, frames, false, static_cast<int>(rate), audioDataToProcess->getBuffers());
  inputBuffer->consume(buffer, frames);
  float* samples = buffer.getWritePointer(0);
  guardSamples(samples, frames);
  // Recorded before the call: once the engine has seen any audio, the
  // stream's rate is fixed.
  streamSampleRate = rate;
  return engineCall(kLogTag, "decoding", [&]() -> std::string {
    SherpaOnnxOnlineStreamAcceptWaveform(stream, static_cast<int32_t>(rate), buffer.getReadPointer(0),
                                         static_cast<int32_t>(frames));
    while (SherpaOnnxIsOnlineStreamReady(recognizer, stream) != 0) {
      SherpaOnnxDecodeOnlineStream(recognizer, stream);
    }
    ResultRelease result{SherpaOnnxGetOnlineStreamResult(recognizer, stream)};
    if (SherpaOnnxOnlineStreamIsEndpoint(recognizer, stream) != 0) {
      SherpaOnnxOnlineStreamReset(recognizer, stream);
    }
    return std::string(result.text());
  });
}

}  // namespace quorvel::extensions::sherpa
