#include "VoiceConfig.h"

#include <cstring>
#include <utility>

namespace quorvel::extensions::sherpa {

void fillVoiceConfig(SherpaOnnxOfflineTtsConfig& config, const std::string& modelPath,
                     const std::string& tokensPath, const std::string& dataDirPath) {
  // Every byte, padding included, so that no field is left undefined.
  std::memset(&config, 0, sizeof config);
  config.model.vits.model = modelPath.c_str();
  config.model.vits.tokens = tokensPath.c_str();
  config.model.vits.data_dir = dataDirPath.c_str();
}

VoiceConfig::VoiceConfig(std::string modelPath, std::string tokensPath, std::string dataDirPath)
    : modelPath_(std::move(modelPath)),
      tokensPath_(std::move(tokensPath)),
      dataDirPath_(std::move(dataDirPath)) {
  fillVoiceConfig(record_, modelPath_, tokensPath_, dataDirPath_);
}

}  // namespace quorvel::extensions::sherpa
