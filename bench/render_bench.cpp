// Render cost of the text-to-speech node while a segment plays, against
// its floors: memcpy of the same bytes (16000 Hz mono, direct path) and the
// bare AudioGraphResampler fed from a preloaded buffer (48000 Hz stereo).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include <quorvel/AudioGraphResampler.h>

#include "BenchSupport.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

// A node that plays the long text. Shortly before the item's end its play
// position is set back to the start (outside the timing, through the
// node's white-box accessor), so every timed block is one of an item that
// simply plays on.
struct PlayingNode {
  SherpaTTSNode node{QVAnyMap{}};
  GeneratedAudioItem* item = nullptr;
  void start() {
    if (item != nullptr) return;
    node.callAction("synthesize", QVAnyMap{{"text", QVAny(bench::longText())}});
    item = node.internalsForTesting().nextItem.load();
  }
  bool nearEnd() const { return item->readPosition.load() > item->samplesReady() - 4000; }
  void rewind() { item->readPosition.store(0); }
};

PlayingNode& playingNode() {
  static PlayingNode* instance = new PlayingNode();
  return *instance;
}

// The voice's audio for the long text, for the floors.
const std::vector<float>& preloaded() {
  static const std::vector<float> samples = [] {
    bench::DirectVoice voice;
    return voice.generate(bench::longText());
  }();
  return samples;
}

void runNode(benchmark::State& state, int rate, unsigned channels, unsigned frames) {
  PlayingNode& p = playingNode();
  AudioBusFormat format{rate, channels};
  p.node.setBusFormat(format);
  p.start();
  bench::Block block(channels, frames, rate);
  for (int i = 0; i < 20; ++i) p.node.produce(block.bus());  // past the first block's set-up
  for (auto _ : state) {
    if (p.nearEnd()) {
      state.PauseTiming();
      p.rewind();
      state.ResumeTiming();
    }
    p.node.produce(block.bus());
    benchmark::DoNotOptimize(block.channel(0));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_NodeProduce_48k_Stereo480(benchmark::State& state) { runNode(state, 48000, 2, 480); }
void BM_NodeProduce_16k_Mono160(benchmark::State& state) { runNode(state, 16000, 1, 160); }

void BM_Memcpy_16k_Mono160(benchmark::State& state) {
  const std::vector<float>& source = preloaded();
  bench::Block block(1, 160, 16000);
  std::size_t position = 0;
  for (auto _ : state) {
    if (position + 160 > source.size()) position = 0;
    std::memcpy(block.channel(0), source.data() + position, sizeof(float) * 160);
    position += 160;
    benchmark::DoNotOptimize(block.channel(0));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 160);
}

void BM_BareResampler_48k_Stereo480(benchmark::State& state) {
  const std::vector<float>& source = preloaded();
  AudioGraphResampler resampler(16000, 160);
  resampler.setNumberOfBuses(0, 1);
  std::size_t position = 0;
  resampler.setProcessCallback([&](AudioBusList&, AudioBusList& out) {
    AudioBuffer<float>* buffer = out.getBus(0)->getBuffer();
    if (position + 160 > source.size()) position = 0;
    for (unsigned c = 0; c < buffer->getNumberOfChannels(); ++c) {
      std::memcpy(buffer->getWritePointer(c), source.data() + position, sizeof(float) * 160);
    }
    position += 160;
    return true;
  });
  bench::Block block(2, 480, 48000);
  AudioBusArray<0> in;
  AudioBusArray<1> out;
  out.getBus(0)->setBuffer(&block.buffer());
  for (int i = 0; i < 20; ++i) resampler.process(in, out);
  for (auto _ : state) {
    resampler.process(in, out);
    benchmark::DoNotOptimize(block.channel(0));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 480);
}

}  // namespace

// Five repetitions each; the tables use the medians.
BENCHMARK(BM_NodeProduce_48k_Stereo480)->MinTime(0.2)->Repetitions(5);
BENCHMARK(BM_BareResampler_48k_Stereo480)->MinTime(0.2)->Repetitions(5);
BENCHMARK(BM_NodeProduce_16k_Mono160)->MinTime(0.2)->Repetitions(5);
BENCHMARK(BM_Memcpy_16k_Mono160)->MinTime(0.2)->Repetitions(5);
