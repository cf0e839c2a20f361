#include "RecognizerConfig.h"

#include <cstring>
#include <utility>

namespace quorvel::extensions::sherpa {

void fillRecognizerConfig(SherpaOnnxOnlineRecognizerConfig& config, const std::string& modelPath,
                          const std::string& tokensPath, const std::string& graphPath) {
  // Every byte, padding included, so that no field is left undefined.
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

RecognizerConfig::RecognizerConfig(std::string modelPath, std::string tokensPath, std::string graphPath)
    : modelPath_(std::move(modelPath)),
      tokensPath_(std::move(tokensPath)),
      graphPath_(std::move(graphPath)) {
  fillRecognizerConfig(record_, modelPath_, tokensPath_, graphPath_);
}

}  // namespace quorvel::extensions::sherpa
