// Control surface of the engine test double.
//
// The double implements the engine's C functions deterministically: a voice
// returns `samplesPerText` samples (or, when `samplesPerChar` > 0, that many
// per byte of text) with sample i valued `sampleValue(i)`, a recognizer
// returns `recognizedText`. Tests set the knobs, reset() restores them, and
// the counters show how the code under test used the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/SherpaOnnxCApi.h"

namespace fake_engine {

struct Knobs {
  // What SherpaOnnxGetVersionStr reports.
  std::string version = "1.13.4";
  // Text-to-speech.
  bool createTtsFails = false;
  bool createTtsThrows = false;
  bool generateReturnsNull = false;
  bool generateThrows = false;
  int32_t samplesPerText = 1000;
  int32_t samplesPerChar = 0;
  // With the callback form: samples handed over per callback, as the engine
  // hands over one sentence at a time (0: all in one callback). A callback
  // that answers 0 ends the generation; the result holds what was made.
  int32_t samplesPerCallback = 0;
  // Called before each callback with the samples made so far (on the
  // generating thread), so a test can act between two sentences.
  std::function<void(int32_t)> beforeCallback;
  int generateDelayMicros = 0;
  // Called at the start of every generation with its text (on the caller's thread).
  std::function<void(const std::string&)> onGenerate;
  // Recognition.
  bool createRecognizerFails = false;
  bool createRecognizerThrows = false;
  bool createStreamFails = false;
  bool createStreamThrows = false;
  bool acceptThrows = false;
  bool decodeThrows = false;
  bool getResultThrows = false;
  bool reportEndpoint = false;
  std::string recognizedText = "hello world";
};

struct Calls {
  std::atomic<int> createTts{0};
  std::atomic<int> destroyTts{0};
  std::atomic<int> generate{0};
  std::atomic<int> destroyAudio{0};
  std::atomic<int> generateInFlight{0};
  std::atomic<int> maxGenerateInFlight{0};
  std::atomic<int> createRecognizer{0};
  std::atomic<int> destroyRecognizer{0};
  std::atomic<int> createStream{0};
  std::atomic<int> destroyStream{0};
  std::atomic<int> acceptWaveform{0};
  std::atomic<int> decode{0};
  std::atomic<int> getResult{0};
  std::atomic<int> destroyResult{0};
  std::atomic<int> reset{0};
  std::atomic<int64_t> samplesAccepted{0};
};

Knobs& knobs();
Calls& calls();
void reset();

// Value of sample i of every generated item: distinct, non-zero, in [-1, 1].
inline float sampleValue(int32_t i) { return 0.25f + static_cast<float>(i % 1000) / 2000.0f; }

// While held, generation calls wait after recording their text and before
// reading any knob, so a test can act while one is in flight.
void holdGeneration(bool held);

// Copies of what the engine was last handed (guarded by a mutex inside).
SherpaOnnxOfflineTtsConfig lastTtsConfig();
std::string lastTtsModelPath();
SherpaOnnxOnlineRecognizerConfig lastRecognizerConfig();
// The model, tokens and graph strings of the last recognizer config, copied
// at the create call (the record's pointers may not outlive that call).
struct RecognizerPaths {
  std::string model;
  std::string tokens;
  std::string graph;
};
RecognizerPaths lastRecognizerPaths();
std::vector<std::string> generatedTexts();
// The speaker id and speed of each generation, in order.
struct GenerationSettings {
  int32_t speakerId;
  float speed;
  bool operator==(const GenerationSettings&) const = default;
};
std::vector<GenerationSettings> generationSettings();
std::vector<int32_t> acceptedSampleRates();
// The samples handed to accept-waveform, in order, since reset().
std::vector<float> acceptedSamples();

}  // namespace fake_engine
