// voice_cost_bench: the real-time factor (generation wall time / audio
// duration) of the demonstration voice and of its real-cost variant, the
// benchmark fixture whose generation costs about what a real low-quality
// piper voice costs. The engine is called directly, configured as the node
// configures it (the engine's defaults: one thread).
//
// Usage: voice_cost_bench [--rounds=N] [--heavy=MODEL] [--results=FILE]
//   --rounds   rounds over the sentences (default 5); the spread of the
//              rounds is printed, as the machine is shared and noisy
//   --heavy    time another heavy model file instead of the fixture's two
//              (for recalibrating: scripts/models/voice_cost.py writes one)
//   --results  also append the table to FILE
//
// Every round speaks four sentences of different lengths with each voice,
// in alternating order, after one warm-up generation per voice. Each heavy
// voice's audio is compared with the light voice's, sample for sample.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "models/ModelPaths.h"

namespace {

namespace fs = std::filesystem;
using quorvel::extensions::sherpa::executableDirectory;

constexpr double kVoiceRate = 16000.0;

const std::vector<std::string> kSentences = {
    "Hello world.",
    "The quick brown fox jumps over the lazy dog.",
    "Beautiful pictures of old churches near the river were painted by a woman who lived in the "
    "little house beside the bridge for most of her long life.",
    "Good morning. The weather is getting worse, so take the bus home. I will call you tonight.",
};

const fs::path kLightDir = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low";
const fs::path kHeavyDir = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low-real-cost";

struct Timed {
  std::string name;
  std::unique_ptr<bench::DirectVoice> voice;
  std::vector<double> roundRtf;                  // per round: sum of wall / sum of audio
  std::vector<double> roundCpuRtf;               // the same with the thread's CPU time
  std::vector<std::vector<double>> sentenceRtf;  // per sentence, per round
  bool sameAudio = true;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the calling thread, which runs the engine (one thread): unlike
// wall time, it leaves out waiting for a core that other jobs hold.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

using bench::fmt;

int main(int argc, char** argv) {
  int rounds = 5;
  std::string heavyOverride, resultsPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--rounds=", 0) == 0) rounds = std::max(1, std::stoi(a.substr(9)));
    else if (a.rfind("--heavy=", 0) == 0) heavyOverride = a.substr(8);
    else if (a.rfind("--results=", 0) == 0) resultsPath = a.substr(10);
    else {
      std::fprintf(stderr, "usage: voice_cost_bench [--rounds=N] [--heavy=MODEL] [--results=FILE]\n");
      return 2;
    }
  }

  const fs::path files = executableDirectory() / "files";
  const std::string tokens = (files / kLightDir / "tokens.txt").string();
  const std::string dataDir = (files / kLightDir / "espeak-ng-data").string();
  const std::string heavyStem = "en_GB-southern_english_female-low-real-cost";
  std::vector<std::pair<std::string, std::string>> models = {
      {"light (.ort)", (files / kLightDir / "en_GB-southern_english_female-low.with_runtime_opt.ort").string()}};
  if (heavyOverride.empty()) {
    models.push_back({"real-cost (.ort)", (files / kHeavyDir / (heavyStem + ".with_runtime_opt.ort")).string()});
    models.push_back({"real-cost (.onnx)", (files / kHeavyDir / (heavyStem + ".onnx")).string()});
  } else {
    models.push_back({heavyOverride, heavyOverride});
  }

  std::vector<Timed> voices;
  for (const auto& [name, path] : models) {
    Timed t{name, std::make_unique<bench::DirectVoice>(path, tokens, dataDir), {}, {}, {}, true};
    if (t.voice->tts == nullptr) {
      std::fprintf(stderr, "voice_cost_bench: the engine did not load %s (run scripts/models/generate.sh)\n",
                   path.c_str());
      return 1;
    }
    t.sentenceRtf.resize(kSentences.size());
    t.voice->generate(kSentences[0]);  // warm-up: first-run allocations of the engine
    voices.push_back(std::move(t));
  }

  std::vector<std::vector<float>> reference;  // the light voice's audio per sentence
  for (const std::string& s : kSentences) reference.push_back(voices[0].voice->generate(s));
  double totalAudio = 0;
  for (const auto& r : reference) totalAudio += r.size() / kVoiceRate;

  for (int round = 0; round < rounds; ++round) {
    std::vector<double> wall(voices.size(), 0.0), cpu(voices.size(), 0.0);
    for (size_t s = 0; s < kSentences.size(); ++s) {
      const double audioSeconds = reference[s].size() / kVoiceRate;
      for (size_t k = 0; k < voices.size(); ++k) {
        // Alternate the order so that drift of a shared machine hits all alike.
        const size_t index = (round + s) % 2 == 0 ? k : voices.size() - 1 - k;
        Timed& v = voices[index];
        const double cpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const std::vector<float> audio = v.voice->generate(kSentences[s]);
        const double seconds = secondsSince(start);
        cpu[index] += threadCpuSeconds() - cpuStart;
        if (audio != reference[s]) v.sameAudio = false;
        v.sentenceRtf[s].push_back(seconds / audioSeconds);
        wall[index] += seconds;
      }
    }
    for (size_t k = 0; k < voices.size(); ++k) {
      voices[k].roundRtf.push_back(wall[k] / totalAudio);
      voices[k].roundCpuRtf.push_back(cpu[k] / totalAudio);
    }
    std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
  }

  std::ostringstream md;
  md << "## 7. Voice cost: real-time factor (generation wall time / audio duration)\n\n"
     << "Engine defaults (one thread), " << rounds << " rounds over " << kSentences.size() << " sentences of "
     << fmt("%.2f", totalAudio) << " s of audio in all (";
  for (size_t s = 0; s < kSentences.size(); ++s)
    md << (s ? ", " : "") << fmt("%.2f", reference[s].size() / kVoiceRate) << " s";
  md << "). RTF over all sentences per round: median, min and max of the rounds; CPU: with the thread's CPU "
        "time instead of wall time (median); per sentence: the median over the rounds.\n\n"
     << "| Voice | RTF median | min | max | CPU |";
  for (size_t s = 0; s < kSentences.size(); ++s) md << " sentence " << s + 1 << " |";
  md << " Same audio as light |\n|---|---|---|---|---|";
  for (size_t s = 0; s < kSentences.size(); ++s) md << "---|";
  md << "---|\n";
  for (const Timed& v : voices) {
    md << "| " << v.name << " | " << fmt("%.4f", bench::median(v.roundRtf)) << " | "
       << fmt("%.4f", *std::min_element(v.roundRtf.begin(), v.roundRtf.end())) << " | "
       << fmt("%.4f", *std::max_element(v.roundRtf.begin(), v.roundRtf.end())) << " | "
       << fmt("%.4f", bench::median(v.roundCpuRtf)) << " |";
    for (const auto& perRound : v.sentenceRtf) md << " " << fmt("%.4f", bench::median(perRound)) << " |";
    md << " " << (&v == &voices[0] ? "(reference)" : v.sameAudio ? "yes" : "**no**") << " |\n";
  }
  std::printf("\n%s", md.str().c_str());
  if (!resultsPath.empty()) {
    std::ofstream out(resultsPath, std::ios::app);
    out << "\n" << md.str();
  }
  bool allSame = true;
  for (const Timed& v : voices) allSame = allSame && v.sameAudio;
  return allSame ? 0 : 1;
}
