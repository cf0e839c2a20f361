// What every command shares: the extension loaded the way a host
// application loads it, the node factory, and the reporting of events
// (human-readable on standard error, or JSON lines on standard output).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>
#include <quorvel/Extension.h>
#include <quorvel/NodeFactory.h>

namespace qs_cli {

struct Options {
  bool json = false;
  std::string logLevel = "warning";
};

class HostSession {
 public:
  explicit HostSession(const Options& options);

  // The Sherpa extension's factory; null (with a message) when absent.
  std::shared_ptr<quorvel::NodeFactory> factory();

  // Prints one event with the output-audio time it happened at, and the
  // wall time (since start) it happened at: now, unless given.
  void reportEvent(const std::string& name, const quorvel::QVAny& payload, double audioSeconds,
                   double wallSeconds = -1.0);
  // A progress line on a terminal only.
  void progress(const std::string& text);
  void endProgress();

  double wallSeconds() const;
  bool json() const { return options_.json; }

 private:
  Options options_;
  std::chrono::steady_clock::time_point start_;
  bool progressShown_ = false;
  bool terminal_ = false;
};

// A map, list of values or value of the framework as JSON (what --json prints).
nlohmann::json toJson(const quorvel::QVAny& value);

// Prints "quorvel-sherpa: <message>" on standard error and returns 1.
int fail(const std::string& message);

}  // namespace qs_cli
