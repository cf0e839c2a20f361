#include "EngineConfig.h"

#include <cstring>

namespace quorvel::extensions::sherpa {

// Every byte is zeroed, padding included, so that no field is left undefined.

void fillVoiceConfig(SherpaOnnxOfflineTtsConfig& config, const std::string& modelPath,
                     const std::string& tokensPath, const std::string& dataDirPath) {
  std::memset(&config, 0, sizeof config);
  config.model.vits.model = modelPath.c_str();
  config.model.vits.tokens = tokensPath.c_str();
  config.model.vits.data_dir = dataDirPath.c_str();
}

void fillRecognizerConfig(SherpaOnnxOnlineRecognizerConfig& config, const std::string& modelPath,
                          const std::string& tokensPath, const std::string& graphPath) {
  std::memset(&config, 0, sizeof config);
  config.feat_config.sample_rate = 0;
  config.feat_config.feature_dim = 80;
  config.model_config.zipformer2_ctc.model = modelPath.c_str();
  config.model_config.tokens = tokensPath.c_str();
  config.model_config.num_threads = 4;
  config.model_config.provider = "cpu";
  config.model_config.debug = 0;
  config.ctc_fst_decoder_config.graph = graphPath.c_str();
}

void enableRecognizerEndpoints(SherpaOnnxOnlineRecognizerConfig& config, float trailingSilenceAfterSpeech) {
  config.enable_endpoint = 1;
  config.rule1_min_trailing_silence = kNoSpeechSilence;
  config.rule2_min_trailing_silence = trailingSilenceAfterSpeech;
  config.rule3_min_utterance_length = kMaxUtterance;
}

}  // namespace quorvel::extensions::sherpa
