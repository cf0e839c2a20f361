// The demonstration voice beside the test program, and what the tests that
// run the text-to-speech node on the real engine do with it: play a text to
// its "finished", and have the engine alone speak a text for comparison.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/EngineConfig.h"
#include "engine/SherpaOnnxCApi.h"
#include "models/ModelPaths.h"
#include "support/EventRecorder.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"

namespace real_voice {

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

inline const fs::path kVoiceDir = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low";

inline fs::path voiceDir() { return executableDirectory() / "files" / kVoiceDir; }
inline std::string onnxModel() { return (voiceDir() / "en_GB-southern_english_female-low.onnx").string(); }
inline std::string tokens() { return (voiceDir() / "tokens.txt").string(); }
inline std::string dataDir() { return (voiceDir() / "espeak-ng-data").string(); }

inline bool voicePresent() {
  return fs::exists(defaultTTSModelPath("en")) && fs::exists(onnxModel()) && fs::exists(tokens()) &&
         fs::exists(dataDir());
}

// A stereo 48 kHz block of 10 ms, as a host's graph renders it.
struct StereoBlock : test_kit::TestBlock {
  StereoBlock() : TestBlock(2, 480, 48000) {}
};

// The parameters of the "loadModel" action.
inline QVAnyMap loadModelParams(const std::string& model, const std::string& tokens, const std::string& data) {
  return QVAnyMap{{"modelPath", QVAny(model)}, {"tokensPath", QVAny(tokens)}, {"dataPath", QVAny(data)}};
}

struct Playback {
  float peak = 0.0f;
  bool finiteAndAlike = true;  // every sample finite, every channel a copy of the first
  bool allProduced = true;     // produce answered true for every block
  int blocks = 0;
};

// Produces `block` after block until the next "finished" on `events` (at
// most 3000 blocks); channel 0 of each block is appended to `audio` if given.
inline Playback playUntilFinished(SherpaTTSNode& node, const test_kit::EventRecorder& events,
                                  test_kit::TestBlock& block, std::vector<float>* audio = nullptr) {
  Playback p;
  const int before = events.count("finished");
  while (events.count("finished") == before && p.blocks < 3000) {
    p.allProduced = node.produce(block.bus()) && p.allProduced;
    p.peak = std::max(p.peak, block.peak());
    p.finiteAndAlike = p.finiteAndAlike && block.finiteAndAlike();
    if (audio != nullptr) audio->insert(audio->end(), block.channel(0), block.channel(0) + block.frames());
    ++p.blocks;
  }
  return p;
}

// Plays `text` at 48 kHz stereo; true when it finished once with audible,
// finite samples alike in both channels.
inline bool speaks(SherpaTTSNode& node, const std::string& text = "Hello world.") {
  AudioBusFormat format{48000, 2};
  if (!node.setBusFormat(format)) return false;
  test_kit::EventRecorder events(node);
  node.synthesize(text);
  StereoBlock block;
  const Playback p = playUntilFinished(node, events, block);
  return p.allProduced && events.count("finished") == 1 && p.finiteAndAlike && p.peak > 0.05f;
}

// The engine alone, configured as the node configures it (a zero-filled
// config): what a voice's files give without the node in between.
class EngineVoice {
 public:
  EngineVoice(std::string model, std::string tokens, std::string dataDir)
      : config_(std::move(model), std::move(tokens), std::move(dataDir)) {
    try {
      tts_ = SherpaOnnxCreateOfflineTts(&config_.record());
    } catch (...) {  // a file that is not a model
      tts_ = nullptr;
    }
  }
  ~EngineVoice() {
    if (tts_ != nullptr) SherpaOnnxDestroyOfflineTts(tts_);
  }
  EngineVoice(const EngineVoice&) = delete;
  EngineVoice& operator=(const EngineVoice&) = delete;

  bool ok() const { return tts_ != nullptr; }
  int sampleRate() const { return SherpaOnnxOfflineTtsSampleRate(tts_); }
  // The samples of `text`; empty when the engine gave none.
  std::vector<float> speak(const std::string& text) const {
    std::vector<float> samples;
    try {
      const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts_, text.c_str(), 0, 1.0f);
      if (audio == nullptr) return samples;
      samples.assign(audio->samples, audio->samples + audio->n);
      SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    } catch (...) {
      samples.clear();
    }
    return samples;
  }

 private:
  const quorvel::extensions::sherpa::VoiceConfig config_;
  const SherpaOnnxOfflineTts* tts_ = nullptr;
};

}  // namespace real_voice
