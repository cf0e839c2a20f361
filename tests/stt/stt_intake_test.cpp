// Audio intake (consume), the input format check and decoding
// (processAudio) of the recognition node, against the engine double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/AudioBus.h>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "stt/SherpaSTTNode.h"
#include "stt/STTInternals.h"
#include "support/LogCapture.h"
#include "support/TestBlock.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;

namespace {

const std::string kFullWarning = "[SherpaSTTNode] Input buffer is full, dropping audio data.";

std::vector<float> ramp(unsigned n, float first) {
  std::vector<float> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = first + static_cast<float>(i);
  return v;
}

class SttAudioIntake : public ::testing::Test {
 protected:
  static constexpr unsigned kCapacity = 1000;

  void SetUp() override {
    fake_engine::reset();
    files = stt_test::writeRecognizerFiles(dir.path());
    internals = std::make_unique<SherpaSTTNode::Internals>(kCapacity);
    ASSERT_TRUE(internals->loadSherpaModel(files.model, files.tokens, files.graph));
    fake_engine::reset();
  }
  void TearDown() override {
    internals.reset();
    fake_engine::reset();
  }

  // A 48 kHz block whose channel 0 counts up from `first`, kept until the
  // end of the test.
  AudioBus& mono(unsigned frames, float first = 1.0f, unsigned channels = 1) {
    blocks.push_back(std::make_unique<test_kit::TestBlock>(channels, frames, 48000));
    blocks.back()->fillCounter(first);
    return blocks.back()->bus();
  }
  AudioBus& block(const std::vector<float>& samples) {
    AudioBus& bus = mono(static_cast<unsigned>(samples.size()));
    std::copy(samples.begin(), samples.end(), blocks.back()->channel(0));
    return bus;
  }
  unsigned buffered() const { return internals->inputBuffer->getAvailableFramesToConsume(); }
  bool setFormat(int rate, unsigned channels = 1) {
    AudioBusFormat format{rate, channels};
    return internals->setBusFormat(format);
  }

  stt_test::TempDir dir;
  stt_test::RecognizerFiles files;
  std::unique_ptr<SherpaSTTNode::Internals> internals;
  std::vector<std::unique_ptr<test_kit::TestBlock>> blocks;
};

}  // namespace

TEST_F(SttAudioIntake, ABlockLargerThanTheFreeSpaceIsDroppedWholeAndOneOfExactlyTheFreeSpaceIsTaken) {
  ASSERT_TRUE(internals->consume(mono(600)));
  EXPECT_FALSE(internals->consume(mono(kCapacity - 600 + 1)));
  EXPECT_EQ(buffered(), 600u);
  EXPECT_TRUE(internals->consume(mono(kCapacity - 600, 601.0f)));
  EXPECT_EQ(buffered(), kCapacity);
  internals->processAudio();
  EXPECT_EQ(fake_engine::acceptedSamples(), ramp(kCapacity, 1.0f));
}

TEST_F(SttAudioIntake, TheFullBufferWarningIsLoggedOncePerRunOfDrops) {
  ASSERT_TRUE(internals->consume(mono(kCapacity)));
  AudioBus& one = mono(1);
  LogCapture log;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(internals->consume(one));
  EXPECT_EQ(log.count(kFullWarning), 1u);
  EXPECT_EQ(log.entries().at(0).first, LogLevel::Warning);
  internals->processAudio();
  EXPECT_TRUE(internals->consume(mono(kCapacity)));
  EXPECT_FALSE(internals->consume(one));
  EXPECT_FALSE(internals->consume(one));
  EXPECT_EQ(log.count(kFullWarning), 2u);
}

TEST_F(SttAudioIntake, DisabledIntakeRefusesSilentlyAndKeepsTheDropState) {
  ASSERT_TRUE(internals->consume(mono(kCapacity)));
  AudioBus& one = mono(1);
  EXPECT_FALSE(internals->consume(one));  // warned, run of drops begins
  LogCapture log;
  internals->enabled.store(false);
  EXPECT_FALSE(internals->consume(one));
  internals->enabled.store(true);
  EXPECT_FALSE(internals->consume(one));  // same run: still silent
  EXPECT_TRUE(log.lines().empty());
  internals->processAudio();
  internals->enabled.store(false);
  EXPECT_FALSE(internals->consume(one));
  EXPECT_EQ(buffered(), 0u);
  internals->enabled.store(true);
  EXPECT_TRUE(internals->consume(one));
  EXPECT_EQ(buffered(), 1u);
}

TEST_F(SttAudioIntake, NodeForwardsTheIntakeSwitchAndRefusesABusWithoutBuffer) {
  SherpaSTTNode node;
  EXPECT_TRUE(node.isEnabled());
  node.setEnabled(false);
  EXPECT_FALSE(node.isEnabled());
  AudioBus& block = mono(10);
  EXPECT_FALSE(node.consume(block));
  node.setEnabled(true);
  EXPECT_TRUE(node.consume(block));
  AudioBus empty;
  EXPECT_FALSE(node.consume(empty));
}

TEST_F(SttAudioIntake, OnlyTheFirstChannelOfAWiderBlockIsBuffered) {
  ASSERT_TRUE(internals->consume(mono(50, 1.0f, 2)));
  EXPECT_EQ(buffered(), 50u);
  internals->processAudio();
  EXPECT_EQ(fake_engine::acceptedSamples(), ramp(50, 1.0f));
}

TEST_F(SttAudioIntake, AnEmptyBufferGivesEmptyTextWithoutCallingTheEngine) {
  EXPECT_EQ(internals->processAudio(), "");
  internals->cleanup();
  LogCapture log;
  EXPECT_EQ(internals->processAudio(), "");
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 0);
  EXPECT_EQ(fake_engine::calls().getResult.load(), 0);
}

TEST_F(SttAudioIntake, ProcessAudioHandsEverySampleOnDrainsTheBufferAndReturnsTheText) {
  fake_engine::knobs().recognizedText = "HELLO WORLD";
  ASSERT_TRUE(internals->consume(mono(300, 1.0f)));
  ASSERT_TRUE(internals->consume(mono(200, 301.0f)));
  EXPECT_EQ(internals->processAudio(), "HELLO WORLD");
  EXPECT_EQ(buffered(), 0u);
  EXPECT_EQ(fake_engine::acceptedSamples(), ramp(500, 1.0f));
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 1);
  EXPECT_EQ(fake_engine::calls().decode.load(), 1);
  EXPECT_EQ(fake_engine::calls().destroyResult.load(), fake_engine::calls().getResult.load());
  EXPECT_EQ(fake_engine::calls().reset.load(), 0);
}

TEST_F(SttAudioIntake, AnEndpointResetsTheStreamAfterTheTextWasTaken) {
  fake_engine::knobs().reportEndpoint = true;
  fake_engine::knobs().recognizedText = "GO";
  ASSERT_TRUE(internals->consume(mono(100)));
  EXPECT_EQ(internals->processAudio(), "GO");
  EXPECT_EQ(fake_engine::calls().reset.load(), 1);
}

TEST_F(SttAudioIntake, NonFiniteSamplesReachTheEngineAsZero) {
  const float inf = std::numeric_limits<float>::infinity();
  ASSERT_TRUE(internals->consume(block({0.5f, std::nanf(""), inf, -inf, -0.25f})));
  LogCapture log;
  internals->processAudio();
  EXPECT_EQ(fake_engine::acceptedSamples(), (std::vector<float>{0.5f, 0.0f, 0.0f, 0.0f, -0.25f}));
  EXPECT_TRUE(log.contains("[SherpaSTTNode] Replaced 3 non-finite samples with 0"));
}

TEST_F(SttAudioIntake, WithoutAModelBufferedAudioIsKeptForALaterLoad) {
  internals->cleanup();
  ASSERT_TRUE(internals->consume(mono(100)));
  LogCapture log;
  EXPECT_EQ(internals->processAudio(), "");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[SherpaSTTNode] No model loaded; keeping 100 buffered frames"}));
  EXPECT_EQ(buffered(), 100u);
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 0);
  ASSERT_TRUE(internals->loadSherpaModel(files.model, files.tokens, files.graph));
  EXPECT_EQ(internals->processAudio(), "hello world");
  EXPECT_EQ(fake_engine::acceptedSamples(), ramp(100, 1.0f));
}

TEST_F(SttAudioIntake, EngineExceptionsWhileDecodingGiveEmptyText) {
  struct Case {
    const char* name;
    bool fake_engine::Knobs::*knob;
  };
  const Case cases[] = {{"accept", &fake_engine::Knobs::acceptThrows},
                        {"decode", &fake_engine::Knobs::decodeThrows},
                        {"get result", &fake_engine::Knobs::getResultThrows}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_engine::reset();
    fake_engine::knobs().*c.knob = true;
    AudioBus& block = mono(10);
    ASSERT_TRUE(internals->consume(block));
    LogCapture log;
    EXPECT_EQ(internals->processAudio(), "");
    ASSERT_EQ(log.linesStartingWith("[SherpaSTTNode] Engine error while decoding: ").size(), 1u);
    EXPECT_EQ(log.entries().back().first, LogLevel::Error);
    fake_engine::knobs().*c.knob = false;
    EXPECT_EQ(internals->processAudio(), "");  // the failed block is not decoded twice
  }
}

TEST_F(SttAudioIntake, TheFormatRateIsWhatTheEngineReceivesEvenWhenTheChannelCountIsRefused) {
  EXPECT_TRUE(setFormat(16000));
  AudioBus& a = mono(10);
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();
  LogCapture log;
  EXPECT_FALSE(setFormat(44100, 2));
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[SherpaSTTNode] Number of channels must be 1."}));
  EXPECT_EQ(log.entries().at(0).first, LogLevel::Error);
  EXPECT_EQ(internals->sampleRate.load(), 44100u);
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();
  EXPECT_EQ(fake_engine::acceptedSampleRates(), (std::vector<int32_t>{16000, 44100}));
}

TEST_F(SttAudioIntake, RatesOutsideTheSupportedRangeAreRefusedAndNotStored) {
  for (int rate : {0, 1, -16000, 7999, 192001, std::numeric_limits<int>::min()}) {
    SCOPED_TRACE(rate);
    LogCapture log;
    EXPECT_FALSE(setFormat(rate));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[SherpaSTTNode] Unsupported sample rate: " +
                                                     std::to_string(rate) + " Hz (8000 to 192000 supported)."}));
    EXPECT_EQ(internals->sampleRate.load(), 48000u);
  }
  for (int rate : {8000, 192000}) {
    EXPECT_TRUE(setFormat(rate));
    EXPECT_EQ(internals->sampleRate.load(), static_cast<uint32_t>(rate));
  }
}

TEST_F(SttAudioIntake, ARateChangeAfterTheStreamWasFedStartsANewStream) {
  ASSERT_TRUE(setFormat(16000));
  AudioBus& a = mono(10);
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();
  ASSERT_TRUE(setFormat(16000));  // unchanged rate: same stream
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();
  EXPECT_EQ(fake_engine::calls().createStream.load(), 0);
  ASSERT_TRUE(setFormat(48000));
  ASSERT_TRUE(internals->consume(a));
  LogCapture log;
  internals->processAudio();
  EXPECT_TRUE(log.contains("[SherpaSTTNode] Sample rate changed from 16000 to 48000 Hz, starting a new stream"));
  EXPECT_EQ(fake_engine::calls().destroyStream.load(), 1);
  EXPECT_EQ(fake_engine::calls().createStream.load(), 1);
  EXPECT_EQ(fake_engine::acceptedSampleRates(), (std::vector<int32_t>{16000, 16000, 48000}));
}

TEST_F(SttAudioIntake, ARateChangeOnAFreshStreamNeedsNoNewStream) {
  ASSERT_TRUE(setFormat(16000));
  ASSERT_TRUE(internals->consume(mono(10)));
  internals->processAudio();
  EXPECT_EQ(fake_engine::calls().createStream.load(), 0);
  EXPECT_EQ(fake_engine::acceptedSampleRates(), (std::vector<int32_t>{16000}));
}

TEST_F(SttAudioIntake, AFailedStreamReplacementUnloadsTheModelAndKeepsTheAudio) {
  AudioBus& a = mono(10);
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();  // fed at 48000
  ASSERT_TRUE(setFormat(16000));
  ASSERT_TRUE(internals->consume(a));
  fake_engine::knobs().createStreamFails = true;
  LogCapture log;
  EXPECT_EQ(internals->processAudio(), "");
  EXPECT_TRUE(log.contains("[SherpaSTTNode] Failed to create online stream"));
  EXPECT_EQ(internals->recognizer, nullptr);
  EXPECT_EQ(internals->stream, nullptr);
  EXPECT_EQ(buffered(), 10u);
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 1);
}

TEST_F(SttAudioIntake, AReloadStartsTheRateRecordAfresh) {
  AudioBus& a = mono(10);
  ASSERT_TRUE(internals->consume(a));
  internals->processAudio();  // fed at 48000
  ASSERT_TRUE(internals->loadSherpaModel(files.model, files.tokens, files.graph));
  ASSERT_TRUE(setFormat(16000));
  ASSERT_TRUE(internals->consume(a));
  LogCapture log;
  internals->processAudio();
  EXPECT_TRUE(log.linesStartingWith("[SherpaSTTNode] Sample rate changed").empty());
  EXPECT_EQ(fake_engine::acceptedSampleRates(), (std::vector<int32_t>{48000, 16000}));
}
