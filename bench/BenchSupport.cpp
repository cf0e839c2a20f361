#include "BenchSupport.h"

#include <filesystem>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "models/ModelPaths.h"

namespace bench {

DirectVoice::DirectVoice()
    : DirectVoice(quorvel::extensions::sherpa::defaultTTSModelPath("en"),
                  quorvel::extensions::sherpa::defaultTTSTokensPath("en"),
                  quorvel::extensions::sherpa::defaultTTSDataDirPath("en")) {}

DirectVoice::DirectVoice(std::string modelPath, std::string tokensPath, std::string dataDirPath)
    : config(std::move(modelPath), std::move(tokensPath), std::move(dataDirPath)) {
  try {
    tts = SherpaOnnxCreateOfflineTts(&config.record());
  } catch (...) {  // a file that is not a model
    tts = nullptr;
  }
}

const std::vector<std::string>& benchSentences() {
  static const std::vector<std::string> sentences = {
      "The morning train left the station on time and carried people home.",
      "Many quiet people walked towards the old city before the evening came.",
      "A small boat crossed the river while the sun was going down slowly.",
      "They would work until late in the evening and then take the bus home.",
      "The garden behind the house was full of flowers and tall green trees.",
      "Children played in the park while their parents talked on the benches.",
      "The old library opened its doors early for the students every morning.",
      "Rain fell softly on the roofs of the village through the whole night.",
      "A tall man in a grey coat waited patiently at the corner of the street.",
      "The last light of the day faded behind the hills and the town was quiet.",
  };
  return sentences;
}

VoiceFiles costlyVoice() {
  using namespace quorvel::extensions::sherpa;
  VoiceFiles voice{defaultTTSModelPath("en"), defaultTTSTokensPath("en"), defaultTTSDataDirPath("en"), false};
  const std::filesystem::path dir = std::filesystem::path(voice.model).parent_path().parent_path() /
                                    "vits-piper-en_GB-southern_english_female-low-real-cost";
  const std::filesystem::path heavy = dir / "en_GB-southern_english_female-low-real-cost.with_runtime_opt.ort";
  if (std::filesystem::exists(heavy)) {
    voice = VoiceFiles{heavy.string(), (dir / "tokens.txt").string(), (dir / "espeak-ng-data").string(), true};
  }
  return voice;
}

DirectVoice::~DirectVoice() {
  if (tts != nullptr) SherpaOnnxDestroyOfflineTts(tts);
}

std::vector<float> DirectVoice::generate(const std::string& text) const {
  const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts, text.c_str(), 0, 1.0f);
  if (audio == nullptr) return {};
  std::vector<float> samples(audio->samples, audio->samples + audio->n);
  SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
  return samples;
}

std::vector<float> readWav(const std::string& path, int* rate) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> out;
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0) return out;
  std::size_t p = 12;
  int channels = 1, bits = 16;
  while (p + 8 <= data.size()) {
    uint32_t size = 0;
    std::memcpy(&size, data.data() + p + 4, 4);
    const char* id = data.data() + p;
    const char* body = data.data() + p + 8;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      uint16_t ch = 0, bps = 0;
      uint32_t sr = 0;
      std::memcpy(&ch, body + 2, 2);
      std::memcpy(&sr, body + 4, 4);
      std::memcpy(&bps, body + 14, 2);
      channels = ch;
      bits = bps;
      if (rate != nullptr) *rate = static_cast<int>(sr);
    } else if (std::memcmp(id, "data", 4) == 0 && bits == 16) {
      const std::size_t n = std::min<std::size_t>(size, data.size() - p - 8) / 2 / channels;
      for (std::size_t i = 0; i < n; ++i) {
        int16_t s = 0;
        std::memcpy(&s, body + 2 * i * channels, 2);
        out.push_back(static_cast<float>(s) / 32768.0f);
      }
      return out;
    }
    p += 8 + size + (size & 1);
  }
  return out;
}

std::string testdataDir() {
  return (quorvel::extensions::sherpa::executableDirectory() / "testdata").string();
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      long kib = 0;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

std::string wordsText(int words) {
  static const char* list[] = {"the",   "morning", "train", "left",  "the",    "station", "on",   "time",
                               "and",   "carried", "many",  "quiet", "people", "towards", "the",  "old",
                               "city",  "where",   "they",  "would", "work",   "until",   "late", "evening",
                               "before", "going",  "home",  "again", "by",     "bus"};
  std::string text;
  for (int i = 0; i < words; ++i) {
    if (i > 0) text += ' ';
    std::string w = list[i % 30];
    if (i == 0) w[0] = static_cast<char>(w[0] - 'a' + 'A');
    text += w;
  }
  return text + ".";
}

std::string longText() {
  std::string text;
  for (int i = 0; i < 12; ++i) text += wordsText(30) + " ";
  return text;
}

std::map<std::string, double>& values() {
  static std::map<std::string, double> v;
  return v;
}
void put(const std::string& name, double value) { values()[name] = value; }
double get(const std::string& name, double fallback) {
  auto it = values().find(name);
  return it == values().end() ? fallback : it->second;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string fmt(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

}  // namespace bench

namespace bench {

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(in >> one >> five >> fifteen)) return "?";
  return one + " " + five + " " + fifteen;
}

}  // namespace bench
