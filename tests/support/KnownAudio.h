// The recognizer's known test audio: a minimal WAV reader and the manifest
// (testdata/manifest.json) that lists each file with the text it decodes to.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace known_audio {

struct Wav {
  int rate = 0;
  std::vector<float> samples;
};

inline uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Mono RIFF/WAVE, 16-bit PCM or 32-bit float; nothing for anything else.
inline std::optional<Wav> readWav(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  Wav wav;
  int format = 0, channels = 0, bits = 0;
  bool haveData = false;
  for (size_t pos = 12; pos + 8 <= b.size();) {
    const uint32_t size = le32(&b[pos + 4]);
    const size_t body = pos + 8;
    if (size > b.size() - body) return std::nullopt;
    if (std::memcmp(&b[pos], "fmt ", 4) == 0 && size >= 16) {
      format = le16(&b[body]);
      channels = le16(&b[body + 2]);
      wav.rate = static_cast<int>(le32(&b[body + 4]));
      bits = le16(&b[body + 14]);
    } else if (std::memcmp(&b[pos], "data", 4) == 0) {
      if (channels != 1) return std::nullopt;
      if (format == 1 && bits == 16) {
        for (size_t k = 0; k + 1 < size; k += 2) {
          wav.samples.push_back(static_cast<int16_t>(le16(&b[body + k])) / 32768.0f);
        }
      } else if (format == 3 && bits == 32) {
        for (size_t k = 0; k + 3 < size; k += 4) {
          float v;
          std::memcpy(&v, &b[body + k], 4);
          wav.samples.push_back(v);
        }
      } else {
        return std::nullopt;
      }
      haveData = true;
    }
    pos = body + size + (size & 1);
  }
  if (!haveData) return std::nullopt;
  return wav;
}

struct KnownAudio {
  std::string file;
  std::string text;
  int rate = 0;
  Wav wav;  // empty when the file could not be read
};

// Every entry of the manifest in `testdataDir`, with its audio read.
inline std::vector<KnownAudio> readKnownAudio(const std::filesystem::path& testdataDir) {
  std::ifstream in(testdataDir / "manifest.json");
  std::vector<KnownAudio> out;
  if (!in) return out;
  const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  if (j.is_discarded() || !j.contains("wavs")) return out;
  for (const auto& e : j["wavs"]) {
    KnownAudio k{e.at("file").get<std::string>(), e.at("text").get<std::string>(), e.at("sample_rate").get<int>(), {}};
    if (auto wav = readWav(testdataDir / k.file)) k.wav = std::move(*wav);
    out.push_back(std::move(k));
  }
  return out;
}

}  // namespace known_audio
