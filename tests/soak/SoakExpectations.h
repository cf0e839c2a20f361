// The soak's verdict, shared by the engine-double and real-engine runs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "SoakRun.h"
#include "models/ModelPaths.h"
#include "support/KnownAudio.h"
#include "support/LogCapture.h"

namespace soak {

// The default English voice beside the program, which the reload action loads.
inline VoiceFiles defaultVoice() {
  using namespace quorvel::extensions::sherpa;
  return {defaultTTSModelPath("en"), defaultTTSTokensPath("en"), defaultTTSDataDirPath("en")};
}

// The known "hello world" audio with a second of silence after it, so that
// every loop of it decodes whole.
inline std::vector<float> helloWorldAudio() {
  const auto wav =
      known_audio::readWav(quorvel::extensions::sherpa::executableDirectory() / "testdata" / "hello_world_16000.wav");
  std::vector<float> audio = wav ? wav->samples : std::vector<float>();
  audio.resize(audio.size() + 16000, 0.0f);
  return audio;
}

// Half a minute, or QS_SOAK_SECONDS when set (for longer runs by hand).
inline std::chrono::seconds duration() {
  const char* value = std::getenv("QS_SOAK_SECONDS");
  const long seconds = value != nullptr ? std::atol(value) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 30);
}

inline void expectHealthy(const Report& r) {
  EXPECT_TRUE(r.eventFaults.empty()) << r.eventFaults.size() << " faults in the event sequence, first: "
                                     << (r.eventFaults.empty() ? "" : r.eventFaults.front());
  EXPECT_EQ(r.badBlocks, 0) << "blocks with non-finite samples or channels that differ";
  EXPECT_EQ(r.failedReloads, 0);
  // The run must really have played segments to their end for the event
  // check to mean anything.
  EXPECT_GE(r.finished, 3);
  EXPECT_GT(r.started, r.finished / 2);
  EXPECT_GT(r.decodes, 10);
  // Flat memory: a generous bound, for allocator and engine arena noise.
  const long allowed = std::max(10L * 1024 * 1024, r.rssAfterWarmUp / 10);
  EXPECT_LT(r.rssAtEnd - r.rssAfterWarmUp, allowed) << "resident memory grew from " << r.rssAfterWarmUp << " to "
                                                   << r.rssAtEnd << " bytes";
}

// Soaks `node` (with `recognizer` alongside) under the default options and
// `seed`, prints the report under `title` and checks it, and that no error
// line was logged meanwhile.
inline Report runAndCheck(quorvel::extensions::sherpa::SherpaTTSNode& node,
                          quorvel::extensions::sherpa::SherpaSTTNode& recognizer, uint32_t seed,
                          const std::string& title) {
  // Errors only: the other lines would pile up in the capture.
  testing_support::LogCapture logs(quorvel::LogLevel::Error);
  Options options;
  options.duration = duration();
  options.voice = defaultVoice();
  options.recognizerAudio = helloWorldAudio();
  options.seed = seed;
  const Report report = run(node, &recognizer, options);
  print(title, report);
  expectHealthy(report);
  const auto errors = logs.lines();
  EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, first: " << errors.front();
  return report;
}

}  // namespace soak
