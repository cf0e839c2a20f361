// The engine build this library's declarations were written against.
#pragma once

#include <string>

namespace quorvel::extensions::sherpa {

inline constexpr const char* kExpectedEngineVersion = "1.13.4";

// The version string the loaded engine reports ("" if it reports none).
std::string engineVersion();
// True when the loaded engine is the expected build. Otherwise logs an
// error line that begins with the calling node's class name in brackets
// (`nodeClass`, e.g. "SherpaTTSNode"); callers then refuse to create engine
// objects, because the struct layouts would not match.
bool engineVersionMatches(const std::string& nodeClass);

}  // namespace quorvel::extensions::sherpa
