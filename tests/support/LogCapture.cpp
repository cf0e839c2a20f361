#include "LogCapture.h"

#include <algorithm>

namespace testing_support {

LogCapture::LogCapture(quorvel::LogLevel threshold) : previous_(quorvel::Logger::getLevel()) {
  quorvel::Logger::setLevel(threshold);
  quorvel::Logger::setSink([this](quorvel::LogLevel level, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.emplace_back(level, line);
  });
}

LogCapture::~LogCapture() {
  quorvel::Logger::setSink(nullptr);
  quorvel::Logger::setLevel(previous_);
}

std::vector<std::pair<quorvel::LogLevel, std::string>> LogCapture::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> out;
  for (const auto& e : entries()) out.push_back(e.second);
  return out;
}

std::vector<std::string> LogCapture::linesStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : lines()) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

bool LogCapture::contains(const std::string& line) const { return count(line) > 0; }

std::size_t LogCapture::count(const std::string& line) const {
  auto all = lines();
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), line));
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

}  // namespace testing_support
