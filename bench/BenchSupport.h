// Shared pieces of the benchmarks: owning audio blocks (the tests' kit), the default voice
// and recognizer files, a WAV reader, resident memory, and the store of
// measured values that the tables are printed from.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/EngineConfig.h"
#include "engine/SherpaOnnxCApi.h"
#include "support/TestBlock.h"

namespace bench {

// A block of non-interleaved audio that owns its samples.
using Block = test_kit::TestBlock;

// The engine configured exactly as the node configures it (the node's own
// VoiceConfig), for the default English voice or the given files; `tts` is
// null when the engine refused the files.
struct DirectVoice {
  DirectVoice();
  DirectVoice(std::string modelPath, std::string tokensPath, std::string dataDirPath);
  ~DirectVoice();
  DirectVoice(const DirectVoice&) = delete;
  DirectVoice& operator=(const DirectVoice&) = delete;
  std::vector<float> generate(const std::string& text) const;
  quorvel::extensions::sherpa::VoiceConfig config;
  const SherpaOnnxOfflineTts* tts = nullptr;
};

// A voice's three files. `heavy`: the fixture whose generation costs what a
// real voice's costs (the demonstration voice stands in when it is absent).
struct VoiceFiles {
  std::string model, tokens, dataDir;
  bool heavy = false;
};
VoiceFiles costlyVoice();

// Mono 16-bit PCM WAV samples as floats; empty when unreadable.
std::vector<float> readWav(const std::string& path, int* rate);
// Folder holding the recognizer's test audio, beside the executable.
std::string testdataDir();

// VmRSS of this process in KiB.
long residentKiB();
// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg
// gives them ("?" when unreadable): the benchmarks share the machine.
std::string loadAverage();

// Ten sentences of 50 bytes or more, for texts and streamed trials.
const std::vector<std::string>& benchSentences();

// A text of `words` words built from a fixed word list.
std::string wordsText(int words);
// About 90 s of speech worth of text for the long playing item.
std::string longText();

// Values measured during the run, by name; tables read them at the end.
std::map<std::string, double>& values();
void put(const std::string& name, double value);
double get(const std::string& name, double fallback = -1);

// Median of a copy of `v`.
double median(std::vector<double> v);

// `v` printed with a printf format of one double, for table cells.
std::string fmt(const char* format, double v);

// Times the node and the direct engine path in alternating order, once per
// benchmark iteration, so drift on a shared machine hits both alike. Each
// callable returns its own elapsed seconds; the node's is the iteration time.
template <typename State, typename RunNode, typename RunDirect>
void timeAlternatingPairs(State& state, RunNode runNode, RunDirect runDirect, std::vector<double>& nodeTimes,
                          std::vector<double>& directTimes) {
  bool nodeFirst = true;
  for (auto _ : state) {
    double n = 0, d = 0;
    if (nodeFirst) {
      n = runNode();
      d = runDirect();
    } else {
      d = runDirect();
      n = runNode();
    }
    nodeFirst = !nodeFirst;
    nodeTimes.push_back(n);
    directTimes.push_back(d);
    state.SetIterationTime(n);
  }
}

}  // namespace bench
