// Engine overhead of a synthesis through the node: callAction("synthesize")
// (synchronous; the item is published when it returns) against
// SherpaOnnxOfflineTtsGenerate on an engine made from the same voice files
// with the same configuration. The two alternate, call by call, in one
// benchmark; the iteration time is the node's, the direct time a counter.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "BenchSupport.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_Synthesize30Words(benchmark::State& state) {
  SherpaTTSNode node{QVAnyMap{}};
  bench::DirectVoice direct;
  const std::string text = bench::wordsText(30);
  const QVAnyMap params{{"text", QVAny(text)}};
  auto runNode = [&] {
    const auto t0 = std::chrono::steady_clock::now();
    node.callAction("synthesize", params);
    return seconds(t0, std::chrono::steady_clock::now());
  };
  auto runDirect = [&] {
    const auto t0 = std::chrono::steady_clock::now();
    const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(direct.tts, text.c_str(), 0, 1.0f);
    const double s = seconds(t0, std::chrono::steady_clock::now());
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return s;
  };
  runNode();  // warm-up of both engines
  runDirect();
  std::vector<double> nodeTimes, directTimes;
  bench::timeAlternatingPairs(state, runNode, runDirect, nodeTimes, directTimes);
  const double nodeMedian = bench::median(nodeTimes);
  const double directMedian = bench::median(directTimes);
  double nodeSum = 0, directSum = 0;
  for (double t : nodeTimes) nodeSum += t;
  for (double t : directTimes) directSum += t;
  state.counters["direct_ms"] = directMedian * 1e3;
  state.counters["node_ms"] = nodeMedian * 1e3;
  bench::put("synth/node_median_ms", nodeMedian * 1e3);
  bench::put("synth/direct_median_ms", directMedian * 1e3);
  bench::put("synth/node_mean_ms", nodeSum / nodeTimes.size() * 1e3);
  bench::put("synth/direct_mean_ms", directSum / directTimes.size() * 1e3);
  bench::put("synth/pairs", static_cast<double>(nodeTimes.size()));
}

}  // namespace

BENCHMARK(BM_Synthesize30Words)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);
