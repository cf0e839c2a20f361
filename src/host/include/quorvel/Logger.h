// The framework's process-wide logger.
//
// One finished line per call. Lines below the threshold (default Info) are
// dropped before the sink sees them. The default sink writes
// "[LEVEL] line" to standard error; setSink replaces it (tests use this to
// capture exact lines). Calls from any thread are serialised.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

enum class LogLevel { None = 0, Error = 1, Warning = 2, Info = 3, Debug = 4, Trace = 5 };

class Logger {
 public:
  using Sink = std::function<void(LogLevel, const std::string&)>;

  static void error(const std::string& line);
  static void warning(const std::string& line);
  static void info(const std::string& line);
  static void debug(const std::string& line);
  static void trace(const std::string& line);
  static void log(LogLevel level, const std::string& line);

  // Lines at or above this severity are delivered; None silences all.
  static void setLevel(LogLevel level);
  static LogLevel getLevel();
  // An empty sink restores the default standard-error sink.
  static void setSink(Sink sink);

  // "none", "error", "warning", "info", "debug", "trace".
  static const char* levelName(LogLevel level);
  // Parses a level name; false for an unknown name.
  static bool parseLevel(const std::string& name, LogLevel& level);
};

}  // namespace quorvel
