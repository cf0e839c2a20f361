#include "EngineVersion.h"

#include <atomic>

#include <quorvel/Logger.h>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

std::string engineVersion() {
  const char* v = SherpaOnnxGetVersionStr();
  return v != nullptr ? std::string(v) : std::string();
}

bool engineVersionMatches() {
  static const bool matches = engineVersion() == kExpectedEngineVersion;
  static std::atomic<bool> reported{false};
  if (!matches && !reported.exchange(true)) {
    Logger::error("[Sherpa] Engine version " + engineVersion() + " found, " + kExpectedEngineVersion +
                  " required; no model will be loaded");
  }
  return matches;
}

}  // namespace quorvel::extensions::sherpa
