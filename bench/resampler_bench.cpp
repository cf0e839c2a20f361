// The converter comparison: the host's AudioGraphResampler (libsoxr, low
// latency), libsamplerate SRC_SINC_FASTEST and SRC_SINC_MEDIUM_QUALITY,
// speexdsp quality 5; 16000 Hz to 48000 and 44100 Hz. Speed is a Google
// Benchmark per converter and rate; quality and lookahead are measured by
// measureConverters().
#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

#include <quorvel/AudioGraphResampler.h>

#include "BenchSupport.h"
#include "Converters.h"

namespace bench {

namespace {

class HostConverter : public Converter {
 public:
  HostConverter(int outputRate, Source& source) : rate_(outputRate), resampler_(kSourceRate, kSourceBlock) {
    resampler_.setNumberOfBuses(0, 1);
    resampler_.setProcessCallback([&source](quorvel::AudioBusList&, quorvel::AudioBusList& out) {
      source.pull(out.getBus(0)->getBuffer()->getWritePointer(0), kSourceBlock);
      return true;
    });
  }
  void process(float* out, unsigned frames) override {
    float* channels[1] = {out};
    quorvel::AudioBuffer<float> buffer(1, frames, false, rate_, channels);
    quorvel::AudioBusArray<0> in;
    quorvel::AudioBusArray<1> outBuses;
    outBuses.getBus(0)->setBuffer(&buffer);
    resampler_.process(in, outBuses);
  }

 private:
  int rate_;
  quorvel::AudioGraphResampler resampler_;
};

class SrcConverter : public Converter {
 public:
  SrcConverter(int type, int outputRate, Source& source)
      : source_(source), ratio_(static_cast<double>(outputRate) / kSourceRate), block_(kSourceBlock) {
    int error = 0;
    state_ = src_callback_new(&SrcConverter::input, type, 1, &error, this);
  }
  ~SrcConverter() override { src_delete(state_); }
  void process(float* out, unsigned frames) override {
    unsigned done = 0;
    while (done < frames) {
      const long n = src_callback_read(state_, ratio_, frames - done, out + done);
      if (n <= 0) break;
      done += static_cast<unsigned>(n);
    }
    if (done < frames) std::memset(out + done, 0, sizeof(float) * (frames - done));
  }

 private:
  static long input(void* self, float** data) {
    auto* s = static_cast<SrcConverter*>(self);
    s->source_.pull(s->block_.data(), kSourceBlock);
    *data = s->block_.data();
    return kSourceBlock;
  }
  Source& source_;
  double ratio_;
  std::vector<float> block_;
  SRC_STATE* state_ = nullptr;
};

class SpeexConverter : public Converter {
 public:
  SpeexConverter(int outputRate, Source& source) : source_(source), fifo_(kSourceBlock) {
    int error = 0;
    state_ = speex_resampler_init(1, kSourceRate, static_cast<spx_uint32_t>(outputRate), 5, &error);
  }
  ~SpeexConverter() override { speex_resampler_destroy(state_); }
  void process(float* out, unsigned frames) override {
    unsigned done = 0;
    while (done < frames) {
      if (available_ == 0) {
        source_.pull(fifo_.data(), kSourceBlock);
        cursor_ = 0;
        available_ = kSourceBlock;
      }
      spx_uint32_t inLen = available_;
      spx_uint32_t outLen = frames - done;
      speex_resampler_process_float(state_, 0, fifo_.data() + cursor_, &inLen, out + done, &outLen);
      cursor_ += inLen;
      available_ -= inLen;
      done += outLen;
      if (inLen == 0 && outLen == 0) break;
    }
  }

 private:
  Source& source_;
  std::vector<float> fifo_;
  unsigned cursor_ = 0;
  unsigned available_ = 0;
  SpeexResamplerState* state_ = nullptr;
};

}  // namespace

std::string converterName(ConverterKind kind) {
  switch (kind) {
    case ConverterKind::HostSoxr: return "AudioGraphResampler (soxr HQ, min. phase, low latency)";
    case ConverterKind::SrcSincFastest: return "libsamplerate SRC_SINC_FASTEST";
    case ConverterKind::SrcSincMedium: return "libsamplerate SRC_SINC_MEDIUM_QUALITY";
    case ConverterKind::Speex5: return "speexdsp quality 5";
  }
  return "?";
}

std::string converterKey(ConverterKind kind) {
  switch (kind) {
    case ConverterKind::HostSoxr: return "host";
    case ConverterKind::SrcSincFastest: return "srcfast";
    case ConverterKind::SrcSincMedium: return "srcmed";
    case ConverterKind::Speex5: return "speex5";
  }
  return "?";
}

std::unique_ptr<Converter> makeConverter(ConverterKind kind, int outputRate, Source& source) {
  switch (kind) {
    case ConverterKind::HostSoxr: return std::make_unique<HostConverter>(outputRate, source);
    case ConverterKind::SrcSincFastest: return std::make_unique<SrcConverter>(SRC_SINC_FASTEST, outputRate, source);
    case ConverterKind::SrcSincMedium:
      return std::make_unique<SrcConverter>(SRC_SINC_MEDIUM_QUALITY, outputRate, source);
    case ConverterKind::Speex5: return std::make_unique<SpeexConverter>(outputRate, source);
  }
  return nullptr;
}

namespace {

// In-place radix-2 FFT.
void fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> w(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wk(1);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k];
        const auto v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

constexpr std::size_t kAnalysisFrames = 32768;
constexpr int kToneRegionBins = 12;  // the 7-term window's main lobe is +-7 bins wide

// Converts a sine of `hz` (amplitude 0.5) and returns, in dB, the energy
// outside the tone's bin region relative to the energy inside it.
double outOfToneDb(ConverterKind kind, int outputRate, double hz) {
  Source source;
  long n = 0;
  source.fill = [&](float* d, unsigned frames) {
    for (unsigned i = 0; i < frames; ++i, ++n) {
      d[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / kSourceRate));
    }
  };
  auto converter = makeConverter(kind, outputRate, source);
  const unsigned block = static_cast<unsigned>(outputRate / 100);
  const std::size_t skip = static_cast<std::size_t>(outputRate / 4);
  std::vector<float> out;
  std::vector<float> chunk(block);
  while (out.size() < skip + kAnalysisFrames) {
    converter->process(chunk.data(), block);
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  // 7-term Blackman-Harris window (side lobes below -180 dB).
  static const double c[7] = {0.27105140069342, -0.43329793923448, 0.21812299954311, -0.06592544638803,
                              0.01081174209837, -0.00077658482522, 0.00001388721735};
  std::vector<std::complex<double>> a(kAnalysisFrames);
  for (std::size_t i = 0; i < kAnalysisFrames; ++i) {
    double w = 0;
    for (int k = 0; k < 7; ++k) w += c[k] * std::cos(2 * std::numbers::pi * k * static_cast<double>(i) / kAnalysisFrames);
    a[i] = out[skip + i] * w;
  }
  fft(a);
  const double toneBin = hz * kAnalysisFrames / outputRate;
  double tone = 0, other = 0;
  for (std::size_t k = 0; k <= kAnalysisFrames / 2; ++k) {
    const double power = std::norm(a[k]);
    if (std::abs(static_cast<double>(k) - toneBin) <= kToneRegionBins) tone += power;
    else other += power;
  }
  return 10 * std::log10(std::max(other, 1e-300) / tone);
}

// Source frames handed to the converter beyond the one now leaving its
// output, at the end of each output block (10 ms), in ms: mean and maximum.
// The output position of an impulse calibrates which source frame leaves
// the output when.
void lookaheadMs(ConverterKind kind, int outputRate, double* meanMs, double* maxMs) {
  constexpr long kImpulse = 8000;
  Source source;
  long n = 0;
  source.fill = [&](float* d, unsigned frames) {
    for (unsigned i = 0; i < frames; ++i, ++n) d[i] = n == kImpulse ? 1.0f : 0.0f;
  };
  auto converter = makeConverter(kind, outputRate, source);
  const unsigned block = static_cast<unsigned>(outputRate / 100);
  const int blocks = 150;
  std::vector<float> out;
  std::vector<long> handed;
  std::vector<float> chunk(block);
  for (int b = 0; b < blocks; ++b) {
    converter->process(chunk.data(), block);
    out.insert(out.end(), chunk.begin(), chunk.end());
    handed.push_back(source.handed);
  }
  std::size_t peak = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (std::abs(out[i]) > std::abs(out[peak])) peak = i;
  }
  const double ratio = static_cast<double>(kSourceRate) / outputRate;
  double sum = 0, most = -1e9;
  int count = 0;
  for (int b = 20; b < blocks; ++b) {
    const double lastOut = static_cast<double>((b + 1) * block - 1);
    const double leaving = kImpulse + (lastOut - static_cast<double>(peak)) * ratio;
    const double ahead = static_cast<double>(handed[b]) - (leaving + 1);
    sum += ahead;
    most = std::max(most, ahead);
    ++count;
  }
  *meanMs = sum / count * 1000.0 / kSourceRate;
  *maxMs = most * 1000.0 / kSourceRate;
}

void BM_Convert(benchmark::State& state, ConverterKind kind, int outputRate) {
  Source source;
  long n = 0;
  source.fill = [&](float* d, unsigned frames) {
    for (unsigned i = 0; i < frames; ++i, ++n) {
      d[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(n % 16000) / kSourceRate));
    }
  };
  auto converter = makeConverter(kind, outputRate, source);
  const unsigned block = static_cast<unsigned>(outputRate / 100);
  std::vector<float> out(block);
  for (int i = 0; i < 20; ++i) converter->process(out.data(), block);
  for (auto _ : state) {
    converter->process(out.data(), block);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * block);
}

const bool registered = [] {
  for (int rate : {48000, 44100}) {
    for (ConverterKind kind : kAllConverters) {
      benchmark::RegisterBenchmark(("BM_Convert/" + converterKey(kind) + "/" + std::to_string(rate)).c_str(),
                                   [kind, rate](benchmark::State& s) { BM_Convert(s, kind, rate); })
          ->MinTime(0.2)
          ->Repetitions(3);
    }
  }
  return true;
}();

}  // namespace

void measureConverters() {
  for (int rate : {48000, 44100}) {
    for (ConverterKind kind : kAllConverters) {
      const std::string key = converterKey(kind) + "/" + std::to_string(rate);
      put("thdn1k/" + key, outOfToneDb(kind, rate, 1000));
      put("thdn7k/" + key, outOfToneDb(kind, rate, 7000));
      put("alias79/" + key, outOfToneDb(kind, rate, 7900));
      double mean = 0, most = 0;
      lookaheadMs(kind, rate, &mean, &most);
      put("lookmean/" + key, mean);
      put("lookmax/" + key, most);
    }
  }
}

}  // namespace bench
