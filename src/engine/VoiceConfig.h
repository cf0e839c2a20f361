// The engine's voice configuration, built in one place: the VITS model, its
// token table and its espeak-ng data directory, every other field zero (the
// engine's own defaults). The speech node, and the benchmarks and tests that
// run the engine directly, all build it here, so that a comparison of node
// and engine compares the same configuration.
#pragma once

#include <string>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// Zero-fills the whole of `config` and sets the fields above; the record
// points at the characters of the three strings, which must outlive it and
// stay unchanged while it is used.
void fillVoiceConfig(SherpaOnnxOfflineTtsConfig& config, const std::string& modelPath,
                     const std::string& tokensPath, const std::string& dataDirPath);

// The three paths together with the record that points at them, for callers
// that have no strings of their own to keep. Neither copied nor moved: the
// record's pointers would go stale.
class VoiceConfig {
 public:
  VoiceConfig(std::string modelPath, std::string tokensPath, std::string dataDirPath);
  VoiceConfig(const VoiceConfig&) = delete;
  VoiceConfig& operator=(const VoiceConfig&) = delete;

  const SherpaOnnxOfflineTtsConfig& record() const { return record_; }
  const std::string& modelPath() const { return modelPath_; }
  const std::string& tokensPath() const { return tokensPath_; }
  const std::string& dataDirPath() const { return dataDirPath_; }

 private:
  std::string modelPath_;
  std::string tokensPath_;
  std::string dataDirPath_;
  SherpaOnnxOfflineTtsConfig record_;
};

}  // namespace quorvel::extensions::sherpa
