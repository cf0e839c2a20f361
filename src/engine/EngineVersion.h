// The engine build this library's declarations were written against.
#pragma once

#include <string>

namespace quorvel::extensions::sherpa {

inline constexpr const char* kExpectedEngineVersion = "1.13.4";

// The version string the loaded engine reports ("" if it reports none).
std::string engineVersion();
// True when the loaded engine is the expected build. The first call that
// finds a mismatch logs an error line; callers refuse to create engine
// objects then, because the struct layouts would not match.
bool engineVersionMatches();

}  // namespace quorvel::extensions::sherpa
