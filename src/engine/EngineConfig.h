// The configuration records handed to the engine, each built in one place.
// The nodes, and the benchmarks and tests that run the engine directly, all
// build them here, so that a comparison of node and engine compares the
// same configuration.
//
// The fill functions zero-fill the whole record and then set the listed
// fields; the record points at the characters of the three strings, which
// must outlive it and stay unchanged while it is used.
#pragma once

#include <string>
#include <utility>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// A voice: the VITS model, its token table and its espeak-ng data
// directory; every other field zero (the engine's own defaults).
void fillVoiceConfig(SherpaOnnxOfflineTtsConfig& config, const std::string& modelPath,
                     const std::string& tokensPath, const std::string& dataDirPath);

// A recognizer: a streaming Zipformer CTC model, its token table and its
// decoding graph, 80 features, four threads on the CPU; every other field
// zero (the engine's own defaults: no endpoint detection, its default
// decoding).
void fillRecognizerConfig(SherpaOnnxOnlineRecognizerConfig& config, const std::string& modelPath,
                          const std::string& tokensPath, const std::string& graphPath);

// Switches on the engine's endpoint detection in a recognizer record. The
// engine ends a segment at whichever of its three rules is met first:
// rule 1, `kNoSpeechSilence` seconds of silence with nothing decoded;
// rule 2, `trailingSilenceAfterSpeech` seconds of silence after decoded
// text; rule 3, a segment `kMaxUtterance` seconds long. Rules 1 and 3 are
// the engine's usual values.
inline constexpr float kNoSpeechSilence = 2.4f;
inline constexpr float kMaxUtterance = 20.0f;
void enableRecognizerEndpoints(SherpaOnnxOnlineRecognizerConfig& config, float trailingSilenceAfterSpeech);

// A record kept together with the three strings it points at, for callers
// that have no strings of their own to keep.
template <typename Record, void (*Fill)(Record&, const std::string&, const std::string&, const std::string&)>
class OwnedConfig {
 public:
  OwnedConfig(std::string modelPath, std::string tokensPath, std::string thirdPath)
      : modelPath_(std::move(modelPath)), tokensPath_(std::move(tokensPath)), thirdPath_(std::move(thirdPath)) {
    Fill(record_, modelPath_, tokensPath_, thirdPath_);
  }
  // Neither copied nor moved: the record's pointers would go stale.
  OwnedConfig(const OwnedConfig&) = delete;
  OwnedConfig& operator=(const OwnedConfig&) = delete;

  const Record& record() const { return record_; }

 private:
  std::string modelPath_;
  std::string tokensPath_;
  std::string thirdPath_;
  Record record_;
};

// Built from (model, tokens, data directory).
using VoiceConfig = OwnedConfig<SherpaOnnxOfflineTtsConfig, fillVoiceConfig>;
// Built from (model, tokens, graph).
using RecognizerConfig = OwnedConfig<SherpaOnnxOnlineRecognizerConfig, fillRecognizerConfig>;

}  // namespace quorvel::extensions::sherpa
