// The whole state of a SherpaTTSNode and the operations on it.
//
// Who touches what:
//  - Loaded voice (config, speakerId, tts, modelPath, tokensPath,
//    dataDirPath): only while holding engineMutex.
//  - Playback: generatedAudioItems is changed only while holding engineMutex,
//    and on control threads items are freed under streamingMutex as well
//    (isAudioPlaying reads an item under it). nextItem is stored by
//    synthesis, currentItem by the render step; both are read anywhere.
//    resampler is replaced only between two produce calls (see
//    ProduceExclusion), sampleRate only under formatMutex.
//  - streamingBuffer: under streamingMutex.
// Lock order: engineMutex, then formatMutex or streamingMutex. The audio
// thread only ever try-locks engineMutex, and takes streamingMutex only in
// the synthesis of buffered text after a segment has finished.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/AudioGraphResampler.h>

#include "GeneratedAudioItem.h"
#include "SherpaTTSNode.h"
#include "engine/SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

class SherpaTTSNode::Internals {
 public:
  // Resolves the default voice files of `language` and loads them.
  Internals(SherpaTTSNode* node, const std::string& language);
  ~Internals();
  Internals(const Internals&) = delete;
  Internals& operator=(const Internals&) = delete;

  // Loading and teardown (TTSLoading.cpp). Control thread.
  bool loadModel(const std::string& modelPath, const std::string& tokensPath, const std::string& dataPath);
  void cleanup();

  // Output format (TTSFormat.cpp). Configuration thread.
  void setSampleRate(int rate);

  // Synthesis (TTSSynthesis.cpp). Control thread; waits for a running one.
  void synthesize(const std::string& text);
  void releaseStaleAudio();
  static std::string cleanTextForSynthesis(const std::string& text);
  // The length of cleanTextForSynthesis(text), without building it.
  static size_t cleanedTextLength(const std::string& text);
  // The longest text spoken in one piece. The engine holds the whole audio of
  // a text at once: with the demonstration voice 64 KiB is about an hour of
  // speech and half a gigabyte while it is generated; 1 MB would be 8 GB.
  static constexpr size_t kMaxSynthesisTextBytes = 64 * 1024;

  // Streaming text (TTSStreaming.cpp).
  void appendStreamingText(const std::string& token, bool isFinal);
  void clearStreamingBuffer();
  void synthesizeBufferedText();  // audio thread, after "finished"
  bool isAudioPlaying();          // call with streamingMutex held

  // Playback (TTSPlayback.cpp). Audio thread.
  bool produce(AudioBus& bus);
  bool renderAudio(AudioBus& bus);
  static uint32_t renderItemToBuffer(GeneratedAudioItem* item, AudioBuffer<float>& buffer, bool mix);
  static void applyGainRamp(const float* source, float* destination, float startGain, float endGain,
                            uint32_t frameCount, uint32_t channelCount);
  void onPlaybackFinished();

  // ---- State, in the order the node's data model gives it. ----
  SherpaTTSNode* node;  // not owned; events are emitted through it
  // Loaded voice.
  SherpaOnnxOfflineTtsConfig config;  // zeroed and refilled at every load
  int32_t speakerId = 0;
  const SherpaOnnxOfflineTts* tts = nullptr;  // owned; null while no voice
  // Playback.
  std::vector<std::unique_ptr<GeneratedAudioItem>> generatedAudioItems;  // owns every item, oldest first
  std::atomic<GeneratedAudioItem*> nextItem{nullptr};     // newest published item
  std::atomic<GeneratedAudioItem*> currentItem{nullptr};  // item the render step plays
  std::unique_ptr<AudioGraphResampler> resampler;         // present when the graph is not at 16000 Hz
  int32_t sampleRate = 0;                                 // graph rate as last given; 0: none yet
  // Files of the loaded voice (config points at their characters).
  std::string modelPath;
  std::string tokensPath;
  std::string dataDirPath;
  // Streaming text.
  std::string streamingBuffer;
  std::mutex streamingMutex;
  // True while the next synthesis starts a new utterance (latency line).
  // Written by control and audio threads, hence atomic.
  std::atomic<bool> firstSynthesis{true};

  // ---- Coordination between the threads. ----
  // Serialises every use of the engine and every change of
  // generatedAudioItems: syntheses, loads and cleanup. Control threads lock
  // it; the audio thread only try-locks it.
  std::mutex engineMutex;
  // Serialises control-side changes of sampleRate and resampler.
  std::mutex formatMutex;
  // Produce calls currently inside produce, and requests to keep produce
  // out (while non-zero, produce renders silence and touches nothing else).
  std::atomic<int> produceInFlight{0};
  std::atomic<int> produceExclusions{0};
  // Incremented on entry to and exit from renderAudio: odd while the render
  // step runs. releaseStaleAudio waits for an odd value to pass.
  std::atomic<uint64_t> renderPasses{0};
  // Set when the synthesis of buffered text after "finished" found the
  // engine busy; the render step retries once nothing plays.
  std::atomic<bool> bufferedSynthesisPending{false};
  // True while a synthesis runs on the audio thread; guarded by engineMutex.
  bool synthesisOnAudioThread = false;

  // Keeps produce out for its lifetime: waits (on the calling control
  // thread) until no produce is inside, while new produce calls render
  // silence. Never used on the audio thread.
  class ProduceExclusion {
   public:
    explicit ProduceExclusion(Internals& internals);
    ~ProduceExclusion();
    ProduceExclusion(const ProduceExclusion&) = delete;
    ProduceExclusion& operator=(const ProduceExclusion&) = delete;

   private:
    Internals& internals_;
  };

 private:
  // The parts of the public operations that run with engineMutex held.
  void synthesizeHoldingEngine(const std::string& text);
  void synthesizeBufferedTextHoldingEngine();
  void cleanupHoldingEngine();
  void restoreConversion();
  // Runs the deferred synthesis that found the engine busy, once it is free.
  void retryBufferedSynthesis();
  std::unique_ptr<AudioGraphResampler> makeResampler();
  bool resamplerCallback(AudioBusList& inBuses, AudioBusList& outBuses);
};

}  // namespace quorvel::extensions::sherpa
