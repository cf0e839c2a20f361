// The demonstration voice beside the test program, a 10 ms stereo block at
// 48 kHz and a recorder of the node's event names, for the tests that run
// the text-to-speech node on the real engine.
#pragma once

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "models/ModelPaths.h"
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

// A stereo 48 kHz block of 10 ms.
class StereoBlock {
 public:
  StereoBlock() : left_(480), right_(480) {
    float* channels[2] = {left_.data(), right_.data()};
    buffer_ = AudioBuffer<float>(2, 480, true, 48000, channels);
    bus_.setBuffer(&buffer_);
  }
  AudioBus& bus() { return bus_; }
  const std::vector<float>& left() const { return left_; }
  const std::vector<float>& right() const { return right_; }

 private:
  std::vector<float> left_;
  std::vector<float> right_;
  AudioBuffer<float> buffer_;
  AudioBus bus_;
};

class EventNames {
 public:
  explicit EventNames(SherpaTTSNode& node) : node_(node) {
    for (const char* name : {"finished", "synthesisStarted"}) {
      ids_.push_back(node_.addListener(name, [this](const std::string& event, const QVAny&) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_.push_back(event);
      }));
    }
  }
  ~EventNames() {
    for (auto id : ids_) node_.removeListener(id);
  }
  std::vector<std::string> names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }
  long finishedCount() const {
    auto all = names();
    return std::count(all.begin(), all.end(), "finished");
  }
  bool finished() const { return finishedCount() > 0; }

 private:
  SherpaTTSNode& node_;
  std::vector<EventEmitter::ListenerId> ids_;
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
};

}  // namespace real_voice
