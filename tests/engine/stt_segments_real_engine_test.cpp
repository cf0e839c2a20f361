// Turn ends on the real engine with the generated recognizer: two known
// utterances joined by silence come back as two final segments, however the
// audio arrives and however often the node is asked; without endpoint
// detection the node keeps returning one growing text.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "RealRecognizer.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

using namespace real_recognizer;

constexpr double kGapSeconds = 1.5;
// Enough for the engine to see 0.8 s of silence after the last word: it
// decodes only whole chunks of features.
constexpr double kTailSeconds = 2.0;

struct TwoUtterances {
  std::vector<float> samples;
  std::string first, second;
};

// The first two known audio files at `rate` with different texts, joined by
// kGapSeconds of silence and followed by kTailSeconds of it.
std::optional<TwoUtterances> twoUtterances(int rate) {
  std::vector<known_audio::KnownAudio> picked;
  for (auto& k : knownAudio()) {
    if (k.rate != rate || k.wav.samples.empty()) continue;
    if (picked.empty() || picked[0].text != k.text) picked.push_back(std::move(k));
    if (picked.size() == 2) break;
  }
  if (picked.size() < 2) return std::nullopt;
  TwoUtterances joined{picked[0].wav.samples, picked[0].text, picked[1].text};
  joined.samples.resize(joined.samples.size() + static_cast<size_t>(kGapSeconds * rate), 0.0f);
  joined.samples.insert(joined.samples.end(), picked[1].wav.samples.begin(), picked[1].wav.samples.end());
  joined.samples.resize(joined.samples.size() + static_cast<size_t>(kTailSeconds * rate), 0.0f);
  return joined;
}

// Hands `samples` to consume in blocks of `block` frames and calls `poll`
// after each block that completes `pollSeconds` of audio since the last
// call (0: only after the last block) and once more at the end.
template <typename Poll>
void feed(SherpaSTTNode& node, std::vector<float> samples, int rate, size_t block, double pollSeconds, Poll poll) {
  const auto pollFrames = static_cast<size_t>(pollSeconds * rate);
  size_t sincePoll = 0;
  for (size_t i = 0; i < samples.size(); i += block) {
    const auto frames = static_cast<unsigned>(std::min(block, samples.size() - i));
    float* start = samples.data() + i;
    AudioBuffer<float> buffer(1, frames, false, rate, &start);
    AudioBus bus(&buffer);
    ASSERT_TRUE(node.consume(bus)) << "block at " << i << " dropped";
    sincePoll += frames;
    if (pollFrames > 0 && sincePoll >= pollFrames) {
      poll();
      sincePoll = 0;
    }
  }
  poll();
}

class SttSegmentsRealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = Logger::getLevel();
    Logger::setLevel(LogLevel::Warning);
    if (!recognizerPresent()) GTEST_SKIP() << "generated recognizer or test audio missing; run scripts/models/generate.sh";
  }
  void TearDown() override { Logger::setLevel(previous); }
  LogLevel previous = LogLevel::Info;
};

bool loadWithEndpoints(SherpaSTTNode& node, int rate) {
  AudioBusFormat format{rate, 1};
  return node.setEndpointDetection(true) &&
         node.loadSherpaModel(defaultSTTModelPath(), defaultSTTTokensPath(), defaultSTTGraphPath()) &&
         node.setBusFormat(format);
}

}  // namespace

TEST_F(SttSegmentsRealEngine, TwoUtterancesComeBackAsTwoFinalSegmentsAtAnyBlockSizeAndPolling) {
  for (int rate : {16000, 48000}) {
    const auto joined = twoUtterances(rate);
    ASSERT_TRUE(joined) << "two known texts at " << rate << " Hz";
    for (size_t block : {160, 480, 4096}) {
      for (double pollSeconds : {0.1, 0.3, 0.0}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz, blocks of " + std::to_string(block) + ", polling every " +
                     (pollSeconds > 0 ? std::to_string(pollSeconds) + " s" : std::string("once at the end")));
        SherpaSTTNode node;
        ASSERT_TRUE(loadWithEndpoints(node, rate));
        std::vector<SherpaSTTNode::SegmentResult> finals;
        std::optional<SherpaSTTNode::SegmentResult> firstWords;
        feed(node, joined->samples, rate, block, pollSeconds, [&] {
          for (;;) {
            auto r = node.processSegment();
            if (r.textGrew && !firstWords) firstWords = r;
            if (!r.isFinal) break;
            finals.push_back(r);
          }
        });
        ASSERT_EQ(finals.size(), 2u);
        EXPECT_EQ(finals[0].text, joined->first);
        EXPECT_EQ(finals[1].text, joined->second);
        // The silence between them ended no segment of its own.
        EXPECT_EQ(finals[0].segment, 0u);
        EXPECT_EQ(finals[1].segment, 1u);
        ASSERT_TRUE(firstWords);
        EXPECT_EQ(firstWords->segment, 0u);
        EXPECT_FALSE(firstWords->text.empty());
      }
    }
  }
}

TEST_F(SttSegmentsRealEngine, WithoutEndpointsTheTextGrowsAcrossBothUtterances) {
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(std::to_string(rate) + " Hz");
    const auto joined = twoUtterances(rate);
    ASSERT_TRUE(joined);
    SherpaSTTNode node;  // endpoint detection is off unless asked for
    AudioBusFormat format{rate, 1};
    ASSERT_TRUE(node.setBusFormat(format));
    std::vector<std::string> texts;
    feed(node, joined->samples, rate, static_cast<size_t>(rate / 100), 0.3, [&] {
      const std::string text = node.processAudio();
      if (!text.empty()) texts.push_back(text);
    });
    ASSERT_FALSE(texts.empty());
    for (size_t i = 1; i < texts.size(); ++i) {
      EXPECT_EQ(texts[i].rfind(texts[i - 1], 0), 0u) << "\"" << texts[i] << "\" does not extend \"" << texts[i - 1] << "\"";
    }
    EXPECT_EQ(texts.back(), joined->first + " " + joined->second);
  }
}
