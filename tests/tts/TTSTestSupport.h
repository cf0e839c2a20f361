// Helpers shared by the text-to-speech node tests: an output block the node
// renders into, a recorder of its events, voice files on disk and a fixture
// that resets the engine double and captures the log.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/LogCapture.h"
#include "support/ModelFileBuilder.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

namespace tts_test {

using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::sherpa::GeneratedAudioItem;
using quorvel::extensions::sherpa::SherpaTTSNode;
using Internals = quorvel::extensions::sherpa::SherpaTTSNode::Internals;

// One output block: `channels` arrays of `frames` samples, pre-filled with a
// non-zero value so that a render that forgets to clear shows.
class Block {
 public:
  Block(unsigned channels, unsigned frames, int sampleRate = 16000)
      : storage_(channels, std::vector<float>(frames, 0.75f)) {
    for (unsigned c = 0; c < channels; ++c) pointers_[c] = storage_[c].data();
    buffer_ = AudioBuffer<float>(channels, frames, false, sampleRate, pointers_);
    bus_.setBuffer(&buffer_);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  AudioBus& bus() { return bus_; }
  const std::vector<float>& channel(unsigned c) const { return storage_[c]; }
  float at(unsigned c, unsigned i) const { return storage_[c][i]; }
  unsigned frames() const { return static_cast<unsigned>(storage_.front().size()); }
  bool silent() const {
    for (const auto& ch : storage_)
      for (float v : ch)
        if (v != 0.0f) return false;
    return true;
  }
  float peak() const {
    float p = 0.0f;
    for (const auto& ch : storage_)
      for (float v : ch) p = std::max(p, v < 0 ? -v : v);
    return p;
  }

 private:
  std::vector<std::vector<float>> storage_;
  float* pointers_[AudioBuffer<float>::kMaxChannels] = {};
  AudioBuffer<float> buffer_;
  AudioBus bus_;
};

// Records the node's events in the order they arrive (from any thread).
class EventLog {
 public:
  explicit EventLog(SherpaTTSNode& node) : node_(node) {
    for (const char* name : {"finished", "synthesisStarted"}) {
      ids_.push_back(node_.addListener(name, [this](const std::string& event, const QVAny& payload) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.emplace_back(event, payload);
      }));
    }
  }
  ~EventLog() {
    for (auto id : ids_) node_.removeListener(id);
  }

  std::vector<std::string> names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_) out.push_back(e.first);
    return out;
  }
  int count(const std::string& name) const {
    int n = 0;
    for (const auto& e : names()) n += e == name ? 1 : 0;
    return n;
  }
  // The "text" of every synthesisStarted payload, in order.
  std::vector<std::string> startedTexts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_) {
      if (e.first != "synthesisStarted") continue;
      out.push_back(QVAny::convert<std::string>(QVAny::convert<QVAnyMap>(e.second).at("text")));
    }
    return out;
  }
  std::vector<std::pair<std::string, QVAny>> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

 private:
  SherpaTTSNode& node_;
  std::vector<uint64_t> ids_;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, QVAny>> events_;
};

// A voice's three files in a fresh temporary directory, well formed enough
// for the load's file checks (the engine double reads none of them).
class TempVoice {
 public:
  TempVoice() {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("qs_tts_voice_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    model_files::writeTinyEspeakData(dir_ / "espeak-ng-data");
    model_files::writeBytes(dir_ / "voice.onnx", model_files::onnxModel(model_files::voiceMetadata()));
    model_files::writeText(dir_ / "tokens.txt", model_files::kTinyVoiceTokens);
  }
  ~TempVoice() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string model() const { return (dir_ / "voice.onnx").string(); }
  std::string tokens() const { return (dir_ / "tokens.txt").string(); }
  std::string dataDir() const { return (dir_ / "espeak-ng-data").string(); }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

class TTSFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    logs = std::make_unique<testing_support::LogCapture>();
  }
  void TearDown() override {
    logs.reset();
    fake_engine::reset();
  }

  // A node with a voice: the default English one when it lies beside the
  // test program, else the temporary voice.
  std::unique_ptr<SherpaTTSNode> makeNode(const QVAnyMap& config = {}) {
    auto node = std::make_unique<SherpaTTSNode>(config);
    if (node->internalsForTesting().tts == nullptr) node->loadModel(voice.model(), voice.tokens(), voice.dataDir());
    return node;
  }

  static Internals& in(SherpaTTSNode& node) { return node.internalsForTesting(); }

  // Segments in existence.
  static int itemsAlive() { return static_cast<int>(GeneratedAudioItem::liveItems.load()); }
  // Segments freed so far, when every generation made one.
  static int itemsFreed() { return fake_engine::calls().generate.load() - itemsAlive(); }

  TempVoice voice;
  std::unique_ptr<testing_support::LogCapture> logs;
};

}  // namespace tts_test
