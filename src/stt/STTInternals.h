// The whole state of SherpaSTTNode and the operations the node forwards to.
// Private to src/stt (and its tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/AudioBus.h>
#include <quorvel/AudioRingBuffer.h>

#include "SherpaSTTNode.h"
#include "engine/SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// Hidden explicitly: the node class is exported, and its nested classes
// would otherwise be exported with it.
class __attribute__((visibility("hidden"))) SherpaSTTNode::Internals {
 public:
  // Every log line of the node begins with this.
  static inline const std::string kLogTag{"[SherpaSTTNode]"};

  static constexpr int kMinSampleRate = 8000;
  static constexpr int kMaxSampleRate = 192000;

  explicit Internals(unsigned int inputBufferCapacity);
  ~Internals();
  Internals(const Internals&) = delete;
  Internals& operator=(const Internals&) = delete;

  // Loading and teardown (STTLoading.cpp).
  bool loadSherpaModel(const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath);
  void cleanup();

  // Input format (STTFormat.cpp).
  bool setBusFormat(const AudioBusFormat& format);

  // Intake (audio thread) and decoding (STTDecoding.cpp).
  bool consume(AudioBus& bus);
  std::string processAudio();

  // Turn ends (STTSegments.cpp).
  bool setEndpointDetection(bool enabled, float trailingSilenceSeconds);
  SegmentResult processSegment();

  // Shared between threads: the intake switch and the input rate.
  std::atomic<bool> enabled{true};
  std::atomic<uint32_t> sampleRate{48000};
  // Audio thread only: the full-buffer warning has been logged and no block
  // has been taken since.
  bool overflowReported = false;
  // Single producer (consume), single consumer (processAudio).
  std::unique_ptr<AudioRingBuffer<float>> inputBuffer;
  uint32_t inputBufferCapacity;

  // Loaded state: the configuration last used and the engine handles, both
  // null when no model is loaded; stream is non-null only with recognizer.
  // config's path pointers refer to the strings of the loadSherpaModel call
  // that filled it and are read by that call's create only.
  SherpaOnnxOnlineRecognizerConfig config;
  const SherpaOnnxOnlineRecognizer* recognizer = nullptr;
  const SherpaOnnxOnlineStream* stream = nullptr;
  // Rate the current stream has been fed at, 0 before its first block. The
  // engine ends the process if a fed stream receives another rate.
  uint32_t streamSampleRate = 0;

  // Endpoint detection for the next load; control thread only.
  bool endpointsEnabled = false;
  float endpointSilence = kDefaultEndpointSilence;

  // processSegment's state: the current segment's number and the text last
  // returned for it, and the chunk it feeds the engine from.
  uint32_t segmentNumber = 0;
  std::string segmentText;
  std::vector<float> chunk;

 private:
  // The checks made before the engine sees the files; logs each problem.
  static bool filesUsable(const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath);
  // Creates `stream` for `recognizer`; logs and returns false on failure.
  bool createStream();
  bool replaceStream(uint32_t newRate);
  // A new stream has no text: an unfinished segment is over unseen.
  void startSegmentOnNewStream();
  // Feeds one chunk from the ring buffer and decodes it; sets `endedText`
  // when the engine reached an endpoint (and was reset). False when the
  // engine failed.
  bool feedChunk(unsigned frames, uint32_t rate, bool& ended, std::string& endedText);
  SegmentResult endSegment(std::string text);
  SegmentResult continueSegment(std::string text);
  std::string decodeBuffered(unsigned int frames, uint32_t rate);
};

}  // namespace quorvel::extensions::sherpa
