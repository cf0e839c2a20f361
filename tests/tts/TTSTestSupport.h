// Helpers shared by the text-to-speech node tests: voice files on disk and a
// fixture that resets the engine double and captures the log. Output blocks
// and event recorders come from the test kit.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/ModelFileBuilder.h"
#include "support/TempDir.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

namespace tts_test {

using quorvel::AudioBusFormat;
using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::sherpa::GeneratedAudioItem;
using quorvel::extensions::sherpa::SherpaTTSNode;
using Internals = quorvel::extensions::sherpa::SherpaTTSNode::Internals;
using EventLog = test_kit::EventRecorder;
using Entries = std::vector<std::pair<quorvel::LogLevel, std::string>>;  // log lines with their levels
using Texts = std::vector<std::string>;

// An output block pre-filled with a non-zero value, so that a render that
// forgets to clear shows.
struct Block : test_kit::TestBlock {
  Block(unsigned channels, unsigned frames, int sampleRate = 16000)
      : TestBlock(channels, frames, sampleRate, 0.75f) {}
};

// A voice's three files in a fresh temporary directory, well formed enough
// for the load's file checks (the engine double reads none of them).
struct TempVoice {
  TempVoice() {
    model_files::writeTinyEspeakData(dir / "espeak-ng-data");
    model_files::writeBytes(dir / "voice.onnx", model_files::onnxModel(model_files::voiceMetadata()));
    model_files::writeText(dir / "tokens.txt", model_files::kTinyVoiceTokens);
  }
  std::string model() const { return (dir / "voice.onnx").string(); }
  std::string tokens() const { return (dir / "tokens.txt").string(); }
  std::string dataDir() const { return (dir / "espeak-ng-data").string(); }

  test_kit::TempDir dir{"qs_tts_voice"};
};

// What the streaming text buffer holds now.
inline std::string streamingBuffer(SherpaTTSNode& node) {
  auto& in = node.internalsForTesting();
  std::lock_guard<std::mutex> lock(in.streamingMutex);
  return in.streamingBuffer;
}

// The lines of a cleanup that frees `items` segments and, when there, the
// resampler and the voice.
inline Entries cleanupLines(size_t items, bool resampler, bool voice) {
  const auto info = quorvel::LogLevel::Info;
  Entries e = {{info, "[SherpaTTSNode] Cleaning up resources..."}, {info, "[SherpaTTSNode] Clearing atomic pointers"}};
  if (resampler) e.push_back({info, "[SherpaTTSNode] Freeing resampler"});
  e.push_back({info, "[SherpaTTSNode] Clearing " + std::to_string(items) + " generated audio items"});
  if (voice) e.push_back({info, "[SherpaTTSNode] Freeing TTS model"});
  e.push_back({info, "[SherpaTTSNode] Cleanup completed"});
  return e;
}

// The address a node's log lines name it by.
inline std::string address(const void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }

class TTSFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    logs = std::make_unique<testing_support::LogCapture>();
  }
  void TearDown() override {
    events.reset();
    node.reset();
    logs.reset();
    fake_engine::reset();
  }

  // A node with a voice: the default English one when it lies beside the
  // test program, else the temporary voice.
  std::unique_ptr<SherpaTTSNode> makeNode(const QVAnyMap& config = {}) {
    auto node = std::make_unique<SherpaTTSNode>(config);
    if (node->internalsForTesting().tts == nullptr) reload(*node);
    return node;
  }
  // The fixture's node, with a voice, and a recorder of its events.
  void makeSpeaker(const QVAnyMap& config = {}) {
    events.reset();
    node = makeNode(config);
    events.emplace(*node);
  }
  bool reload(SherpaTTSNode& node) { return node.loadModel(voice.model(), voice.tokens(), voice.dataDir()); }

  static Internals& in(SherpaTTSNode& node) { return node.internalsForTesting(); }
  static bool setFormat(SherpaTTSNode& node, int rate, unsigned channels) {
    AudioBusFormat format{rate, channels};
    return node.setBusFormat(format);
  }
  static std::string buffer(SherpaTTSNode& node) { return streamingBuffer(node); }
  // Channel 0 of `blocks` blocks rendered one after the other.
  static std::vector<float> renderMono(SherpaTTSNode& node, Block& block, int blocks) {
    std::vector<float> heard;
    for (int b = 0; b < blocks; ++b) {
      node.produce(block.bus());
      heard.insert(heard.end(), block.channel(0), block.channel(0) + block.frames());
    }
    return heard;
  }

  // Segments in existence.
  static int itemsAlive() { return static_cast<int>(GeneratedAudioItem::liveItems.load()); }
  // Segments freed so far, when every generation made one.
  static int itemsFreed() { return fake_engine::calls().generate.load() - itemsAlive(); }

  TempVoice voice;
  std::unique_ptr<testing_support::LogCapture> logs;
  Block block{1, 160};  // 10 ms at the voice's rate
  std::unique_ptr<SherpaTTSNode> node;
  std::optional<EventLog> events;
};

}  // namespace tts_test
