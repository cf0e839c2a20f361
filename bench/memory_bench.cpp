// Resident memory of a process that speaks short texts with the
// demonstration voice and plays each to its end (48000 Hz stereo, 480-frame
// blocks through the resampler): VmRSS after 200 and after 2000 syntheses.
// For comparison, the same texts through the engine alone (generate and
// destroy, no node, no playback) in the same kind of process.
// Usage: qs_bench_memory [node|engine] [count]. Prints one markdown table
// row: what ran, VmRSS at start, after count/10 and after count syntheses,
// the ratio, the goal, the C heap in use at the same two points, and the
// wall time.
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

// Bytes the C allocator has handed out and not taken back: separates live
// heap from memory the allocator keeps for reuse.
double heapInUseMiB() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  Logger::setLevel(LogLevel::Warning);
  const bool engineOnly = argc > 1 && std::string(argv[1]) == "engine";
  const int total = argc > 2 ? std::stoi(argv[2]) : 2000;
  const int early = total / 10;
  const char* texts[] = {"Hello there.", "Good morning.", "See you soon.", "Thank you very much.",
                         "Yes.", "It is raining today.", "Number seven.", "Turn left."};
  // One synthesis of text i, through the engine alone or through the node
  // and played to its end.
  std::function<void(int)> speak;
  std::unique_ptr<bench::DirectVoice> voice;
  std::unique_ptr<SherpaTTSNode> node;
  std::atomic<bool> finished{false};
  bench::Block block(2, 480, 48000);
  if (engineOnly) {
    voice = std::make_unique<bench::DirectVoice>();
    speak = [&](int i) {
      SherpaOnnxDestroyOfflineTtsGeneratedAudio(SherpaOnnxOfflineTtsGenerate(voice->tts, texts[i % 8], 0, 1.0f));
    };
  } else {
    node = std::make_unique<SherpaTTSNode>(QVAnyMap{});
    node->addListener("finished", [&](const std::string&, const QVAny&) { finished.store(true); });
    AudioBusFormat format{48000, 2};
    node->setBusFormat(format);
    speak = [&](int i) {
      finished.store(false);
      node->synthesize(std::string(texts[i % 8]));
      for (int b = 0; b < 5000 && !finished.load(); ++b) node->produce(block.bus());
    };
  }
  const long startKiB = bench::residentKiB();
  long earlyKiB = 0;
  double earlyHeap = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 1; i <= total; ++i) {
    speak(i);
    if (i == early) {
      earlyKiB = bench::residentKiB();
      earlyHeap = heapInUseMiB();
    }
  }
  const long lateKiB = bench::residentKiB();
  const double lateHeap = heapInUseMiB();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double ratio = static_cast<double>(lateKiB) / static_cast<double>(earlyKiB);
  std::printf("| %s | %d / %d | %.1f MiB | %.1f MiB | %.1f MiB | %.4f | %s | %.2f / %.2f MiB | %.1f s |\n",
              engineOnly ? "engine alone: generate + destroy" :
                           "node: synthesize + play to the end (48000 Hz stereo, 480-frame blocks)",
              early, total, startKiB / 1024.0, earlyKiB / 1024.0, lateKiB / 1024.0, ratio,
              std::abs(ratio - 1.0) <= 0.05 ? "met" : "missed", earlyHeap, lateHeap, seconds);
  return 0;
}
