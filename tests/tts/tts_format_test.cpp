// The bus format hook and when a conversion from 16000 Hz exists.
#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::AudioGraphResampler;

using TTSFormat = TTSFixture;

TEST_F(TTSFormat, StereoAt48kCreatesOneResamplerThatASecondCallKeeps) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  AudioGraphResampler* first = in(*node).resampler.get();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->getSourceRate(), 16000);
  EXPECT_EQ(first->getSourceBlockFrames(), 160);
  EXPECT_EQ(in(*node).sampleRate, 48000);
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  EXPECT_EQ(in(*node).resampler.get(), first);
  EXPECT_EQ(in(*node).sampleRate, 48000);
}

TEST_F(TTSFormat, TheVoiceRateNeedsNoResamplerAndDropsAnExistingOne) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 16000, 1));
  EXPECT_EQ(in(*node).resampler, nullptr);
  EXPECT_EQ(in(*node).sampleRate, 16000);
  ASSERT_TRUE(setFormat(*node, 48000, 1));
  ASSERT_NE(in(*node).resampler, nullptr);
  ASSERT_TRUE(setFormat(*node, 16000, 2));
  EXPECT_EQ(in(*node).resampler, nullptr);
  EXPECT_EQ(in(*node).sampleRate, 16000);
}

TEST_F(TTSFormat, OtherChannelCountsAreRefusedAndChangeNothing) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  AudioGraphResampler* before = in(*node).resampler.get();
  for (unsigned channels : {0u, 3u, 6u}) {
    for (int rate : {16000, 44100}) {
      logs->clear();
      EXPECT_FALSE(setFormat(*node, rate, channels)) << channels;
      EXPECT_EQ(logs->lines(), Texts{"[SherpaTTSNode] Sherpa TTS only supports mono or stereo audio."});
      EXPECT_EQ(logs->entries().front().first, quorvel::LogLevel::Error);
    }
  }
  EXPECT_EQ(in(*node).resampler.get(), before);
  EXPECT_EQ(in(*node).sampleRate, 48000);
}

TEST_F(TTSFormat, ChangingBetweenOtherRatesKeepsTheResampler) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  AudioGraphResampler* before = in(*node).resampler.get();
  ASSERT_TRUE(setFormat(*node, 44100, 2));
  EXPECT_EQ(in(*node).resampler.get(), before);
  EXPECT_EQ(in(*node).sampleRate, 44100);
}

TEST_F(TTSFormat, AFirstRateOfZeroChangesNothing) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 0, 1));
  EXPECT_EQ(in(*node).resampler, nullptr);
  EXPECT_EQ(in(*node).sampleRate, 0);
  // Output stays direct: the samples come out at the block rate unchanged.
  node->synthesize("Direct.");
  ASSERT_TRUE(node->produce(block.bus()));
  EXPECT_EQ(block.at(0, 5), fake_engine::sampleValue(5));
}

TEST_F(TTSFormat, ThroughTheResamplerSpeechIsConvertedOntoEveryChannel) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  fake_engine::knobs().samplesPerText = 16000;  // one second at the voice rate
  node->synthesize("Converted.");
  Block block(2, 480, 48000);
  float peak = 0.0f;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(node->produce(block.bus()));
    EXPECT_TRUE(std::equal(block.channel(0), block.channel(0) + block.frames(), block.channel(1))) << i;
    peak = std::max(peak, block.peak());
  }
  EXPECT_GT(peak, 0.1f);
  // 20 blocks of 10 ms at 48 kHz pull about 200 ms of the voice's audio.
  const int played = in(*node).currentItem.load()->readPosition.load();
  EXPECT_GT(played, 2800);
  EXPECT_LT(played, 4000);
}
