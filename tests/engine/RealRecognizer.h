// The generated recognizer and its known test audio beside the test program,
// for the tests that run the recognition node on the real engine.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "models/ModelPaths.h"
#include "support/KnownAudio.h"

namespace real_recognizer {

namespace fs = std::filesystem;
using quorvel::extensions::sherpa::executableDirectory;

inline fs::path testdataDir() { return executableDirectory() / "testdata"; }

inline bool recognizerPresent() {
  using namespace quorvel::extensions::sherpa;
  return fs::exists(defaultSTTModelPath()) && fs::exists(defaultSTTTokensPath()) && fs::exists(defaultSTTGraphPath()) &&
         fs::exists(testdataDir() / "manifest.json");
}

inline std::vector<known_audio::KnownAudio> knownAudio() { return known_audio::readKnownAudio(testdataDir()); }

// The first readable known audio at `rate`.
inline std::optional<known_audio::KnownAudio> knownAudioAt(int rate) {
  for (auto& k : knownAudio()) {
    if (k.rate == rate && !k.wav.samples.empty()) return k;
  }
  return std::nullopt;
}

}  // namespace real_recognizer
