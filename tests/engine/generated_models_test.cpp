// The generated demonstration voices and tone recognizer, run through the real
// engine. The models come from scripts/models/generate.sh and sit in a "files"
// folder beside the test program, the recognizer's test audio in "testdata".
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/EngineConfig.h"
#include "engine/SherpaOnnxCApi.h"
#include "support/KnownAudio.h"

namespace {

namespace fs = std::filesystem;
using quorvel::extensions::sherpa::RecognizerConfig;
using quorvel::extensions::sherpa::VoiceConfig;

fs::path exeDir() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return fs::current_path();
  return fs::path(std::string(buf.data(), static_cast<size_t>(n))).parent_path();
}

fs::path filesDir() { return exeDir() / "files"; }
fs::path testdataDir() { return exeDir() / "testdata"; }

constexpr int kVoiceRate = 16000;
constexpr float kSilenceLevel = 0.01f;

struct VoiceFiles {
  const char* dir;
  const char* stem;
};

const VoiceFiles kVoices[] = {
    {"en_GB/vits-piper-en_GB-southern_english_female-low", "en_GB-southern_english_female-low"},
    {"de_DE/vits-piper-de_DE-oakvale-low", "de_DE-oakvale-low"},
};

struct TtsDeleter {
  void operator()(const SherpaOnnxOfflineTts* tts) const { SherpaOnnxDestroyOfflineTts(tts); }
};
using TtsPtr = std::unique_ptr<const SherpaOnnxOfflineTts, TtsDeleter>;

TtsPtr createVoice(const VoiceFiles& voice, const std::string& modelFile) {
  const fs::path dir = filesDir() / voice.dir;
  const VoiceConfig config((dir / modelFile).string(), (dir / "tokens.txt").string(),
                           (dir / "espeak-ng-data").string());
  try {
    return TtsPtr(SherpaOnnxCreateOfflineTts(&config.record()));
  } catch (...) {
    return nullptr;
  }
}

TtsPtr createDefaultVoice(const VoiceFiles& voice) {
  return createVoice(voice, std::string(voice.stem) + ".with_runtime_opt.ort");
}

TtsPtr createOnnxVoice(const VoiceFiles& voice) {
  return createVoice(voice, std::string(voice.stem) + ".onnx");
}

struct Speech {
  std::vector<float> samples;
  int sampleRate = 0;
};

std::optional<Speech> speak(const SherpaOnnxOfflineTts* tts, const char* text) {
  try {
    const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts, text, 0, 1.0f);
    if (audio == nullptr) return std::nullopt;
    Speech s;
    s.sampleRate = audio->sample_rate;
    if (audio->n > 0) s.samples.assign(audio->samples, audio->samples + audio->n);
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return s;
  } catch (...) {
    return std::nullopt;
  }
}

double seconds(const Speech& s) { return static_cast<double>(s.samples.size()) / kVoiceRate; }

// Time covered by 10 ms windows whose peak reaches kSilenceLevel.
double audibleSeconds(const Speech& s) {
  const size_t window = kVoiceRate / 100;
  size_t loud = 0;
  for (size_t i = 0; i < s.samples.size(); i += window) {
    const size_t end = std::min(s.samples.size(), i + window);
    float peak = 0.0f;
    for (size_t k = i; k < end; ++k) peak = std::max(peak, std::fabs(s.samples[k]));
    if (peak >= kSilenceLevel) ++loud;
  }
  return static_cast<double>(loud) / 100.0;
}

class GeneratedVoice : public ::testing::TestWithParam<VoiceFiles> {};

TEST_P(GeneratedVoice, LoadsFromItsDefaultOrtFileAndFromItsOnnxFile) {
  const VoiceFiles& voice = GetParam();
  TtsPtr ort = createDefaultVoice(voice);
  ASSERT_NE(ort, nullptr);
  EXPECT_EQ(SherpaOnnxOfflineTtsSampleRate(ort.get()), kVoiceRate);
  TtsPtr onnx = createOnnxVoice(voice);
  ASSERT_NE(onnx, nullptr);
  EXPECT_EQ(SherpaOnnxOfflineTtsSampleRate(onnx.get()), kVoiceRate);
}

TEST_P(GeneratedVoice, HelloWorldIsHalfASecondToTwoSecondsOfAudibleSpeech) {
  TtsPtr tts = createDefaultVoice(GetParam());
  ASSERT_NE(tts, nullptr);
  const auto speech = speak(tts.get(), "Hello world.");
  ASSERT_TRUE(speech.has_value());
  EXPECT_EQ(speech->sampleRate, kVoiceRate);
  EXPECT_GE(seconds(*speech), 0.5);
  EXPECT_LE(seconds(*speech), 2.0);
  EXPECT_GE(audibleSeconds(*speech), 0.5);
  EXPECT_LE(audibleSeconds(*speech), seconds(*speech));
  for (float x : speech->samples) {
    ASSERT_TRUE(std::isfinite(x));
    ASSERT_LE(std::fabs(x), 1.0f);
  }
}

TEST_P(GeneratedVoice, OrtAndOnnxFormsGiveIdenticalSamples) {
  TtsPtr ort = createDefaultVoice(GetParam());
  TtsPtr onnx = createOnnxVoice(GetParam());
  ASSERT_NE(ort, nullptr);
  ASSERT_NE(onnx, nullptr);
  for (const char* text : {"Hello world.", "Seven quiet rivers, one bright morning!"}) {
    const auto a = speak(ort.get(), text);
    const auto b = speak(onnx.get(), text);
    ASSERT_TRUE(a.has_value());
    ASSERT_TRUE(b.has_value());
    ASSERT_FALSE(a->samples.empty());
    EXPECT_EQ(a->samples, b->samples) << text;
  }
}

TEST_P(GeneratedVoice, SameTextGivesSameAudioAndOtherTextGivesOtherAudio) {
  TtsPtr tts = createDefaultVoice(GetParam());
  ASSERT_NE(tts, nullptr);
  const auto first = speak(tts.get(), "Hello world.");
  const auto again = speak(tts.get(), "Hello world.");
  const auto other = speak(tts.get(), "Mellow bird.");
  ASSERT_TRUE(first && again && other);
  EXPECT_EQ(first->samples, again->samples);
  EXPECT_NE(first->samples, other->samples);
}

TEST_P(GeneratedVoice, LongerTextGivesLongerAudio) {
  TtsPtr tts = createDefaultVoice(GetParam());
  ASSERT_NE(tts, nullptr);
  const auto shortSpeech = speak(tts.get(), "Hello world.");
  const auto longSpeech = speak(
      tts.get(), "Hello world. This sentence carries many more words than the greeting before it.");
  ASSERT_TRUE(shortSpeech && longSpeech);
  EXPECT_GT(seconds(*longSpeech), 2.0 * seconds(*shortSpeech));
  EXPECT_GT(audibleSeconds(*longSpeech), 2.0 * audibleSeconds(*shortSpeech));
}

INSTANTIATE_TEST_SUITE_P(Voices, GeneratedVoice, ::testing::ValuesIn(kVoices),
                         [](const ::testing::TestParamInfo<VoiceFiles>& info) {
                           return std::string(info.param.stem).substr(0, 5);
                         });

// ---- Recognizer -------------------------------------------------------------

struct RecognizerDeleter {
  void operator()(const SherpaOnnxOnlineRecognizer* r) const { SherpaOnnxDestroyOnlineRecognizer(r); }
};
using RecognizerPtr = std::unique_ptr<const SherpaOnnxOnlineRecognizer, RecognizerDeleter>;

struct StreamDeleter {
  void operator()(const SherpaOnnxOnlineStream* s) const { SherpaOnnxDestroyOnlineStream(s); }
};
using StreamPtr = std::unique_ptr<const SherpaOnnxOnlineStream, StreamDeleter>;

RecognizerPtr createRecognizer() {
  const RecognizerConfig config(
      (filesDir() / "ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort").string(),
      (filesDir() / "tokens.txt").string(), (filesDir() / "HLG.fst").string());
  try {
    return RecognizerPtr(SherpaOnnxCreateOnlineRecognizer(&config.record()));
  } catch (...) {
    return nullptr;
  }
}

// Feeds samples in blocks of `block` frames (0 = all at once), decoding while
// ready after each block, and returns the text.
std::optional<std::string> recognise(const SherpaOnnxOnlineRecognizer* recognizer,
                                     const std::vector<float>& samples, int rate, size_t block) {
  try {
    StreamPtr stream(SherpaOnnxCreateOnlineStream(recognizer));
    if (!stream) return std::nullopt;
    const size_t step = block == 0 ? samples.size() : block;
    for (size_t i = 0; i < samples.size(); i += step) {
      const size_t n = std::min(step, samples.size() - i);
      SherpaOnnxOnlineStreamAcceptWaveform(stream.get(), rate, samples.data() + i,
                                           static_cast<int32_t>(n));
      while (SherpaOnnxIsOnlineStreamReady(recognizer, stream.get())) {
        SherpaOnnxDecodeOnlineStream(recognizer, stream.get());
      }
    }
    const SherpaOnnxOnlineRecognizerResult* result =
        SherpaOnnxGetOnlineStreamResult(recognizer, stream.get());
    if (result == nullptr) return std::nullopt;
    std::string text = result->text ? result->text : "";
    SherpaOnnxDestroyOnlineRecognizerResult(result);
    return text;
  } catch (...) {
    return std::nullopt;
  }
}

using known_audio::readWav;

std::vector<known_audio::KnownAudio> readManifest() { return known_audio::readKnownAudio(testdataDir()); }

TEST(GeneratedRecognizer, ManifestListsKnownAudioAtBothRates) {
  const auto known = readManifest();
  ASSERT_FALSE(known.empty());
  size_t at16k = 0, at48k = 0;
  for (const auto& k : known) {
    EXPECT_FALSE(k.text.empty()) << k.file;
    at16k += k.rate == 16000;
    at48k += k.rate == 48000;
  }
  EXPECT_GT(at16k, 0u);
  EXPECT_GT(at48k, 0u);
}

TEST(GeneratedRecognizer, LoadsWithTheFixedConfigurationFromDefaultPaths) {
  EXPECT_NE(createRecognizer(), nullptr);
}

TEST(GeneratedRecognizer, EachKnownWavDecodesToItsTextInBlocksAndAllAtOnce) {
  RecognizerPtr recognizer = createRecognizer();
  ASSERT_NE(recognizer, nullptr);
  const auto known = readManifest();
  ASSERT_FALSE(known.empty());
  for (const auto& k : known) {
    const auto wav = readWav(testdataDir() / k.file);
    ASSERT_TRUE(wav.has_value()) << k.file;
    ASSERT_EQ(wav->rate, k.rate) << k.file;
    ASSERT_FALSE(wav->samples.empty()) << k.file;
    EXPECT_EQ(recognise(recognizer.get(), wav->samples, wav->rate, 480), k.text) << k.file;
    EXPECT_EQ(recognise(recognizer.get(), wav->samples, wav->rate, 0), k.text) << k.file;
  }
}

TEST(GeneratedRecognizer, SilenceAndOffBandTonesDecodeToNothing) {
  RecognizerPtr recognizer = createRecognizer();
  ASSERT_NE(recognizer, nullptr);
  const int rate = 16000;
  std::vector<float> silence(3 * rate, 0.0f);
  EXPECT_EQ(recognise(recognizer.get(), silence, rate, 480), std::string());

  // 700 Hz and 3300 Hz lie between the recognizer's tone bands.
  std::vector<float> offBand(3 * rate, 0.0f);
  const double kPi = 3.14159265358979323846;
  for (int i = 0; i < rate / 2; ++i) {
    offBand[rate / 10 + i] = 0.4f * static_cast<float>(std::sin(2 * kPi * 700.0 * i / rate));
    offBand[rate + i] = 0.4f * static_cast<float>(std::sin(2 * kPi * 3300.0 * i / rate));
  }
  EXPECT_EQ(recognise(recognizer.get(), offBand, rate, 480), std::string());
}

TEST(GeneratedRecognizer, ReversedKnownAudioDoesNotDecodeToTheSameText) {
  RecognizerPtr recognizer = createRecognizer();
  ASSERT_NE(recognizer, nullptr);
  const auto known = readManifest();
  ASSERT_FALSE(known.empty());
  const auto wav = readWav(testdataDir() / known.front().file);
  ASSERT_TRUE(wav.has_value());
  // Move the tone part to the end in reverse order, keeping trailing silence.
  std::vector<float> reversed(wav->samples.rbegin(), wav->samples.rend());
  reversed.insert(reversed.end(), static_cast<size_t>(wav->rate), 0.0f);
  const auto text = recognise(recognizer.get(), reversed, wav->rate, 480);
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(*text, known.front().text);
}

}  // namespace
