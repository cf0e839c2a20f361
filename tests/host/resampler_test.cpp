// AudioGraphResampler: conversion accuracy, timing, block handling, rate
// changes and failure behaviour, all measured on the converted audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include <quorvel/AudioGraphResampler.h>

#include "support/AllocationCounter.h"
#include "support/TestBlock.h"

using namespace quorvel;

namespace allocation_counter = test_kit::allocation_counter;

namespace {

constexpr int kSourceRate = 16000;
constexpr unsigned kSourceBlock = 160;
constexpr double kAmplitude = 0.5;
constexpr double kPi = 3.14159265358979323846;
const float kUnfilled = std::numeric_limits<float>::quiet_NaN();

// sin/cos of 2*pi*k/rate for every k, so a tone of integer frequency f is
// evaluated exactly at sample n through k = (f * n) mod rate.
struct ToneTable {
  explicit ToneTable(int rate) : rate(rate), s(rate), c(rate) {
    for (int k = 0; k < rate; ++k) {
      s[k] = std::sin(2 * kPi * k / rate);
      c[k] = std::cos(2 * kPi * k / rate);
    }
  }
  std::size_t index(int freq, uint64_t n) const { return static_cast<std::size_t>((static_cast<uint64_t>(freq) * n) % rate); }
  int rate;
  std::vector<double> s, c;
};

// Source of sines (one frequency per channel, cycled) that also checks what
// the resampler hands its callback.
struct SineSource {
  SineSource(std::vector<int> freqs) : freqs(std::move(freqs)), table(kSourceRate) {}

  bool operator()(AudioBusList& in, AudioBusList& out) {
    ++calls;
    if (in.getNumberOfBuses() != 0 || in.getBus(0) != nullptr || out.getNumberOfBuses() != 1) ++violations;
    AudioBus* bus = out.getBus(0);
    AudioBuffer<float>* buf = bus != nullptr ? bus->getBuffer() : nullptr;
    if (buf == nullptr) {
      ++violations;
      return false;
    }
    if (buf->getSampleRate() != kSourceRate || buf->getNumberOfFrames() != kSourceBlock ||
        buf->getNumberOfChannels() != expectedChannels)
      ++violations;
    for (unsigned ch = 0; ch < buf->getNumberOfChannels(); ++ch) {
      float* p = buf->getWritePointer(ch);
      int f = freqs[ch % freqs.size()];
      for (unsigned i = 0; i < buf->getNumberOfFrames(); ++i) {
        if (p[i] != 0.0f) ++violations;  // the block must arrive zeroed
        p[i] = static_cast<float>(kAmplitude * table.s[table.index(f, position + i)]);
      }
    }
    position += buf->getNumberOfFrames();
    return true;
  }

  std::vector<int> freqs;
  ToneTable table;
  unsigned expectedChannels = 1;
  uint64_t position = 0;  // source frames pulled so far
  long calls = 0, violations = 0;
};

// A resampler from the source rate and block that pulls its own sine source.
struct SineResampler : AudioGraphResampler {
  explicit SineResampler(std::vector<int> freqs = {1000})
      : AudioGraphResampler(kSourceRate, static_cast<int>(kSourceBlock)), src(std::move(freqs)) {
    setProcessCallback([this](AudioBusList& in, AudioBusList& out) { return src(in, out); });
  }
  SineSource src;
};

// The host side: one output block of up to 4096 frames per channel.
class HostBlock {
 public:
  explicit HostBlock(unsigned channels) : block_(channels, 4096) {}
  AudioBusArray<1>& wrap(unsigned frames, int rate, float fill) {
    for (unsigned c = 0; c < block_.channels(); ++c) std::fill_n(block_.channel(c), frames, fill);
    block_.wrap(frames, rate);
    outs_.getBus(0)->setBuffer(&block_.buffer());
    return outs_;
  }
  const float* channel(unsigned c) const { return block_.channel(c); }
  AudioBusArray<0>& inputs() { return ins_; }

 private:
  test_kit::TestBlock block_;
  AudioBusArray<1> outs_;
  AudioBusArray<0> ins_;
};

struct Rendered {
  std::vector<std::vector<float>> channels;
  long falseResults = 0;
  long unfilledSamples = 0;  // samples process left untouched
  std::size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Runs process with block sizes taken in turn from `blocks` until `total`
// frames have been produced; `afterCall` (if set) runs after every call
// with the frames produced so far.
Rendered render(AudioGraphResampler& r, int rate, unsigned channels, const std::vector<unsigned>& blocks,
                std::size_t total, const std::function<void(std::size_t)>& afterCall = {}) {
  HostBlock host(channels);
  Rendered out;
  out.channels.resize(channels);
  for (auto& ch : out.channels) ch.reserve(total);
  std::size_t done = 0;
  for (std::size_t i = 0; done < total; ++i) {
    unsigned frames = static_cast<unsigned>(std::min<std::size_t>(blocks[i % blocks.size()], total - done));
    if (!r.process(host.inputs(), host.wrap(frames, rate, kUnfilled))) ++out.falseResults;
    for (unsigned c = 0; c < channels; ++c) {
      const float* p = host.channel(c);
      out.unfilledSamples += std::count_if(p, p + frames, [](float v) { return std::isnan(v); });
      out.channels[c].insert(out.channels[c].end(), p, p + frames);
    }
    done += frames;
    if (afterCall) afterCall(done);
  }
  return out;
}

struct ToneFit {
  double phase = 0;  // x ~ amplitude * sin(w n + phase)
  double amplitude = 0, thdnDb = 0, rms = 0, peakResidual = 0;
};

// Least-squares fit of a sine of known frequency to x[first, first + n).
ToneFit fitTone(const std::vector<float>& x, std::size_t first, std::size_t n, int freq, int rate) {
  const ToneTable t(rate);
  double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0, xx = 0;
  for (std::size_t i = first; i < first + n; ++i) {
    std::size_t k = t.index(freq, i);
    double s = t.s[k], c = t.c[k], v = x[i];
    ss += s * s;
    sc += s * c;
    cc += c * c;
    xs += v * s;
    xc += v * c;
    xx += v * v;
  }
  double det = ss * cc - sc * sc;
  double a = (xs * cc - xc * sc) / det;
  double b = (xc * ss - xs * sc) / det;
  ToneFit fit;
  double residualPower = 0;
  for (std::size_t i = first; i < first + n; ++i) {
    std::size_t k = t.index(freq, i);
    double e = x[i] - (a * t.s[k] + b * t.c[k]);
    residualPower += e * e;
    fit.peakResidual = std::max(fit.peakResidual, std::abs(e));
  }
  residualPower /= static_cast<double>(n);
  fit.amplitude = std::hypot(a, b);
  fit.phase = std::atan2(b, a);
  fit.thdnDb = 10 * std::log10(std::max(residualPower, 1e-30) / (0.5 * fit.amplitude * fit.amplitude));
  fit.rms = std::sqrt(xx / static_cast<double>(n));
  return fit;
}

double toDb(double ratio) { return 20 * std::log10(ratio); }

double wrapPhase(double p) { return std::remainder(p, 2 * kPi); }

std::vector<unsigned> randomBlocks(unsigned seed, std::size_t count) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<unsigned> dist(1, 4096);
  std::vector<unsigned> v(count);
  std::generate(v.begin(), v.end(), [&] { return dist(rng); });
  return v;
}

class ResamplerAccuracy : public ::testing::TestWithParam<int> {};

TEST_P(ResamplerAccuracy, OneKilohertzToneKeepsFrequencyLevelAndTimingOverAMinute) {
  const int rate = GetParam();
  SineResampler r;

  // Look-ahead after every call, reported by the resampler and counted here
  // (source frames pulled minus source frames delivered as output; the
  // count includes the unread rest of the current source block).
  double maxLatency = 0, sumLatency = 0, maxAhead = 0;
  long inconsistent = 0, samples = 0;
  auto observe = [&](std::size_t produced) {
    double latency = r.getLatencyFrames();
    double ahead = static_cast<double>(r.src.position) - static_cast<double>(produced) * kSourceRate / rate;
    if (latency > ahead + 1e-6 || latency < ahead - kSourceBlock - 1e-6) ++inconsistent;
    if (produced >= static_cast<std::size_t>(rate)) {  // primed
      maxLatency = std::max(maxLatency, latency);
      maxAhead = std::max(maxAhead, ahead);
      sumLatency += latency;
      ++samples;
    }
  };
  const std::size_t seconds = 60;
  Rendered out = render(r, rate, 1, {static_cast<unsigned>(rate / 100)}, seconds * rate, observe);
  ASSERT_EQ(out.frames(), seconds * rate);
  EXPECT_EQ(out.falseResults, 0);
  EXPECT_EQ(out.unfilledSamples, 0);
  EXPECT_EQ(r.src.violations, 0);
  const std::vector<float>& y = out.channels[0];

  // Distortion and noise over the whole minute after one second of warm-up.
  ToneFit whole = fitTone(y, rate, (seconds - 1) * rate, 1000, rate);
  EXPECT_LE(whole.thdnDb, -90.0);
  EXPECT_NEAR(toDb(whole.amplitude / kAmplitude), 0.0, 0.1);
  EXPECT_NEAR(toDb(whole.rms / (kAmplitude / std::sqrt(2.0))), 0.0, 0.1);

  // Frequency without assuming it: rising zero crossings in 59 s.
  long crossings = 0;
  for (std::size_t i = rate + 1; i < y.size(); ++i) crossings += (y[i - 1] < 0 && y[i] >= 0) ? 1 : 0;
  EXPECT_NEAR(static_cast<double>(crossings), 1000.0 * (seconds - 1), 1.0);

  // Timing: with the constant delay removed (the first second's phase), the
  // phase of every later second stays put; slipping one output sample would
  // move it by 2*pi*1000/rate (> 0.13 rad).
  ToneFit first = fitTone(y, rate, rate, 1000, rate);
  double maxDrift = 0, lastDrift = 0, worstSecondDb = -1e9, worstLevelDb = 0;
  for (std::size_t s = 1; s < seconds; ++s) {
    ToneFit seg = fitTone(y, s * rate, rate, 1000, rate);
    lastDrift = wrapPhase(seg.phase - first.phase);
    maxDrift = std::max(maxDrift, std::abs(lastDrift));
    worstSecondDb = std::max(worstSecondDb, seg.thdnDb);
    double level = toDb(seg.rms / (kAmplitude / std::sqrt(2.0)));
    if (std::abs(level) > std::abs(worstLevelDb)) worstLevelDb = level;
  }
  EXPECT_LT(maxDrift, 0.005);
  EXPECT_LE(worstSecondDb, -90.0);
  EXPECT_LT(std::abs(worstLevelDb), 0.1);
  double measuredFreq = 1000.0 + lastDrift / (2 * kPi * (seconds - 2));
  EXPECT_NEAR(measuredFreq, 1000.0, 1e-3);

  EXPECT_EQ(inconsistent, 0);
  EXPECT_GT(r.getLatencyFrames(), 0.0);
  EXPECT_LE(maxLatency, 0.020 * kSourceRate);
  const double meanLatency = sumLatency / static_cast<double>(samples);

  double phaseDelayMs = std::fmod(-first.phase / (2 * kPi) + 1.0, 1.0);  // in 1 kHz periods = ms
  std::cout << "[ measured ] " << kSourceRate << " -> " << rate << " Hz: THD+N " << whole.thdnDb
            << " dB (worst 1 s " << worstSecondDb << " dB), level " << toDb(whole.rms / (kAmplitude / std::sqrt(2.0)))
            << " dB, phase drift max " << maxDrift << " rad over " << seconds << " s, frequency " << measuredFreq
            << " Hz, look-ahead mean " << meanLatency << " / max " << maxLatency << " source frames = "
            << 1000.0 * meanLatency / kSourceRate << " / " << 1000.0 * maxLatency / kSourceRate
            << " ms (pulled ahead incl. unread block rest max " << 1000.0 * maxAhead / kSourceRate
            << " ms), 1 kHz phase delay " << phaseDelayMs << " ms (mod 1 ms)\n";
  RecordProperty("thdn_db", std::to_string(whole.thdnDb));
  RecordProperty("latency_ms", std::to_string(1000.0 * maxLatency / kSourceRate));
}

INSTANTIATE_TEST_SUITE_P(OutputRates, ResamplerAccuracy, ::testing::Values(48000, 44100),
                         [](const auto& info) { return std::to_string(info.param); });

struct BlockCase {
  const char* name;
  int rate;
  std::vector<unsigned> blocks;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name << " at " << c.rate << " Hz"; }

class ResamplerBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ResamplerBlocks, EveryBlockIsFilledCompletelyWithTheSameAudio) {
  const BlockCase& bc = GetParam();
  const std::size_t total = static_cast<std::size_t>(bc.rate) * 3 / 2;
  SineResampler r;
  Rendered out = render(r, bc.rate, 1, bc.blocks, total);
  ASSERT_EQ(out.frames(), total);
  EXPECT_EQ(out.unfilledSamples, 0);
  EXPECT_EQ(out.falseResults, 0);
  EXPECT_EQ(r.src.violations, 0);

  // A gap, repeat or skip anywhere after warm-up shows as a residual peak.
  const std::size_t warm = bc.rate / 5;
  ToneFit fit = fitTone(out.channels[0], warm, total - warm, 1000, bc.rate);
  EXPECT_LE(fit.thdnDb, -90.0);
  EXPECT_LT(fit.peakResidual, 1e-3);
  EXPECT_NEAR(toDb(fit.amplitude / kAmplitude), 0.0, 0.1);

  // The host's block size does not change the audio: compare with a run in
  // 10 ms blocks from the first sample on.
  SineResampler ref;
  Rendered expected = render(ref, bc.rate, 1, {static_cast<unsigned>(bc.rate / 100)}, total);
  double maxDiff = 0;
  for (std::size_t i = 0; i < total; ++i) maxDiff = std::max(maxDiff, std::abs(double(out.channels[0][i]) - expected.channels[0][i]));
  EXPECT_LT(maxDiff, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    HostBlockSizes, ResamplerBlocks,
    ::testing::Values(BlockCase{"b1", 48000, {1}}, BlockCase{"b7", 48000, {7}}, BlockCase{"b160", 48000, {160}},
                      BlockCase{"b441", 44100, {441}}, BlockCase{"b480", 48000, {480}},
                      BlockCase{"b512", 48000, {512}}, BlockCase{"b4096", 48000, {4096}},
                      BlockCase{"b1_44k", 44100, {1}}, BlockCase{"b4096_44k", 44100, {4096}},
                      BlockCase{"mixed", 44100, {1, 4096, 2, 3, 1023, 1, 64, 4095}},
                      BlockCase{"random48k", 48000, randomBlocks(7, 512)},
                      BlockCase{"random44k", 44100, randomBlocks(11, 512)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResamplerChannels, EachChannelCarriesItsOwnSourceChannel) {
  for (unsigned channels : {2u, 16u}) {
    SCOPED_TRACE(channels);
    SineResampler r({1000, 1500, 700, 2000});
    r.src.expectedChannels = channels;
    Rendered out = render(r, 48000, channels, {480}, 48000);
    EXPECT_EQ(out.unfilledSamples, 0);
    EXPECT_EQ(out.falseResults, 0);
    EXPECT_EQ(r.src.violations, 0);
    for (unsigned c = 0; c < channels; ++c)
      EXPECT_LE(fitTone(out.channels[c], 9600, 38400, r.src.freqs[c % r.src.freqs.size()], 48000).thdnDb, -90.0) << c;
  }
}

TEST(ResamplerChannels, ChangingTheChannelCountReconfigures) {
  SineResampler r({1000, 1500});
  for (unsigned channels : {1u, 2u, 1u}) {
    SCOPED_TRACE(channels);
    r.src.expectedChannels = channels;
    Rendered out = render(r, 48000, channels, {480}, 24000);
    EXPECT_EQ(out.unfilledSamples, 0);
    EXPECT_EQ(out.falseResults, 0);
    for (unsigned c = 0; c < channels; ++c)
      EXPECT_LE(fitTone(out.channels[c], 4800, 19200, r.src.freqs[c], 48000).thdnDb, -90.0) << "channel " << c;
  }
  EXPECT_EQ(r.src.violations, 0);
}

TEST(ResamplerRates, ChangingTheOutputRateBetweenCallsKeepsConverting) {
  SineResampler r;
  for (int rate : {48000, 44100, 48000, 22050, 96000}) {
    SCOPED_TRACE(rate);
    Rendered out = render(r, rate, 1, {static_cast<unsigned>(rate / 100)}, rate / 2);
    EXPECT_EQ(out.unfilledSamples, 0);
    EXPECT_EQ(out.falseResults, 0);
      ToneFit fit = fitTone(out.channels[0], rate / 10, rate / 2 - rate / 10, 1000, rate);
    EXPECT_LE(fit.thdnDb, -90.0);
    EXPECT_NEAR(toDb(fit.amplitude / kAmplitude), 0.0, 0.1);
    EXPECT_GT(r.getLatencyFrames(), 0.0);
    EXPECT_LE(r.getLatencyFrames(), 0.020 * kSourceRate);
  }
  EXPECT_EQ(r.src.violations, 0);
}

TEST(ResamplerRates, ProcessAllocatesNothingOnceConfigured) {
  if (!allocation_counter::available()) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
  SineResampler r;
  HostBlock host(2);
  r.src.expectedChannels = 2;
  std::vector<unsigned> blocks = randomBlocks(3, 200);
  long allocations = 0;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) allocation_counter::start();  // the first round configures
    bool ok = true;
    for (unsigned b : blocks) ok = r.process(host.inputs(), host.wrap(b, 48000, 0.0f)) && ok;
    if (round == 1) allocations = allocation_counter::stop().allocations;
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(r.src.violations, 0);
}

// Output prefilled with 1.0: a false result must leave it silent.
bool processOnce(AudioGraphResampler& r, HostBlock& host, int rate, unsigned frames, bool* silent) {
  bool result = r.process(host.inputs(), host.wrap(frames, rate, 1.0f));
  *silent = std::all_of(host.channel(0), host.channel(0) + frames, [](float v) { return v == 0.0f; });
  return result;
}

TEST(ResamplerFailures, NonPositiveOutputRateGivesSilenceAndFalse) {
  SineResampler r;
  HostBlock host(1);
  bool silent = false;
  for (int rate : {0, -48000}) {
    EXPECT_FALSE(processOnce(r, host, rate, 480, &silent)) << rate;
    EXPECT_TRUE(silent) << rate;
  }
  EXPECT_EQ(r.src.calls, 0);
  EXPECT_EQ(r.getLatencyFrames(), 0.0);
  // A valid rate afterwards converts again, also after a bad call mid-stream.
  EXPECT_TRUE(processOnce(r, host, 48000, 480, &silent));
  EXPECT_FALSE(processOnce(r, host, 0, 480, &silent));
  EXPECT_TRUE(silent);
  Rendered out = render(r, 48000, 1, {480}, 24000);
  EXPECT_EQ(out.falseResults, 0);
  EXPECT_LE(fitTone(out.channels[0], 4800, 19200, 1000, 48000).thdnDb, -90.0);
}

TEST(ResamplerFailures, NonPositiveSourceRateOrBlockGivesSilenceAndFalse) {
  for (auto [rate, block] : std::vector<std::pair<int, int>>{{0, 160}, {-16000, 160}, {16000, 0}, {16000, -5}}) {
    SCOPED_TRACE(::testing::Message() << rate << "/" << block);
    AudioGraphResampler r(rate, block);
    long calls = 0;
    r.setProcessCallback([&calls](AudioBusList&, AudioBusList&) { return ++calls > 0; });
    HostBlock host(1);
    bool silent = false;
    EXPECT_FALSE(processOnce(r, host, 48000, 480, &silent));
    EXPECT_TRUE(silent);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(r.getSourceRate(), rate);
  }
}

TEST(ResamplerFailures, MissingOutputBusOrBufferGivesFalse) {
  SineResampler r;
  AudioBusArray<0> in, noBus;
  AudioBusArray<1> noBuffer;
  EXPECT_FALSE(r.process(in, noBus));
  EXPECT_FALSE(r.process(in, noBuffer));
  EXPECT_EQ(r.src.calls, 0);
}

TEST(ResamplerFailures, FailingCallbackCountsAsSilenceButOutputIsStillFilled) {
  enum class Mode { ReturnFalse, Throw, None };
  for (Mode mode : {Mode::ReturnFalse, Mode::Throw, Mode::None}) {
    SCOPED_TRACE(static_cast<int>(mode));
    AudioGraphResampler r(kSourceRate, static_cast<int>(kSourceBlock));
    long calls = 0;
    if (mode != Mode::None) {
      r.setProcessCallback([&calls, mode](AudioBusList&, AudioBusList& out) -> bool {
        ++calls;
        AudioBuffer<float>* buf = out.getBus(0)->getBuffer();
        for (unsigned i = 0; i < buf->getNumberOfFrames(); ++i) buf->getWritePointer(0)[i] = 0.7f;  // discarded
        if (mode == Mode::Throw) throw std::runtime_error("source failed");
        return false;
      });
    }
    Rendered out = render(r, 48000, 1, {480}, 4800);
    EXPECT_EQ(out.falseResults, 0);
    EXPECT_EQ(out.unfilledSamples, 0);
    double peak = 0;
    for (float v : out.channels[0]) peak = std::max(peak, double(std::abs(v)));
    EXPECT_EQ(peak, 0.0);
    if (mode != Mode::None) {
      EXPECT_GE(calls, static_cast<long>(1600 / kSourceBlock));
    }
  }
}

TEST(ResamplerFailures, LatencyIsZeroBeforeTheFirstCall) {
  AudioGraphResampler r(kSourceRate, static_cast<int>(kSourceBlock));
  EXPECT_EQ(r.getLatencyFrames(), 0.0);
  EXPECT_EQ(r.getSourceRate(), kSourceRate);
  EXPECT_EQ(r.getSourceBlockFrames(), static_cast<int>(kSourceBlock));
}

TEST(ResamplerCost, ReportsTimePerOutputFrameAt48k) {
  // A 1 kHz block at 16 kHz is ten whole periods: copy it, so the timing is
  // the converter's and not the sine generator's.
  std::vector<float> period(kSourceBlock);
  for (unsigned i = 0; i < kSourceBlock; ++i) period[i] = static_cast<float>(kAmplitude * std::sin(2 * kPi * i / 16.0));
  AudioGraphResampler r(kSourceRate, static_cast<int>(kSourceBlock));
  r.setProcessCallback([&period](AudioBusList&, AudioBusList& out) {
    std::copy(period.begin(), period.end(), out.getBus(0)->getBuffer()->getWritePointer(0));
    return true;
  });
  HostBlock host(1);
  const unsigned block = 480;
  const int calls = 2000;  // 20 s of output
  bool ok = r.process(host.inputs(), host.wrap(block, 48000, 0.0f));
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) ok = r.process(host.inputs(), host.wrap(block, 48000, 0.0f)) && ok;
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(ok);
  double perFrame = ns / (static_cast<double>(calls) * block);
  std::cout << "[ measured ] 16000 -> 48000 Hz mono, 480-frame blocks: " << perFrame << " ns per output frame\n";
  RecordProperty("ns_per_output_frame", std::to_string(perFrame));
}

}  // namespace
