#include "EngineVersion.h"

#include <quorvel/Logger.h>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

std::string engineVersion() {
  const char* v = SherpaOnnxGetVersionStr();
  return v != nullptr ? std::string(v) : std::string();
}

// Asked at every load, and every refused load says why, like the other
// refusals of a load.
bool engineVersionMatches(const std::string& nodeClass) {
  const std::string found = engineVersion();
  if (found == kExpectedEngineVersion) return true;
  Logger::error("[" + nodeClass + "] Engine version " + found + " found, " + kExpectedEngineVersion +
                " required; no model will be loaded");
  return false;
}

}  // namespace quorvel::extensions::sherpa
