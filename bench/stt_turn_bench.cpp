// Turn-end and first-word latency of the recognition node with endpoint
// detection, on the generated recognizer and its known test audio.
//
// Each file is played into the node as an audio graph would, in 10 ms
// blocks, with silence before it (0.5, 0.6 or 0.7 s: three phases of the
// polling against the speech) and 3 s after, and the node is polled
// (processSegment) every 100 or 300 ms of audio. Latencies are in audio
// time, which is what a live caller waits, as the mean of the three phases
// (lowest and highest in brackets):
//  - turn end: from the file's last sample of speech to the poll that
//    returns its segment as final, for trailing silence 0.5, 0.8, 1.2 s;
//  - first word: from the file's first sample of speech to the first poll
//    whose text grew, at 300 ms polling (and at 100 ms).
// The decoding work of the poll itself is printed beside them (wall time).
// Speech is where the magnitude exceeds 5% of the file's peak.
//
// Usage: stt_turn_bench [--results=FILE]   (appends the table to FILE)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

constexpr double kLeadSeconds[] = {0.5, 0.6, 0.7};
constexpr double kTailSeconds = 3.0;
constexpr double kSpeechThreshold = 0.05;

struct Clip {
  std::string name;
  int rate = 0;
  std::vector<float> samples;  // lead silence, the file, tail silence
  double speechStart = 0;      // seconds into `samples`
  double speechEnd = 0;
};

Clip clip(const std::string& file, double leadSeconds) {
  Clip c;
  c.name = file;
  std::vector<float> audio = bench::readWav(bench::testdataDir() + "/" + file, &c.rate);
  if (audio.empty()) return c;
  float peak = 0;
  for (float s : audio) peak = std::max(peak, std::abs(s));
  const auto lead = static_cast<size_t>(leadSeconds * c.rate);
  size_t first = audio.size(), last = 0;
  for (size_t i = 0; i < audio.size(); ++i) {
    if (std::abs(audio[i]) > kSpeechThreshold * peak) {
      first = std::min(first, i);
      last = i;
    }
  }
  c.speechStart = static_cast<double>(lead + first) / c.rate;
  c.speechEnd = static_cast<double>(lead + last + 1) / c.rate;
  c.samples.assign(lead, 0.0f);
  c.samples.insert(c.samples.end(), audio.begin(), audio.end());
  c.samples.resize(c.samples.size() + static_cast<size_t>(kTailSeconds * c.rate), 0.0f);
  return c;
}

struct Measured {
  double turnEnd = -1;    // seconds after the last speech sample; -1: no final segment
  double firstWord = -1;  // seconds after the first speech sample; -1: no text
  double finalPollMs = 0;
  std::string text;
};

Measured run(const Clip& c, float silence, double pollSeconds) {
  Measured m;
  SherpaSTTNode node;
  AudioBusFormat format{c.rate, 1};
  if (!node.setEndpointDetection(true, silence) ||
      !node.loadSherpaModel(resolveSTTModelPath(), resolveSTTTokensPath(), resolveSTTGraphPath()) ||
      !node.setBusFormat(format)) {
    return m;
  }
  const unsigned block = static_cast<unsigned>(c.rate / 100);
  const auto pollFrames = static_cast<size_t>(pollSeconds * c.rate);
  bench::Block audio(1, block, c.rate);
  size_t sincePoll = 0;
  for (size_t i = 0; i + block <= c.samples.size() && m.turnEnd < 0; i += block) {
    std::memcpy(audio.channel(0), c.samples.data() + i, sizeof(float) * block);
    node.consume(audio.bus());
    sincePoll += block;
    if (sincePoll < pollFrames) continue;
    sincePoll = 0;
    const double now = static_cast<double>(i + block) / c.rate;
    for (;;) {
      const auto t0 = std::chrono::steady_clock::now();
      const auto r = node.processSegment();
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      if (r.textGrew && m.firstWord < 0) m.firstWord = now - c.speechStart;
      if (!r.isFinal) break;
      if (m.turnEnd < 0) {
        m.turnEnd = now - c.speechEnd;
        m.finalPollMs = ms;
        m.text = r.text;
      }
    }
  }
  return m;
}

// Mean of the phases with the lowest and highest in brackets; "none" when
// a phase measured nothing.
std::string cell(const std::vector<double>& seconds) {
  if (seconds.empty() || *std::min_element(seconds.begin(), seconds.end()) < 0) return "none";
  double sum = 0;
  for (double v : seconds) sum += v;
  return bench::fmt("%.2f s", sum / seconds.size()) + " (" + bench::fmt("%.2f", *std::min_element(seconds.begin(), seconds.end())) +
         "-" + bench::fmt("%.2f", *std::max_element(seconds.begin(), seconds.end())) + ")";
}

}  // namespace

int main(int argc, char** argv) {
  std::string results;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--results=", 10) == 0) results = argv[i] + 10;
  }
  Logger::setLevel(LogLevel::Error);
  const char* files[] = {"hello_world_16000.wav", "good_world_16000.wav", "he_he_go_16000.wav", "hello_world_48000.wav",
                         "he_he_go_48000.wav"};
  std::string table =
      "\n## Turn ends and first words (recognizer with endpoint detection, audio time)\n\n"
      "Mean of three phases of the polling against the speech (lowest-highest).\n\n"
      "| File | Text | Turn end, silence 0.5 s | 0.8 s | 1.2 s | (100 ms polling; work of the final poll, median) | "
      "Turn end at 0.8 s, 300 ms polling | First word, 300 ms polling | First word, 100 ms polling |\n"
      "|---|---|---|---|---|---|---|---|---|\n";
  for (const char* file : files) {
    std::vector<Clip> phases;
    for (double lead : kLeadSeconds) {
      phases.push_back(clip(file, lead));
      if (phases.back().samples.empty()) {
        std::fprintf(stderr, "stt_turn_bench: cannot read %s beside the program (run scripts/models/generate.sh)\n", file);
        return 1;
      }
    }
    std::string text, ends, work;
    std::vector<double> pollMs;
    for (float silence : {0.5f, 0.8f, 1.2f}) {
      std::vector<double> turnEnds;
      for (const Clip& c : phases) {
        const Measured m = run(c, silence, 0.1);
        turnEnds.push_back(m.turnEnd);
        pollMs.push_back(m.finalPollMs);
        if (text.empty()) text = m.text;
      }
      ends += cell(turnEnds) + " | ";
    }
    std::vector<double> slowEnds, slowFirst, fastFirst;
    for (const Clip& c : phases) {
      const Measured slow = run(c, 0.8f, 0.3);
      slowEnds.push_back(slow.turnEnd);
      slowFirst.push_back(slow.firstWord);
      fastFirst.push_back(run(c, 0.8f, 0.1).firstWord);
    }
    table += std::string("| ") + file + " | " + text + " | " + ends + bench::fmt("%.2f ms", bench::median(pollMs)) +
             " | " + cell(slowEnds) + " | " + cell(slowFirst) + " | " + cell(fastFirst) + " |\n";
  }
  std::printf("%s", table.c_str());
  if (!results.empty()) std::ofstream(results, std::ios::app) << table;
  return 0;
}
