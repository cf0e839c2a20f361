// Runs the Google Benchmarks (render cost, converter speed, engine overhead,
// recognizer intake), then the converter quality and lookahead measurement
// and the streaming first-audio timeline, and prints the tables in
// markdown. `--results=FILE` also writes the tables to FILE.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "Converters.h"

namespace bench {
void measureConverters();
void measureStreaming();
void measureSpeechSooner();
}  // namespace bench

namespace {

// Keeps the console output and records seconds per iteration by run name:
// the median of the repetitions for repeated benchmarks.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  RecordingReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      perIteration[run.run_name.function_name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
};

}  // namespace

using bench::fmt;

int main(int argc, char** argv) {
  quorvel::Logger::setLevel(quorvel::LogLevel::Warning);
  std::string resultsPath;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--results=", 0) == 0) resultsPath = a.substr(10);
    else args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fprintf(stderr, "measuring converter quality and lookahead...\n");
  bench::measureConverters();
  std::fprintf(stderr, "measuring streaming first audio...\n");
  bench::measureStreaming();
  std::fprintf(stderr, "measuring first audio and the streamed answer (real time, about a minute)...\n");
  bench::measureSpeechSooner();

  auto ns = [&](const std::string& name) {
    auto it = reporter.perIteration.find(name);
    return it == reporter.perIteration.end() ? -1.0 : it->second * 1e9;
  };
  std::ostringstream md;

  // 1. Render cost.
  {
    const double node48 = ns("BM_NodeProduce_48k_Stereo480"), bare48 = ns("BM_BareResampler_48k_Stereo480");
    const double node16 = ns("BM_NodeProduce_16k_Mono160"), copy16 = ns("BM_Memcpy_16k_Mono160");
    md << "## 1. Render cost (node produce while an item plays)\n\n"
       << "| Path | Block | Node (ns/block) | Floor | Floor (ns/block) | Ratio | Goal |\n"
       << "|---|---|---|---|---|---|---|\n"
       << "| 48000 Hz, through resampler | 480 frames stereo | " << fmt("%.0f", node48)
       << " | bare AudioGraphResampler, callback copying a preloaded buffer | " << fmt("%.0f", bare48) << " | "
       << fmt("%.3f", node48 / bare48) << " | <= 1.25: " << (node48 / bare48 <= 1.25 ? "met" : "missed") << " |\n"
       << "| 16000 Hz, direct | 160 frames mono | " << fmt("%.1f", node16) << " | memcpy of 640 bytes | "
       << fmt("%.1f", copy16) << " | " << fmt("%.2f", node16 / copy16)
       << "x | <= 3x: " << (node16 / copy16 <= 3 ? "met" : "missed") << " |\n\n";
  }

  // 2. Converters.
  {
    md << "## 2. Resampler choice (16000 Hz mono source, 10 ms output blocks, 160-frame source blocks)\n\n"
       << "THD+N and aliasing: energy outside the tone's bin region (+-12 bins of a 32768-point FFT, 7-term "
          "Blackman-Harris window) relative to the tone, tone amplitude 0.5 (-6 dBFS). Lookahead: source audio "
          "handed to the converter beyond the sample leaving its output, at the end of each output block "
          "(mean / max over 1.3 s). Speed: one 10 ms output block per iteration.\n\n"
       << "| Converter | Output rate | THD+N 1 kHz (dB) | THD+N 7 kHz (dB) | 7.9 kHz outside tone region (dB) | "
          "Lookahead mean / max (ms) | ns per output frame |\n"
       << "|---|---|---|---|---|---|---|\n";
    for (int rate : {48000, 44100}) {
      for (bench::ConverterKind kind : bench::kAllConverters) {
        const std::string key = bench::converterKey(kind) + "/" + std::to_string(rate);
        md << "| " << bench::converterName(kind) << " | " << rate << " | "
           << fmt("%.1f", bench::get("thdn1k/" + key)) << " | " << fmt("%.1f", bench::get("thdn7k/" + key))
           << " | " << fmt("%.1f", bench::get("alias79/" + key)) << " | "
           << fmt("%.2f", bench::get("lookmean/" + key)) << " / " << fmt("%.2f", bench::get("lookmax/" + key))
           << " | " << fmt("%.2f", ns("BM_Convert/" + key) / (rate / 100)) << " |\n";
      }
    }
    md << "\n";
  }

  // 3. Engine overhead.
  {
    const double nodeMs = bench::get("synth/node_median_ms"), directMs = bench::get("synth/direct_median_ms");
    const double nodeMean = bench::get("synth/node_mean_ms"), directMean = bench::get("synth/direct_mean_ms");
    const double overhead = (nodeMs / directMs - 1) * 100;
    md << "## 3. Engine overhead (30-word text, " << fmt("%.0f", bench::get("synth/pairs"))
       << " alternating pairs)\n\n"
       << "| Node callAction synthesize, median (ms) | Direct SherpaOnnxOfflineTtsGenerate, median (ms) | "
          "Overhead of medians | Overhead of means | Goal (< 2%) |\n"
       << "|---|---|---|---|---|\n"
       << "| " << fmt("%.1f", nodeMs) << " | " << fmt("%.1f", directMs) << " | " << fmt("%+.2f%%", overhead)
       << " | " << fmt("%+.2f%%", (nodeMean / directMean - 1) * 100) << " | "
       << (overhead < 2 ? "met" : "missed") << " |\n\n";
  }

  // 4. Streaming first audio.
  {
    const double look48 = bench::get("lookmax/host/48000");
    md << "## 4. Streaming first audio (playback side, output stream time)\n\n"
       << "Frames from the start of the block after the appendStreamingText call that completes the first "
          "sentence (>= 50 bytes) to the first output sample with |x| >= 1e-3, less the piece's own leading "
          "quiet (at the output rate). Generation time is excluded: the graph is driven without pacing. "
       << fmt("%.0f", bench::get("stream/48k/trials")) << " sentences per path.\n\n"
       << "| Path | Block | Latency min / median / max (frames) | Max (ms) | Bound | Goal | Generation, median (ms) |\n"
       << "|---|---|---|---|---|---|---|\n";
    const double bound48 = 480 + look48 * 48.0;
    const double max48 = bench::get("stream/48k/max_frames"), max16 = bench::get("stream/16k/max_frames");
    md << "| 48000 Hz stereo, through resampler | 480 | " << fmt("%.0f", bench::get("stream/48k/min_frames"))
       << " / " << fmt("%.0f", bench::get("stream/48k/median_frames")) << " / " << fmt("%.0f", max48) << " | "
       << fmt("%.2f", max48 / 48.0) << " | one block + lookahead max (" << fmt("%.2f", look48)
       << " ms) = " << fmt("%.0f", bound48) << " frames | " << (max48 <= bound48 ? "met" : "missed") << " | "
       << fmt("%.0f", bench::get("stream/48k/gen_median_ms")) << " |\n"
       << "| 16000 Hz mono, direct | 160 | " << fmt("%.0f", bench::get("stream/16k/min_frames")) << " / "
       << fmt("%.0f", bench::get("stream/16k/median_frames")) << " / " << fmt("%.0f", max16) << " | "
       << fmt("%.2f", max16 / 16.0) << " | one block = 160 frames | " << (max16 <= 160 ? "met" : "missed")
       << " | " << fmt("%.0f", bench::get("stream/16k/gen_median_ms")) << " |\n\n";
  }

  // 5. Recognizer intake.
  {
    const double consume = ns("BM_SttConsume_48k_Mono480");
    const double copy = ns("BM_Memcpy_48k_Mono480");
    const double nodeMs = bench::get("stt/node_median_ms"), directMs = bench::get("stt/direct_median_ms");
    md << "## 5. Recognizer intake\n\n"
       << "| consume, 480 frames mono at 48000 Hz (ns/block, median of 5 x 900 blocks) | memcpy of 1920 bytes "
          "(ns) | processAudio on 10 s at 16000 Hz, median (ms) | Direct engine loop, median (ms) | Overhead | "
          "Same text |\n"
       << "|---|---|---|---|---|---|\n"
       << "| " << fmt("%.1f", consume) << " | " << fmt("%.1f", copy) << " | " << fmt("%.1f", nodeMs) << " | "
       << fmt("%.1f", directMs) << " | " << fmt("%+.2f%%", (nodeMs / directMs - 1) * 100) << " | "
       << (bench::get("stt/same_text") == 1 ? "yes" : "no") << " |\n\n"
       << "(" << fmt("%.0f", bench::get("stt/pairs")) << " alternating pairs.)\n";
  }

  // 6. Speech sooner.
  {
    const bool heavy = bench::get("sooner/heavy") == 1;
    md << "\n## 6. Speech sooner (" << (heavy ? "heavy voice" : "demonstration voice: the heavy voice is absent")
       << ", real-time factor " << fmt("%.3f", bench::get("sooner/rtf")) << ")\n\n"
       << "First audio of \"synthesize\", 48000 Hz stereo, 10 ms blocks rendered at real time; medians of 5. "
       << "The node's sound comes after the voice's own leading quiet and the converter's lookahead ("
       << fmt("%.2f", bench::get("stream/48k/max_frames") / 48.0)
       << " ms, table 4); the goal is read on what remains.\n\n"
       << "| Sentences | Node: call to first sound (ms) | Engine: first sentence (ms) | Engine: whole text (ms) | "
          "Leading quiet (ms) | Node - first sentence - quiet - lookahead (ms) | Goal: within one block (10 ms) |\n"
       << "|---|---|---|---|---|---|---|\n";
    const double lookaheadMs = bench::get("stream/48k/max_frames") / 48.0;
    for (int n : {1, 3, 10}) {
      const std::string k = "sooner/" + std::to_string(n);
      const double node = bench::get(k + "/node_ms"), first = bench::get(k + "/first_callback_ms");
      const double quiet = bench::get(k + "/quiet_ms");
      const double beyond = node - first - quiet - lookaheadMs;
      md << "| " << n << " | " << fmt("%.1f", node) << " | " << fmt("%.1f", first) << " | "
         << fmt("%.1f", bench::get(k + "/whole_ms")) << " | " << fmt("%.1f", quiet) << " | " << fmt("%+.1f", beyond)
         << " | " << (beyond <= 10.0 ? "met" : "missed") << " |\n";
    }
    md << "\nA streamed answer of about 1 kB in word tokens, its final token sent right after the last word, "
       << "rendered at 4x real time (token rates count audio time). At 100 tokens per second the final token "
       << "arrives while the first piece plays; at 10 per second the voice is faster than the text.\n\n"
       << "| Tokens per second | prepareAhead | Pieces | Engine generations on the audio thread | Worst produce (us) | "
          "Blocks with nothing playing between pieces | Every piece heard to its end | Goal |\n"
       << "|---|---|---|---|---|---|---|---|\n";
    for (int rate : {100, 10}) {
      for (const char* mode : {"default", "ahead"}) {
        const std::string k = "sooner/stream/" + std::to_string(rate) + "/" + mode;
        const double generations = bench::get(k + "/audio_thread_generations"), worst = bench::get(k + "/worst_us");
        const double idle = bench::get(k + "/idle_blocks");
        const bool whole = bench::get(k + "/whole") == 1;
        const bool ahead = std::string(mode) == "ahead";
        md << "| " << rate << " | " << (ahead ? "true" : "false") << " | " << fmt("%.0f", bench::get(k + "/pieces"))
           << " | " << fmt("%.0f", generations) << " | " << fmt("%.0f", worst) << " | " << fmt("%.0f", idle) << " | "
           << (whole ? "yes" : "no") << " | "
           << (ahead ? (generations == 0 && worst < 2000 && idle <= 1 && whole ? "met" : "missed") : "(reference)")
           << " |\n";
      }
    }
  }

  std::printf("\n%s", md.str().c_str());
  if (!resultsPath.empty()) {
    std::ofstream out(resultsPath);
    out << "# Benchmark results\n\n" << md.str();
  }
  return 0;
}
