// The engine's C functions, implemented deterministically for tests.
#include "FakeEngine.h"

#include <algorithm>
#include <memory>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace fake_engine {
namespace {

struct State {
  Knobs knobs;
  Calls calls;
  std::mutex mutex;
  SherpaOnnxOfflineTtsConfig ttsConfig{};
  std::string ttsModelPath;
  SherpaOnnxOnlineRecognizerConfig recognizerConfig{};
  RecognizerPaths recognizerPaths;
  std::vector<std::string> texts;
  std::vector<GenerationSettings> settings;
  std::vector<int32_t> rates;
  std::vector<float> samples;
  std::atomic<bool> generationHeld{false};
};

State& state() {
  static State s;
  return s;
}

struct FakeTts {
  int magic = 0x7775;
};
struct FakeRecognizer {
  int magic = 0x5245;
};
struct FakeStream {
  const FakeRecognizer* recognizer;
};

}  // namespace

Knobs& knobs() { return state().knobs; }
Calls& calls() { return state().calls; }

void reset() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.knobs = Knobs();
  Calls& c = s.calls;
  for (auto* counter : {&c.createTts, &c.destroyTts, &c.generate, &c.destroyAudio, &c.generateInFlight,
                        &c.maxGenerateInFlight, &c.createRecognizer, &c.destroyRecognizer, &c.createStream,
                        &c.destroyStream, &c.acceptWaveform, &c.decode, &c.getResult, &c.destroyResult,
                        &c.reset}) {
    counter->store(0);
  }
  c.samplesAccepted.store(0);
  s.ttsConfig = {};
  s.ttsModelPath.clear();
  s.recognizerConfig = {};
  s.recognizerPaths = {};
  s.texts.clear();
  s.settings.clear();
  s.rates.clear();
  s.samples.clear();
  s.generationHeld.store(false);
}

void holdGeneration(bool held) { state().generationHeld.store(held); }

SherpaOnnxOfflineTtsConfig lastTtsConfig() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().ttsConfig;
}
std::string lastTtsModelPath() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().ttsModelPath;
}
SherpaOnnxOnlineRecognizerConfig lastRecognizerConfig() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().recognizerConfig;
}
RecognizerPaths lastRecognizerPaths() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().recognizerPaths;
}
std::vector<std::string> generatedTexts() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().texts;
}
std::vector<GenerationSettings> generationSettings() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().settings;
}
std::vector<int32_t> acceptedSampleRates() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().rates;
}
std::vector<float> acceptedSamples() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().samples;
}

}  // namespace fake_engine

using namespace fake_engine;

extern "C" {

const char* SherpaOnnxGetVersionStr() { return state().knobs.version.c_str(); }
const char* SherpaOnnxGetGitSha1() { return "fake"; }

const SherpaOnnxOfflineTts* SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig* config) {
  State& s = state();
  s.calls.createTts++;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.ttsConfig = *config;
    s.ttsModelPath = config->model.vits.model != nullptr ? config->model.vits.model : "";
  }
  if (s.knobs.createTtsThrows) throw std::runtime_error("fake engine: corrupt model");
  if (s.knobs.createTtsFails) return nullptr;
  return reinterpret_cast<const SherpaOnnxOfflineTts*>(new FakeTts());
}

void SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts* tts) {
  state().calls.destroyTts++;
  delete reinterpret_cast<const FakeTts*>(tts);
}

int32_t SherpaOnnxOfflineTtsSampleRate(const SherpaOnnxOfflineTts*) { return 16000; }

namespace {

const SherpaOnnxGeneratedAudio* generate(const char* text, int32_t sid, float speed,
                                         SherpaOnnxGeneratedAudioCallbackWithArg callback, void* arg) {
  State& s = state();
  s.calls.generate++;
  int inFlight = ++s.calls.generateInFlight;
  int seen = s.calls.maxGenerateInFlight.load();
  while (inFlight > seen && !s.calls.maxGenerateInFlight.compare_exchange_weak(seen, inFlight)) {
  }
  struct Leave {
    ~Leave() { state().calls.generateInFlight--; }
  } leave;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.texts.emplace_back(text != nullptr ? text : "");
    s.settings.push_back({sid, speed});
  }
  if (s.knobs.onGenerate) s.knobs.onGenerate(text != nullptr ? text : "");
  while (s.generationHeld.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  if (s.knobs.generateDelayMicros > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(s.knobs.generateDelayMicros));
  }
  if (s.knobs.generateThrows) throw std::runtime_error("fake engine: generation failed");
  if (s.knobs.generateReturnsNull) return nullptr;
  int32_t n = s.knobs.samplesPerChar > 0
                  ? s.knobs.samplesPerChar * static_cast<int32_t>(std::strlen(text != nullptr ? text : ""))
                  : s.knobs.samplesPerText;
  // Owned here until returned: a callback (or the knob before it) may throw.
  std::unique_ptr<float[]> owned(new float[n > 0 ? n : 1]);
  float* samples = owned.get();
  for (int32_t i = 0; i < n; ++i) samples[i] = sampleValue(i);
  if (callback != nullptr) {
    const int32_t step = s.knobs.samplesPerCallback > 0 ? s.knobs.samplesPerCallback : n;
    for (int32_t made = 0; made < n;) {
      const int32_t count = std::min(step, n - made);
      if (s.knobs.beforeCallback) s.knobs.beforeCallback(made);
      made += count;
      if (callback(samples + made - count, count, arg) == 0) {
        n = made;
        break;
      }
    }
  }
  auto* audio = new SherpaOnnxGeneratedAudio{samples, n, 16000};
  owned.release();
  return audio;
}

}  // namespace

const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerate(const SherpaOnnxOfflineTts*, const char* text,
                                                             int32_t sid, float speed) {
  return generate(text, sid, speed, nullptr, nullptr);
}

const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerateWithCallbackWithArg(
    const SherpaOnnxOfflineTts*, const char* text, int32_t sid, float speed,
    SherpaOnnxGeneratedAudioCallbackWithArg callback, void* arg) {
  return generate(text, sid, speed, callback, arg);
}

void SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio* audio) {
  if (audio == nullptr) return;
  state().calls.destroyAudio++;
  delete[] audio->samples;
  delete audio;
}

const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(const SherpaOnnxOnlineRecognizerConfig* config) {
  State& s = state();
  s.calls.createRecognizer++;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recognizerConfig = *config;
    auto text = [](const char* p) { return std::string(p != nullptr ? p : ""); };
    s.recognizerPaths = {text(config->model_config.zipformer2_ctc.model), text(config->model_config.tokens),
                         text(config->ctc_fst_decoder_config.graph)};
  }
  if (s.knobs.createRecognizerThrows) throw std::runtime_error("fake engine: corrupt recognizer");
  if (s.knobs.createRecognizerFails) return nullptr;
  return reinterpret_cast<const SherpaOnnxOnlineRecognizer*>(new FakeRecognizer());
}

void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* recognizer) {
  state().calls.destroyRecognizer++;
  delete reinterpret_cast<const FakeRecognizer*>(recognizer);
}

const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer) {
  state().calls.createStream++;
  if (state().knobs.createStreamThrows) throw std::runtime_error("fake engine: stream failed");
  if (state().knobs.createStreamFails) return nullptr;
  return reinterpret_cast<const SherpaOnnxOnlineStream*>(
      new FakeStream{reinterpret_cast<const FakeRecognizer*>(recognizer)});
}

void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream) {
  state().calls.destroyStream++;
  delete reinterpret_cast<const FakeStream*>(stream);
}

void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream*, int32_t sample_rate, const float* samples,
                                          int32_t n) {
  State& s = state();
  s.calls.acceptWaveform++;
  if (s.knobs.acceptThrows) throw std::runtime_error("fake engine: bad sample rate");
  s.calls.samplesAccepted += n;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.rates.push_back(sample_rate);
  s.samples.insert(s.samples.end(), samples, samples + n);
}

// Ready once per accept, so the decode loop runs and ends.
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer*, const SherpaOnnxOnlineStream*) {
  return state().calls.decode.load() < state().calls.acceptWaveform.load() ? 1 : 0;
}

void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer*, const SherpaOnnxOnlineStream*) {
  state().calls.decode++;
  if (state().knobs.decodeThrows) throw std::runtime_error("fake engine: decode failed");
}

const SherpaOnnxOnlineRecognizerResult* SherpaOnnxGetOnlineStreamResult(const SherpaOnnxOnlineRecognizer*,
                                                                        const SherpaOnnxOnlineStream*) {
  State& s = state();
  s.calls.getResult++;
  if (s.knobs.getResultThrows) throw std::runtime_error("fake engine: unknown token id");
  auto* result = new SherpaOnnxOnlineRecognizerResult{};
  char* text = new char[s.knobs.recognizedText.size() + 1];
  std::memcpy(text, s.knobs.recognizedText.c_str(), s.knobs.recognizedText.size() + 1);
  result->text = text;
  return result;
}

int32_t SherpaOnnxOnlineStreamIsEndpoint(const SherpaOnnxOnlineRecognizer*, const SherpaOnnxOnlineStream*) {
  return state().knobs.reportEndpoint ? 1 : 0;
}

void SherpaOnnxOnlineStreamReset(const SherpaOnnxOnlineRecognizer*, const SherpaOnnxOnlineStream*) {
  state().calls.reset++;
}

void SherpaOnnxDestroyOnlineRecognizerResult(const SherpaOnnxOnlineRecognizerResult* result) {
  if (result == nullptr) return;
  state().calls.destroyResult++;
  delete[] result->text;
  delete result;
}

}  // extern "C"
