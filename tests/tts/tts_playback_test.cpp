// Playback at the voice rate: blocks, the end of an item, the switch fade and
// channel mirroring.
#include "TTSTestSupport.h"

using namespace tts_test;

using TTSPlayback = TTSFixture;

TEST_F(TTSPlayback, NothingSynthesisedMeansSilenceAndNoEvents) {
  makeSpeaker();
  Block block(2, 160);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(node->produce(block.bus()));
    EXPECT_TRUE(block.silent());
  }
  EXPECT_TRUE(events->names().empty());
}

TEST_F(TTSPlayback, AThousandSamplesInBlocksOf160) {
  makeSpeaker();
  node->synthesize("Thousand.");
  events->clear();
  std::vector<float> heard;
  for (int b = 0; b < 7; ++b) {
    ASSERT_TRUE(node->produce(block.bus()));
    EXPECT_EQ(events->count("finished"), 0) << "block " << b;
    heard.insert(heard.end(), block.channel(0), block.channel(0) + 160);
  }
  ASSERT_EQ(heard.size(), 1120u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(heard[i], fake_engine::sampleValue(i)) << i;
  for (int i = 1000; i < 1120; ++i) ASSERT_EQ(heard[i], 0.0f) << i;
  EXPECT_TRUE(in(*node).currentItem.load()->complete.load());

  ASSERT_TRUE(node->produce(block.bus()));  // the eighth block
  EXPECT_EQ(events->names(), Texts{"finished"});
  EXPECT_EQ(events->events()[0].payload, QVAny(QVAnyMap()));
  EXPECT_TRUE(block.silent());
  EXPECT_EQ(in(*node).currentItem.load(), nullptr);
  EXPECT_TRUE(in(*node).firstSynthesis.load());

  for (int b = 0; b < 5; ++b) node->produce(block.bus());  // a finished item is never taken up again
  EXPECT_EQ(events->count("finished"), 1);
  EXPECT_EQ(in(*node).currentItem.load(), nullptr);
}

TEST_F(TTSPlayback, OneFinishedPerItemPlayedToItsEnd) {
  makeSpeaker();
  fake_engine::knobs().samplesPerText = 300;
  for (int round = 1; round <= 3; ++round) {
    node->synthesize("Round.");
    for (int b = 0; b < 6; ++b) node->produce(block.bus());
    EXPECT_EQ(events->count("finished"), round);
  }
}

TEST_F(TTSPlayback, AnEmptyItemCompletesAtOnceAndFinishesNextBlock) {
  makeSpeaker();
  fake_engine::knobs().samplesPerText = 0;
  node->synthesize("Nothing.");
  events->clear();
  ASSERT_TRUE(node->produce(block.bus()));
  EXPECT_TRUE(block.silent());
  EXPECT_TRUE(in(*node).nextItem.load()->complete.load());
  EXPECT_EQ(events->count("finished"), 0);
  ASSERT_TRUE(node->produce(block.bus()));
  EXPECT_EQ(events->count("finished"), 1);
  for (int b = 0; b < 3; ++b) node->produce(block.bus());
  EXPECT_EQ(events->count("finished"), 1);
}

TEST_F(TTSPlayback, ANewItemCutsInWithTheOldOneFadedOut) {
  makeSpeaker();
  const unsigned frames = 160;
  node->synthesize("Old.");
  Block block(2, frames);
  node->produce(block.bus());  // old: samples 0..159
  node->synthesize("New.");
  events->clear();
  ASSERT_TRUE(node->produce(block.bus()));

  // Old samples 160..319 faded by 1 - f/k (accumulated in float), new 0..159 on top.
  const float step = (0.0f - 1.0f) / static_cast<float>(frames);
  float gain = 1.0f;
  for (unsigned f = 0; f < frames; ++f) {
    const float expected = fake_engine::sampleValue(160 + f) * gain + fake_engine::sampleValue(f);
    ASSERT_EQ(block.at(0, f), expected) << f;
    gain += step;
  }
  EXPECT_EQ(block.samples(0), block.samples(1));
  EXPECT_EQ(events->count("finished"), 0);
}

TEST_F(TTSPlayback, TheFadeCoversOnlyWhatWasLeftOfTheOldItem) {
  auto node = makeNode();
  fake_engine::knobs().samplesPerText = 200;
  node->synthesize("Short.");
  node->produce(block.bus());  // 160 of 200 played; 40 left
  fake_engine::knobs().samplesPerText = 1000;
  node->synthesize("Next.");
  node->produce(block.bus());
  const float step = -1.0f / 40.0f;
  float gain = 1.0f;
  for (unsigned f = 0; f < 160; ++f) {
    const float old = f < 40 ? fake_engine::sampleValue(160 + f) * gain : 0.0f;
    ASSERT_EQ(block.at(0, f), old + fake_engine::sampleValue(f)) << f;
    if (f < 40) gain += step;
  }
}

TEST_F(TTSPlayback, GainRampScalesFrameByFrame) {
  std::vector<float> source = {1, 1, 2, 2, 4, 4, 8, 8};  // 4 frames of 2 channels
  std::vector<float> out(8, -1.0f);
  Internals::applyGainRamp(source.data(), out.data(), 1.0f, 0.0f, 4, 2);
  EXPECT_EQ(out, (std::vector<float>{1, 1, 1.5f, 1.5f, 2, 2, 2, 2}));
  std::vector<float> untouched(2, -1.0f);
  Internals::applyGainRamp(source.data(), untouched.data(), 1.0f, 0.0f, 0, 2);
  EXPECT_EQ(untouched, (std::vector<float>{-1.0f, -1.0f}));
  std::vector<float> rising(4, 0.0f);
  std::vector<float> ones(4, 1.0f);
  Internals::applyGainRamp(ones.data(), rising.data(), 0.0f, 1.0f, 4, 1);
  EXPECT_EQ(rising, (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f}));
}

TEST_F(TTSPlayback, StereoChannelsAreIdenticalInEveryBlock) {
  auto node = makeNode();
  Block block(2, 128);
  node->synthesize("One.");
  for (int b = 0; b < 12; ++b) {
    if (b == 3) node->synthesize("Two.");  // includes a switching block
    ASSERT_TRUE(node->produce(block.bus()));
    EXPECT_EQ(block.samples(0), block.samples(1)) << b;
    if (b < 8) {
      EXPECT_FALSE(block.silent()) << b;
    }
  }
}

TEST_F(TTSPlayback, ABlockWithoutBufferOrChannelsIsLeftAlone) {
  auto node = makeNode();
  node->synthesize("Kept.");
  quorvel::AudioBus empty;
  EXPECT_TRUE(node->produce(empty));
  EXPECT_EQ(in(*node).currentItem.load(), nullptr);
  node->produce(block.bus());
  EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0));
}
