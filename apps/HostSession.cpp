#include "HostSession.h"

#include <unistd.h>

#include <cstdio>

#include <nlohmann/json.hpp>
#include <quorvel/Logger.h>

#include "sherpa/SherpaExtension.h"

namespace qs_cli {

nlohmann::json toJson(const quorvel::QVAny& value) {
  using Type = quorvel::QVAny::Type;
  switch (value.type()) {
    case Type::Bool: return *value.asBool();
    case Type::Int: return *value.asInt();
    case Type::Float: return *value.asFloat();
    case Type::String: return *value.asString();
    case Type::Map: {
      nlohmann::json object = nlohmann::json::object();
      for (const auto& [key, item] : *value.asMap()) object[key] = toJson(item);
      return object;
    }
    default: return nullptr;
  }
}

HostSession::HostSession(const Options& options)
    : options_(options), start_(std::chrono::steady_clock::now()), terminal_(::isatty(2) != 0) {
  quorvel::LogLevel level = quorvel::LogLevel::Warning;
  quorvel::Logger::parseLevel(options.logLevel, level);
  quorvel::Logger::setLevel(level);
  quorvel::extensions::sherpa::SherpaExtension::load();
}

std::shared_ptr<quorvel::NodeFactory> HostSession::factory() {
  auto extension = quorvel::ExtensionManager::getInstance().findExtension("Sherpa");
  if (!extension) {
    fail("the Sherpa extension is not registered");
    return nullptr;
  }
  return extension->getNodeFactory();
}

double HostSession::wallSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void HostSession::reportEvent(const std::string& name, const quorvel::QVAny& payload, double audioSeconds,
                              double wallSeconds) {
  if (wallSeconds < 0) wallSeconds = this->wallSeconds();
  if (options_.json) {
    nlohmann::json line = {{"event", name},
                           {"payload", toJson(payload)},
                           {"audioTime", audioSeconds},
                           {"wallTime", wallSeconds}};
    // Text from outside (a reply command's output) need not be UTF-8: a bad
    // byte is replaced, rather than ending the program.
    std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(stdout);
    return;
  }
  endProgress();
  std::string text;
  if (const quorvel::QVAnyMap* map = payload.asMap(); map != nullptr && map->hasKey("text")) {
    // One event per line: line breaks inside the text are shown escaped.
    text = " \"";
    for (char c : quorvel::QVAny::convert<std::string>(map->at("text"))) text += c == '\n' ? std::string("\\n") : std::string(1, c);
    text += "\"";
  }
  std::fprintf(stderr, "[%7.3f s audio | %7.3f s wall] %s%s\n", audioSeconds, wallSeconds, name.c_str(), text.c_str());
}

void HostSession::progress(const std::string& text) {
  if (!terminal_) return;
  std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
  progressShown_ = true;
}

void HostSession::endProgress() {
  if (!progressShown_) return;
  std::fprintf(stderr, "\r\x1b[K");
  progressShown_ = false;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quorvel-sherpa: %s\n", message.c_str());
  return 1;
}

}  // namespace qs_cli
