// The espeak-ng data directory: espeak-ng calls exit() when a file it loads
// at start-up is missing or of another data version, and reads phontab
// without bounds, so a truncated or inconsistent one crashes it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include "ByteSource.h"
#include "VoiceFileChecks.h"

namespace quorvel::extensions::sherpa {

namespace fs = std::filesystem;

namespace {

// The phoneme data version espeak-ng has read since 1.48.01 (Debian's 1.51
// data carries it); phondata starts with it, then the sample rate.
constexpr uint32_t kPhonemeDataVersion = 0x014801;
// espeak-ng's fixed limits and record sizes.
constexpr size_t kMaxPhonemeTables = 150;
constexpr size_t kTableNameBytes = 32;
constexpr size_t kPhonemeBytes = 16;
constexpr size_t kTuneBytes = 68;
constexpr uint64_t kMaxPhontabBytes = 4 << 20;
constexpr uint64_t kMaxVoiceFileBytes = 64 << 10;
constexpr size_t kMaxVoiceFiles = 10000;

uint32_t littleEndian32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

// Names of the phoneme tables in a phontab already found well formed.
std::set<std::string> tableNames(std::string_view phontab) {
  std::set<std::string> names;
  const auto* p = reinterpret_cast<const unsigned char*>(phontab.data());
  size_t pos = 4;
  for (size_t i = 0; i < p[0]; ++i) {
    const size_t phonemes = p[pos];
    const char* name = phontab.data() + pos + 4;
    names.emplace(name, strnlen(name, kTableNameBytes));
    pos += 4 + kTableNameBytes + phonemes * kPhonemeBytes;
  }
  return names;
}

// The table a voice or language file selects with a "phonemes NAME" line.
std::string phonemesLine(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind("phonemes", 0) == 0 && line.size() > 8 && (line[8] == ' ' || line[8] == '\t')) {
      const size_t first = line.find_first_not_of(" \t", 8);
      if (first != std::string::npos) {
        const size_t last = line.find_first_of(" \t\r", first);
        return line.substr(first, last == std::string::npos ? std::string::npos : last - first);
      }
    }
    start = end + 1;
  }
  return {};
}

// Every "phonemes" line of the voice and language files must name a table
// of phontab: espeak-ng crashes selecting a voice whose table is unknown.
std::string unknownPhonemeTable(const fs::path& dataDir, const std::set<std::string>& tables) {
  size_t visited = 0;
  for (const char* folder : {"lang", "voices"}) {
    std::error_code error;
    if (!fs::is_directory(dataDir / folder, error)) continue;
    fs::recursive_directory_iterator it(dataDir / folder, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
      if (++visited > kMaxVoiceFiles) return "too many voice files";
      std::error_code ignored;
      if (!it->is_regular_file(ignored)) continue;
      std::string text;
      if (!readWholeFile(it->path().string(), kMaxVoiceFileBytes, text)) continue;
      const std::string table = phonemesLine(text);
      if (!table.empty() && tables.count(table) == 0) {
        return "voice file " + fs::relative(it->path(), dataDir, ignored).string() + " names the phoneme table '" +
               table + "', which phontab lacks";
      }
    }
    if (error) return std::string(folder) + " cannot be listed";
  }
  return {};
}

uint64_t regularFileSize(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return UINT64_MAX;
  const uintmax_t size = fs::file_size(path, error);
  return error ? UINT64_MAX : size;
}

}  // namespace

std::string phontabProblem(std::string_view phontab) {
  const auto* p = reinterpret_cast<const unsigned char*>(phontab.data());
  if (phontab.size() < 4) return "phontab is too short";
  const size_t tables = p[0];
  if (tables == 0 || tables > kMaxPhonemeTables) return "phontab holds " + std::to_string(tables) + " tables";
  size_t pos = 4;
  for (size_t i = 0; i < tables; ++i) {
    if (phontab.size() - pos < 4 + kTableNameBytes) return "phontab is cut short in table " + std::to_string(i);
    const size_t phonemes = p[pos];
    const size_t includes = p[pos + 1];
    if (includes > i) return "phontab table " + std::to_string(i) + " includes a later table";
    if (std::memchr(phontab.data() + pos + 4, '\0', kTableNameBytes) == nullptr) {
      return "phontab table " + std::to_string(i) + " has an unterminated name";
    }
    pos += 4 + kTableNameBytes;
    if (phontab.size() - pos < phonemes * kPhonemeBytes) return "phontab is cut short in table " + std::to_string(i);
    pos += phonemes * kPhonemeBytes;
  }
  return {};
}

namespace {

// Size and modification time of the files and folders the check reads: a
// directory whose fingerprint is unchanged gives the same verdict.
std::string fingerprint(const fs::path& dir) {
  std::string print;
  for (const char* name : {"phontab", "phonindex", "phondata", "intonations", "lang", "voices"}) {
    std::error_code error;
    const auto status = fs::status(dir / name, error);
    const auto time = fs::last_write_time(dir / name, error);
    const uintmax_t size = fs::is_regular_file(status) ? fs::file_size(dir / name, error) : 0;
    print += std::to_string(static_cast<int>(status.type())) + ":" + std::to_string(size) + ":" +
             std::to_string(error ? 0 : time.time_since_epoch().count()) + ";";
  }
  return print;
}

std::string uncachedEspeakDataProblem(const fs::path& dir);

}  // namespace

// The walk over the voice files takes milliseconds, and every voice load of
// the process checks the same directory again; the verdict is kept per
// directory and fingerprint.
std::string espeakDataProblem(const std::string& dataDir) {
  static std::mutex mutex;
  static std::map<std::string, std::pair<std::string, std::string>> verdicts;  // dir -> fingerprint, problem
  const fs::path dir(dataDir);
  const std::string print = fingerprint(dir);
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = verdicts.find(dataDir);
    if (it != verdicts.end() && it->second.first == print) return it->second.second;
  }
  std::string problem = uncachedEspeakDataProblem(dir);
  std::lock_guard<std::mutex> lock(mutex);
  verdicts[dataDir] = {print, problem};
  return problem;
}

namespace {

std::string uncachedEspeakDataProblem(const fs::path& dir) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) return "not a directory";
  for (const char* name : {"phontab", "phonindex", "phondata", "intonations"}) {
    if (regularFileSize(dir / name) == UINT64_MAX) return std::string(name) + " is missing: not espeak-ng data";
  }
  {
    const FileBytes file((dir / "phondata").string());
    unsigned char header[8];
    if (!file.isOpen() || !file.read(0, header, sizeof header)) return "phondata is too short";
    const uint32_t version = littleEndian32(header);
    if (version != kPhonemeDataVersion) {
      return "phondata is data version " + hex(version) + ", expected " + hex(kPhonemeDataVersion);
    }
    if (littleEndian32(header + 4) == 0) return "phondata gives a sample rate of 0";
  }
  if (regularFileSize(dir / "phonindex") < 4) return "phonindex is too short";
  if (regularFileSize(dir / "intonations") < kTuneBytes) return "intonations is too short";
  std::string phontab;
  if (!readWholeFile((dir / "phontab").string(), kMaxPhontabBytes, phontab)) return "phontab cannot be read";
  if (std::string why = phontabProblem(phontab); !why.empty()) return why;
  return unknownPhonemeTable(dir, tableNames(phontab));
}

}  // namespace

}  // namespace quorvel::extensions::sherpa
