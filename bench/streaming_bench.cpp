// First audio of the streaming path, in output stream time. The graph is
// driven block by block without pacing, so output time stands still while
// the engine generates: the frames counted from the start of the block that
// follows the completing appendStreamingText to the first non-silent output
// sample, less the piece's own leading quiet (its first non-silent sample,
// at the output rate), are purely the playback side's latency.
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace bench {

namespace {

constexpr float kThreshold = 1e-3f;


struct Trial {
  double latencyFrames = 0;
  double generationMs = 0;
};

Trial runTrial(SherpaTTSNode& node, Block& block, const std::string& sentence, std::atomic<bool>& started,
               std::atomic<bool>& finished) {
  const int rate = block.buffer().getSampleRate();
  const unsigned frames = block.frames();
  for (int i = 0; i < 30; ++i) node.produce(block.bus());  // silence: the converter is primed
  // One token per block, each word with its leading space.
  std::vector<std::string> tokens;
  std::size_t start = 0;
  while (start < sentence.size()) {
    std::size_t end = sentence.find(' ', start + 1);
    if (end == std::string::npos) end = sentence.size();
    tokens.push_back(sentence.substr(start, end - start));
    start = end;
  }
  started.store(false);
  finished.store(false);
  Trial trial;
  bool triggered = false;
  for (const std::string& token : tokens) {
    const auto t0 = std::chrono::steady_clock::now();
    node.appendStreamingText(token, false);
    const auto t1 = std::chrono::steady_clock::now();
    if (started.load()) {
      trial.generationMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
      triggered = true;
      break;
    }
    node.produce(block.bus());
  }
  if (!triggered) return trial;
  // The piece's own leading quiet, in source frames.
  // A streamed piece waits in the queue until the render step takes it up.
  auto& state = node.internalsForTesting();
  GeneratedAudioItem* item = state.queuedPieces.front();
  if (item == nullptr) item = state.currentItem.load();
  long quiet = 0;
  while (quiet < item->samplesReady() && std::abs(item->sample(static_cast<int32_t>(quiet))) < kThreshold) ++quiet;
  // Count output frames from the block after the append.
  long counted = -1;
  long rendered = 0;
  for (int b = 0; b < 2000 && counted < 0; ++b) {
    node.produce(block.bus());
    const float* out = block.channel(0);
    for (unsigned i = 0; i < frames; ++i) {
      if (std::abs(out[i]) >= kThreshold) {
        counted = rendered + i;
        break;
      }
    }
    rendered += frames;
  }
  trial.latencyFrames = static_cast<double>(counted) - static_cast<double>(quiet) * rate / 16000.0;
  for (int b = 0; b < 20000 && !finished.load(); ++b) node.produce(block.bus());
  node.clearStreamingBuffer();
  return trial;
}

}  // namespace

void measureStreaming() {
  for (const auto& [rate, channels, frames, key] :
       {std::tuple{48000, 2u, 480u, "48k"}, std::tuple{16000, 1u, 160u, "16k"}}) {
    SherpaTTSNode node{QVAnyMap{}};
    std::atomic<bool> started{false}, finished{false};
    node.addListener("synthesisStarted", [&](const std::string&, const QVAny&) { started.store(true); });
    node.addListener("finished", [&](const std::string&, const QVAny&) { finished.store(true); });
    AudioBusFormat format{rate, channels};
    node.setBusFormat(format);
    Block block(channels, frames, rate);
    std::vector<double> latency, generation;
    // The first five sentences, one per trial.
    for (size_t i = 0; i < 5; ++i) {
      const std::string& sentence = benchSentences()[i];
      Trial t = runTrial(node, block, sentence, started, finished);
      latency.push_back(t.latencyFrames);
      generation.push_back(t.generationMs);
    }
    double lo = latency[0], hi = latency[0];
    for (double v : latency) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    const std::string k = std::string("stream/") + key;
    put(k + "/min_frames", lo);
    put(k + "/max_frames", hi);
    put(k + "/median_frames", median(latency));
    put(k + "/gen_median_ms", median(generation));
    put(k + "/trials", static_cast<double>(latency.size()));
  }
}

}  // namespace bench
