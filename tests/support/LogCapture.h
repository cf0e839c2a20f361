// Captures the framework logger's lines for the lifetime of the object.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <quorvel/Logger.h>

namespace testing_support {

class LogCapture {
 public:
  explicit LogCapture(quorvel::LogLevel threshold = quorvel::LogLevel::Trace);
  ~LogCapture();

  std::vector<std::pair<quorvel::LogLevel, std::string>> entries() const;
  std::vector<std::string> lines() const;
  // Lines that start with `prefix`, in order.
  std::vector<std::string> linesStartingWith(const std::string& prefix) const;
  bool contains(const std::string& line) const;
  std::size_t count(const std::string& line) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<quorvel::LogLevel, std::string>> entries_;
  quorvel::LogLevel previous_;
};

}  // namespace testing_support
