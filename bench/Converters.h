// Pull-model wrappers around the sample-rate converters compared: each one
// fills output blocks and pulls 16000 Hz mono source audio in 160-frame
// blocks from a Source, which counts the frames handed over.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bench {

struct Source {
  // Fills `frames` samples; called once per pulled block.
  std::function<void(float* destination, unsigned frames)> fill;
  long handed = 0;  // source frames handed to the converter so far
  void pull(float* destination, unsigned frames) {
    fill(destination, frames);
    handed += frames;
  }
};

class Converter {
 public:
  virtual ~Converter() = default;
  // Fills out[0 .. frames-1] at the output rate.
  virtual void process(float* out, unsigned frames) = 0;
};

enum class ConverterKind { HostSoxr, SrcSincFastest, SrcSincMedium, Speex5 };
constexpr ConverterKind kAllConverters[] = {ConverterKind::HostSoxr, ConverterKind::SrcSincFastest,
                                            ConverterKind::SrcSincMedium, ConverterKind::Speex5};
std::string converterName(ConverterKind kind);
std::string converterKey(ConverterKind kind);
std::unique_ptr<Converter> makeConverter(ConverterKind kind, int outputRate, Source& source);

constexpr int kSourceRate = 16000;
constexpr unsigned kSourceBlock = 160;

}  // namespace bench
