// The engine's recognizer configuration, built in one place: a streaming
// Zipformer CTC model, its token table and its decoding graph, 80 features,
// four threads on the CPU, every other field zero (the engine's own
// defaults: no endpoint detection, its default decoding). The recognition
// node, and the benchmarks and tests that run the engine directly, all build
// it here, so that a comparison of node and engine compares the same
// configuration.
#pragma once

#include <string>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// Zero-fills the whole of `config` and sets the fields above; the record
// points at the characters of the three strings, which must outlive it and
// stay unchanged while it is used.
void fillRecognizerConfig(SherpaOnnxOnlineRecognizerConfig& config, const std::string& modelPath,
                          const std::string& tokensPath, const std::string& graphPath);

// The three paths together with the record that points at them, for callers
// that have no strings of their own to keep. Neither copied nor moved: the
// record's pointers would go stale.
class RecognizerConfig {
 public:
  RecognizerConfig(std::string modelPath, std::string tokensPath, std::string graphPath);
  RecognizerConfig(const RecognizerConfig&) = delete;
  RecognizerConfig& operator=(const RecognizerConfig&) = delete;

  const SherpaOnnxOnlineRecognizerConfig& record() const { return record_; }
  const std::string& modelPath() const { return modelPath_; }
  const std::string& tokensPath() const { return tokensPath_; }
  const std::string& graphPath() const { return graphPath_; }

 private:
  std::string modelPath_;
  std::string tokensPath_;
  std::string graphPath_;
  SherpaOnnxOnlineRecognizerConfig record_;
};

}  // namespace quorvel::extensions::sherpa
