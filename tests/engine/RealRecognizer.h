// The generated recognizer and its known test audio beside the test program,
// for the tests that run the recognition node on the real engine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

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

// Hands `samples` to `node`'s consume in blocks of `block` frames (all at
// once for 0), calling processAudio every `decodeEvery` blocks; returns the
// text of the last call. `Node`: the node or its internals.
template <typename Node>
std::string feed(Node& node, std::vector<float> samples, std::size_t block, int decodeEvery) {
  const std::size_t step = block == 0 ? samples.size() : block;
  std::string text;
  int sinceDecode = 0;
  for (std::size_t i = 0; i < samples.size(); i += step) {
    float* start = samples.data() + i;
    quorvel::AudioBuffer<float> buffer(1, static_cast<unsigned>(std::min(step, samples.size() - i)), false, 0, &start);
    quorvel::AudioBus bus(&buffer);
    EXPECT_TRUE(node.consume(bus)) << "block at " << i << " dropped";
    if (++sinceDecode == decodeEvery) {
      text = node.processAudio();
      sinceDecode = 0;
    }
  }
  if (sinceDecode > 0) text = node.processAudio();
  return text;
}

}  // namespace real_recognizer
