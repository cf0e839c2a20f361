#include "EngineCall.h"

namespace quorvel::extensions::sherpa {

void logEngineError(std::string_view logTag, std::string_view activity, const char* message) {
  // Building the line may itself fail for want of memory; the failure is
  // then reported by the empty result alone.
  try {
    std::string line(logTag);
    line.append(" Engine error while ").append(activity).append(": ").append(message);
    Logger::error(line);
  } catch (...) {
  }
}

}  // namespace quorvel::extensions::sherpa
