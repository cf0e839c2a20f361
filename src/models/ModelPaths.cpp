#include "ModelPaths.h"

#include <unistd.h>

#include <vector>

#include <quorvel/Logger.h>

namespace quorvel::extensions::sherpa {

namespace fs = std::filesystem;

namespace {

const char* const kSTTModelFile = "ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort";
const char* const kTokensFile = "tokens.txt";
const char* const kGraphFile = "HLG.fst";
const char* const kDataDir = "espeak-ng-data";

struct Voice {
  const char* languageFolder;
  const char* voiceFolder;
  const char* modelFile;
};

const Voice kEnglish{"en_GB", "vits-piper-en_GB-southern_english_female-low",
                     "en_GB-southern_english_female-low.with_runtime_opt.ort"};
const Voice kGerman{"de_DE", "vits-piper-de_DE-oakvale-low", "de_DE-oakvale-low.with_runtime_opt.ort"};

// Exact, case-sensitive codes; nullptr for anything else.
const Voice* voiceFor(const std::string& language) {
  if (language == "en") return &kEnglish;
  if (language == "de") return &kGerman;
  return nullptr;
}

// readlink with a growing buffer, so no path length is too long.
std::string readExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string voicePath(const std::string& language, const char* leaf) {
  const Voice* voice = voiceFor(language);
  if (voice == nullptr) return {};
  return (executableDirectory() / "files" / voice->languageFolder / voice->voiceFolder / leaf).string();
}

std::string resolve(const std::string& primary, const char* fallbackFolder, const char* file) {
  if (pathExists(primary)) return primary;
  std::error_code error;
  const fs::path workingDirectory = fs::current_path(error);
  const std::string fallback = (workingDirectory / fallbackFolder / file).string();
  if (error) {
    Logger::warning("[SherpaSTTNode] Cannot read the working directory (" + error.message() + "); looking for " +
                    file + " at " + fallback);
  }
  return fallback;
}

}  // namespace

bool pathExists(const std::string& path) noexcept {
  try {
    std::error_code error;
    return fs::exists(fs::path(path), error);
  } catch (...) {
    return false;  // the path itself could not be built (memory)
  }
}

void warnOfMissingFiles(const std::string& logTag, std::initializer_list<NamedFile> files) {
  for (const NamedFile& file : files) {
    if (!pathExists(file.path)) Logger::warning(logTag + " " + file.what + " does not exist at path: " + file.path);
  }
}

fs::path directoryOfExecutablePath(const std::string& exePath) {
  std::string::size_type cut = exePath.find_last_of("/\\");
  if (cut == std::string::npos) return {};
  return fs::path(exePath.substr(0, cut));
}

fs::path executableDirectory() { return directoryOfExecutablePath(readExecutablePath()); }

std::string defaultSTTModelPath() { return (executableDirectory() / "files" / kSTTModelFile).string(); }
std::string defaultSTTTokensPath() { return (executableDirectory() / "files" / kTokensFile).string(); }
std::string defaultSTTGraphPath() { return (executableDirectory() / "files" / kGraphFile).string(); }

std::string defaultTTSModelPath(const std::string& language) {
  const Voice* voice = voiceFor(language);
  return voice == nullptr ? std::string() : voicePath(language, voice->modelFile);
}
std::string defaultTTSTokensPath(const std::string& language) { return voicePath(language, kTokensFile); }
std::string defaultTTSDataDirPath(const std::string& language) { return voicePath(language, kDataDir); }

std::string resolveSTTModelPath() { return resolve(defaultSTTModelPath(), "Models", kSTTModelFile); }
std::string resolveSTTTokensPath() { return resolve(defaultSTTTokensPath(), "files", kTokensFile); }
std::string resolveSTTGraphPath() { return resolve(defaultSTTGraphPath(), "files", kGraphFile); }

}  // namespace quorvel::extensions::sherpa
