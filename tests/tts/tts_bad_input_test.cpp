// Bad input to the text-to-speech node, against the engine double: action
// parameters of the wrong type, unusable output formats, blocks of no frames
// and of a million frames, and a 1 MB text. Each case ends with a clear
// result (an error Result, false, silence) and the node still speaking a
// good text afterwards. Broken voice files and texts the real engine sees
// are in tests/engine/bad_input_real_test.cpp.
#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::AudioGraphResampler;
using quorvel::Result;

namespace {

class BadInputTTS : public TTSFixture {
 protected:
  // The node plays a fresh "Hello world." to its "finished", on blocks of
  // `frames` frames at `rate` (the rate the host's buffers carry).
  bool speaksAfterwards(SherpaTTSNode& node, unsigned channels = 1, int rate = 16000, unsigned frames = 160) {
    EventLog events(node);
    node.synthesize("Hello world.");
    if (events.startedTexts() != Texts{"Hello world."}) return false;
    bool audible = false;
    for (int i = 0; i < 2000 && events.count("finished") == 0; ++i) {
      Block block(channels, frames, rate);
      if (!node.produce(block.bus())) return false;
      audible = audible || block.peak() > 0.2f;
    }
    return audible && events.count("finished") == 1;
  }
};

QVAny nestedMap() { return QVAny(QVAnyMap{{"text", QVAny("inner")}, {"deeper", QVAny(QVAnyMap{})}}); }

}  // namespace

TEST_F(BadInputTTS, AMapOrAnEmptyValueForAStringParameterIsRefusedByName) {
  auto node = makeNode();
  const int creates = fake_engine::calls().createTts.load();
  const std::tuple<std::string, QVAnyMap, std::string> calls[] = {
      {"synthesize", QVAnyMap{{"text", nestedMap()}}, "text (object, expected string)"},
      {"synthesize", QVAnyMap{{"text", QVAny()}}, "text (empty, expected string)"},
      {"appendStreamingText", QVAnyMap{{"token", nestedMap()}}, "token (object, expected string)"},
      {"appendStreamingText", QVAnyMap{{"token", QVAny("x")}, {"isFinal", nestedMap()}},
       "isFinal (object, expected boolean)"},
      {"loadModel", QVAnyMap{{"modelPath", nestedMap()}, {"tokensPath", QVAny("t")}, {"dataPath", QVAny("d")}},
       "modelPath (object, expected string)"},
      {"loadModel", QVAnyMap{{"modelPath", QVAny("m")}, {"tokensPath", QVAny("t")}, {"dataPath", QVAny()}},
       "dataPath (empty, expected string)"},
  };
  for (const auto& [action, params, parameter] : calls) {
    const std::string expected = "Wrong type for parameter: " + parameter;
    SCOPED_TRACE(expected);
    logs->clear();
    Result<QVAny> r = node->callAction(action, params);
    EXPECT_FALSE(r.isOk());
    EXPECT_EQ(r.error(), expected);
    EXPECT_EQ(logs->lines(), Texts{"[SherpaTTSNode] Action '" + action + "' refused: " + expected});
  }
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  EXPECT_EQ(fake_engine::calls().createTts.load(), creates);
  EXPECT_TRUE(in(*node).streamingBuffer.empty());
  EXPECT_TRUE(speaksAfterwards(*node));
}

TEST_F(BadInputTTS, ScalarsOfAnotherTypeConvertByTheHostsRules) {
  auto node = makeNode();
  for (const QVAny& text : {QVAny(42), QVAny(2.5), QVAny(true), QVAny(std::numeric_limits<double>::quiet_NaN())})
    EXPECT_TRUE(node->callAction("synthesize", QVAnyMap{{"text", text}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts(), (Texts{"42", "2.5", "true", "nan"}));

  // "isFinal" as a string: only "true" and "1" flush; anything else holds.
  node->clearStreamingBuffer();
  for (const char* notTrue : {"yes", "TRUE", "false", ""})
    ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("a")}, {"isFinal", QVAny(notTrue)}}).isOk());
  EXPECT_EQ(in(*node).streamingBuffer, "aaaa");
  ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("b")}, {"isFinal", QVAny("1")}}).isOk());
  EXPECT_TRUE(in(*node).streamingBuffer.empty());
  EXPECT_EQ(fake_engine::generatedTexts().back(), "aaaab");
  ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny(7)}, {"isFinal", QVAny(3)}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts().back(), "7");

  // A numeric path names a file that does not exist: warned, engine asked, false.
  logs->clear();
  fake_engine::knobs().createTtsFails = true;
  Result<QVAny> r =
      node->callAction("loadModel", QVAnyMap{{"modelPath", QVAny(123)}, {"tokensPath", QVAny(false)}, {"dataPath", QVAny(1.5)}});
  ASSERT_TRUE(r.isOk());
  ASSERT_NE(r.value().asBool(), nullptr);
  EXPECT_FALSE(*r.value().asBool());
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Model file does not exist at path: 123"));
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Tokens file does not exist at path: false"));
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Data directory does not exist at path: 1.5"));
  fake_engine::knobs().createTtsFails = false;
  ASSERT_TRUE(reload(*node));
  EXPECT_TRUE(speaksAfterwards(*node));
}

// Channel counts other than 1 and 2 are refused at any rate
// (TTSFormat.OtherChannelCountsAreRefusedAndChangeNothing covers 16000 and
// 44100 Hz); here the rates are unusable too.
TEST_F(BadInputTTS, RefusedChannelCountsAtUnusableRatesChangeNothing) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  for (unsigned channels : {0u, 3u, 6u}) {
    for (int rate : {0, -1, 10000000}) {
      SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
      logs->clear();
      EXPECT_FALSE(setFormat(*node, rate, channels));
      EXPECT_TRUE(logs->contains("[SherpaTTSNode] Sherpa TTS only supports mono or stereo audio."));
    }
  }
  EXPECT_EQ(in(*node).sampleRate, 48000);
  EXPECT_TRUE(speaksAfterwards(*node, 2, 48000, 480));
}

TEST_F(BadInputTTS, NegativeRatesAreRefusedAndTheLastGoodRateStays) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 1));
  AudioGraphResampler* before = in(*node).resampler.get();
  for (int rate : {-1, -48000, std::numeric_limits<int>::min()}) {
    for (unsigned channels : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
      logs->clear();
      EXPECT_FALSE(setFormat(*node, rate, channels));
      EXPECT_EQ(logs->lines(), (Texts{"[SherpaTTSNode] Unsupported sample rate: " + std::to_string(rate) + " Hz."}));
      EXPECT_EQ(logs->entries().front().first, quorvel::LogLevel::Error);
    }
  }
  EXPECT_EQ(in(*node).sampleRate, 48000);
  EXPECT_EQ(in(*node).resampler.get(), before);
  EXPECT_TRUE(speaksAfterwards(*node, 1, 48000, 480));
}

// 10 MHz is absurd for audio but converts (625 output frames per voice
// sample): accepted, and speech plays at that rate.
TEST_F(BadInputTTS, ATenMegahertzRateIsConvertedLikeAnyOther) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 10000000, 2));
  EXPECT_NE(in(*node).resampler, nullptr);
  EXPECT_TRUE(speaksAfterwards(*node, 2, 10000000, 100000));
}

// The conversion takes its output rate from the host's buffer; a buffer that
// carries an unusable rate gets silence and false, and speech waits.
TEST_F(BadInputTTS, ABufferAtAnUnusableRateGetsSilenceAndFalseWithoutLosingTheSpeech) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 1));
  EventLog events(*node);
  node->synthesize("Held.");
  for (int rate : {0, -1}) {
    Block block(1, 480, rate);
    EXPECT_FALSE(node->produce(block.bus())) << rate;
    EXPECT_TRUE(block.silent()) << rate;
  }
  EXPECT_EQ(in(*node).nextItem.load()->readPosition.load(), 0);
  EXPECT_EQ(events.count("finished"), 0);
  EXPECT_TRUE(speaksAfterwards(*node, 1, 48000, 480));
}

TEST_F(BadInputTTS, ABlockOfNoFramesAdvancesNothing) {
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(rate);
    makeSpeaker();
    ASSERT_TRUE(setFormat(*node, rate, 2));
    node->synthesize("Zero.");
    for (int i = 0; i < 5; ++i) {
      Block empty(2, 1, rate);
      empty.wrap(0);
      EXPECT_TRUE(node->produce(empty.bus()));
    }
    GeneratedAudioItem* item = in(*node).nextItem.load();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->readPosition.load(), 0);
    EXPECT_FALSE(item->complete.load());
    EXPECT_EQ(events->count("finished"), 0);
    EXPECT_TRUE(speaksAfterwards(*node, 2, rate, rate / 100));
  }
}

// A block of a million frames holds the whole segment and silence after it,
// directly and through the conversion (whose render steps inside that one
// block reach the segment's end and emit "finished" there, once).
TEST_F(BadInputTTS, AMillionFrameBlockIsFilledWholeAndFinishesTheSegmentOnce) {
  constexpr unsigned kFrames = 1u << 20;
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(rate);
    makeSpeaker();
    ASSERT_TRUE(setFormat(*node, rate, 2));
    node->synthesize("Long block.");
    Block block(2, kFrames, rate);
    ASSERT_TRUE(node->produce(block.bus()));
    size_t nonZero = 0;
    for (unsigned i = 0; i < kFrames; ++i) {
      ASSERT_TRUE(std::isfinite(block.at(0, i)) && std::abs(block.at(0, i)) <= 1.0f) << i;
      ASSERT_EQ(block.at(0, i), block.at(1, i)) << i;
      nonZero += block.at(0, i) != 0.0f ? 1 : 0;
    }
    // 1000 samples at 16 kHz: 1000 frames direct; 3000 converted, plus the
    // conversion filter's ringing after the segment.
    EXPECT_GT(nonZero, 900u);
    EXPECT_LT(nonZero, 6000u);
    Block next(2, 480, rate);
    ASSERT_TRUE(node->produce(next.bus()));
    EXPECT_EQ(events->count("finished"), 1);
    EXPECT_TRUE(speaksAfterwards(*node, 2, rate, 480));
  }
}

// The engine holds a text's whole audio at once (with the demonstration
// voice a megabyte of text is 18 hours of audio and 8 GB while generated),
// so a text longer than 64 KiB after cleaning is refused with an error line
// and never reaches the engine, by the action, the direct call and the
// streaming flush alike. Up to the limit it is spoken whole.
TEST_F(BadInputTTS, ATextOverTheLimitIsRefusedAndOneAtTheLimitIsSpoken) {
  const size_t limit = Internals::kMaxSynthesisTextBytes;
  std::string megabyte;
  while (megabyte.size() < (1u << 20)) megabyte += "Word after word, sentence after sentence. ";
  makeSpeaker();
  logs->clear();
  Result<QVAny> r = node->callAction("synthesize", QVAnyMap{{"text", QVAny(megabyte)}});
  ASSERT_FALSE(r.isOk());
  EXPECT_EQ(r.error(), "Text too long: " + std::to_string(megabyte.size()) + " bytes (at most 65536)");
  EXPECT_EQ(logs->linesStartingWith("[SherpaTTSNode] Action 'synthesize' refused: Text too long").size(), 1u);
  node->synthesize(megabyte);
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Text too long to synthesize: " + std::to_string(megabyte.size()) +
                             " bytes (at most 65536); nothing is spoken."));
  ASSERT_TRUE(
      node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny(megabyte)}, {"isFinal", QVAny(true)}}).isOk());
  EXPECT_TRUE(in(*node).streamingBuffer.empty());
  EXPECT_TRUE(fake_engine::generatedTexts().empty());
  EXPECT_TRUE(events->names().empty());

  // Asterisks are dropped before the length is taken.
  const std::string atLimit = std::string(limit, 'a') + "*****";
  ASSERT_TRUE(node->callAction("synthesize", QVAnyMap{{"text", QVAny(atLimit)}}).isOk());
  ASSERT_EQ(fake_engine::generatedTexts().size(), 1u);
  EXPECT_EQ(fake_engine::generatedTexts().front().size(), limit);
  ASSERT_FALSE(node->callAction("synthesize", QVAnyMap{{"text", QVAny(std::string(limit + 1, 'a'))}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts().size(), 1u);
  EXPECT_TRUE(speaksAfterwards(*node));
}

TEST_F(BadInputTTS, AnEngineErrorWhileSynthesizingIsLoggedAndPublishesNothing) {
  makeSpeaker();
  fake_engine::knobs().generateThrows = true;
  logs->clear();
  node->synthesize("Token ids beyond the table.");
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Engine error while synthesizing: fake engine: generation failed"));
  EXPECT_EQ(in(*node).nextItem.load(), nullptr);
  EXPECT_TRUE(in(*node).generatedAudioItems.empty());
  EXPECT_EQ(events->names(), Texts{"synthesisStarted"});
  fake_engine::knobs().generateThrows = false;
  EXPECT_TRUE(speaksAfterwards(*node));
}

// A name longer than the file system allows cannot even be looked up; it
// counts as a missing file, through the action and the direct call alike,
// and nothing throws.
TEST_F(BadInputTTS, ALoadModelPathTheFileSystemCannotCheckCountsAsMissing) {
  auto node = makeNode();
  const std::string tooLong = "/tmp/" + std::string(300, 'x') + "/voice.onnx";
  logs->clear();
  Result<QVAny> r = node->callAction(
      "loadModel", QVAnyMap{{"modelPath", QVAny(tooLong)}, {"tokensPath", QVAny("t")}, {"dataPath", QVAny("d")}});
  ASSERT_TRUE(r.isOk()) << r.error();
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Model file does not exist at path: " + tooLong));
  EXPECT_NO_THROW(node->loadModel(tooLong, tooLong, tooLong));
  EXPECT_EQ(logs->count("[SherpaTTSNode] Data directory does not exist at path: " + tooLong), 1u);
  EXPECT_TRUE(reload(*node));
  EXPECT_TRUE(speaksAfterwards(*node));
}
