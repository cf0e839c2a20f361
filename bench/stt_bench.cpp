// Recognizer intake: consume of one 480-frame 48000 Hz block (with a memcpy
// of the same bytes as floor), and processAudio on 10 s of buffered
// 16000 Hz audio against the engine's own loop (AcceptWaveform, decode
// while ready, get result) on a recognizer configured identically, the two
// alternating in one benchmark.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "BenchSupport.h"
#include "engine/EngineConfig.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

// 10 s of the recognizer's 16000 Hz test audio, the files one after another.
const std::vector<float>& tenSeconds() {
  static const std::vector<float> audio = [] {
    std::vector<std::vector<float>> clips;
    for (const char* name : {"hello_world_16000.wav", "good_world_16000.wav", "he_he_go_16000.wav"}) {
      int rate = 0;
      clips.push_back(bench::readWav(bench::testdataDir() + "/" + name, &rate));
    }
    std::vector<float> all;
    for (std::size_t i = 0; all.size() < 160000; ++i) {
      const auto& clip = clips[i % clips.size()];
      if (clip.empty() && i > 3) break;
      all.insert(all.end(), clip.begin(), clip.end());
    }
    all.resize(160000, 0.0f);
    return all;
  }();
  return audio;
}

void BM_SttConsume_48k_Mono480(benchmark::State& state) {
  SherpaSTTNode node;  // a fresh ring buffer: 900 blocks fit in its 480000 frames
  AudioBusFormat format{48000, 1};
  node.setBusFormat(format);
  bench::Block block(1, 480, 48000);
  for (unsigned i = 0; i < 480; ++i) block.channel(0)[i] = 0.01f * static_cast<float>(i % 7);
  long refused = 0;
  for (auto _ : state) {
    if (!node.consume(block.bus())) ++refused;
    benchmark::ClobberMemory();
  }
  state.counters["refused"] = static_cast<double>(refused);
  state.SetItemsProcessed(state.iterations() * 480);
}

void BM_Memcpy_48k_Mono480(benchmark::State& state) {
  std::vector<float> ring(480000);
  bench::Block block(1, 480, 48000);
  std::size_t position = 0;
  for (auto _ : state) {
    if (position + 480 > ring.size()) position = 0;
    std::memcpy(ring.data() + position, block.channel(0), sizeof(float) * 480);
    position += 480;
    benchmark::DoNotOptimize(ring.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 480);
}

// The engine's loop on a recognizer configured as the node configures it.
struct DirectRecognizer {
  RecognizerConfig config{resolveSTTModelPath(), resolveSTTTokensPath(), resolveSTTGraphPath()};
  const SherpaOnnxOnlineRecognizer* recognizer = nullptr;
  const SherpaOnnxOnlineStream* stream = nullptr;
  DirectRecognizer() {
    recognizer = SherpaOnnxCreateOnlineRecognizer(&config.record());
    stream = SherpaOnnxCreateOnlineStream(recognizer);
  }
  ~DirectRecognizer() {
    SherpaOnnxDestroyOnlineStream(stream);
    SherpaOnnxDestroyOnlineRecognizer(recognizer);
  }
  std::string decode(const std::vector<float>& samples) {
    SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, samples.data(), static_cast<int32_t>(samples.size()));
    while (SherpaOnnxIsOnlineStreamReady(recognizer, stream) != 0) SherpaOnnxDecodeOnlineStream(recognizer, stream);
    const SherpaOnnxOnlineRecognizerResult* result = SherpaOnnxGetOnlineStreamResult(recognizer, stream);
    if (SherpaOnnxOnlineStreamIsEndpoint(recognizer, stream) != 0) SherpaOnnxOnlineStreamReset(recognizer, stream);
    std::string text = result != nullptr && result->text != nullptr ? result->text : "";
    if (result != nullptr) SherpaOnnxDestroyOnlineRecognizerResult(result);
    return text;
  }
};

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_SttProcessAudio10s(benchmark::State& state) {
  const std::vector<float>& audio = tenSeconds();
  SherpaSTTNode node;
  AudioBusFormat format{16000, 1};
  node.setBusFormat(format);
  DirectRecognizer direct;
  bench::Block block(1, 160, 16000);
  auto fill = [&] {
    for (std::size_t p = 0; p + 160 <= audio.size(); p += 160) {
      std::memcpy(block.channel(0), audio.data() + p, sizeof(float) * 160);
      node.consume(block.bus());
    }
  };
  std::string nodeText, directText;
  auto runNode = [&] {
    fill();
    const auto t0 = std::chrono::steady_clock::now();
    nodeText = node.processAudio();
    return seconds(t0, std::chrono::steady_clock::now());
  };
  auto runDirect = [&] {
    const auto t0 = std::chrono::steady_clock::now();
    directText = direct.decode(audio);
    return seconds(t0, std::chrono::steady_clock::now());
  };
  std::vector<double> nodeTimes, directTimes;
  bench::timeAlternatingPairs(state, runNode, runDirect, nodeTimes, directTimes);
  state.counters["direct_ms"] = bench::median(directTimes) * 1e3;
  state.counters["node_ms"] = bench::median(nodeTimes) * 1e3;
  bench::put("stt/node_median_ms", bench::median(nodeTimes) * 1e3);
  bench::put("stt/direct_median_ms", bench::median(directTimes) * 1e3);
  bench::put("stt/pairs", static_cast<double>(nodeTimes.size()));
  bench::put("stt/same_text", nodeText == directText ? 1 : 0);
}

}  // namespace

BENCHMARK(BM_SttConsume_48k_Mono480)->Iterations(900)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK(BM_Memcpy_48k_Mono480)->MinTime(0.2)->Repetitions(5);
BENCHMARK(BM_SttProcessAudio10s)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
