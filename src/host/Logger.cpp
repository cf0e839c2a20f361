#include "quorvel/Logger.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace quorvel {

namespace {

struct LoggerState {
  std::mutex mutex;
  Logger::Sink sink;
  std::atomic<LogLevel> level{LogLevel::Info};
};

LoggerState& state() {
  static LoggerState s;
  return s;
}

}  // namespace

const char* Logger::levelName(LogLevel level) {
  switch (level) {
    case LogLevel::None: return "none";
    case LogLevel::Error: return "error";
    case LogLevel::Warning: return "warning";
    case LogLevel::Info: return "info";
    case LogLevel::Debug: return "debug";
    case LogLevel::Trace: return "trace";
  }
  return "none";
}

bool Logger::parseLevel(const std::string& name, LogLevel& level) {
  for (LogLevel l : {LogLevel::None, LogLevel::Error, LogLevel::Warning, LogLevel::Info,
                     LogLevel::Debug, LogLevel::Trace}) {
    if (name == levelName(l)) {
      level = l;
      return true;
    }
  }
  return false;
}

void Logger::log(LogLevel level, const std::string& line) {
  LoggerState& s = state();
  if (level == LogLevel::None || static_cast<int>(level) > static_cast<int>(s.level.load())) return;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.sink) {
    s.sink(level, line);
  } else {
    std::fprintf(stderr, "[%s] %s\n", levelName(level), line.c_str());
  }
}

void Logger::error(const std::string& line) { log(LogLevel::Error, line); }
void Logger::warning(const std::string& line) { log(LogLevel::Warning, line); }
void Logger::info(const std::string& line) { log(LogLevel::Info, line); }
void Logger::debug(const std::string& line) { log(LogLevel::Debug, line); }
void Logger::trace(const std::string& line) { log(LogLevel::Trace, line); }

void Logger::setLevel(LogLevel level) { state().level.store(level); }
LogLevel Logger::getLevel() { return state().level.load(); }

void Logger::setSink(Sink sink) {
  LoggerState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sink = std::move(sink);
}

}  // namespace quorvel
