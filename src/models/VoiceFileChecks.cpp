// The voice's metadata and token-table rules, and the check of its files.
#include "VoiceFileChecks.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "ByteSource.h"
#include "ModelPaths.h"

namespace quorvel::extensions::sherpa {

namespace {

// Token tables are a few kilobytes; a larger file is not one.
constexpr uint64_t kMaxTokensFileBytes = 16 << 20;

const char* const kOptionalIntegers[] = {"add_blank", "speaker_id", "version",     "blank_id", "bos_id",
                                         "eos_id",    "pad_id",     "use_eos_bos", "jieba",    "has_g2pw"};

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

// The engine converts with atoi, and ends the process on a negative result.
int engineInteger(const std::string& value) { return std::atoi(value.c_str()); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One code point of strict UTF-8 at the start of `text`; its length, or 0.
size_t utf8CodePoint(std::string_view text, char32_t& codePoint) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xe0) == 0xc0) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1f;
  } else if ((lead & 0xf0) == 0xe0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0f;
  } else if ((lead & 0xf8) == 0xf0) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xc0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3f);
  }
  if (codePoint < minimum || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff)) return 0;
  return length;
}

bool isTokenId(std::string_view field) {
  if (field.empty() || field.size() > 10) return false;
  int64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= INT32_MAX;
}

// Splits a line at whitespace runs, as the engine's stream extraction does.
std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSpace(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !isSpace(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// The symbol of one line, or why the line is not "SYMBOL ID".
std::string lineSymbol(std::string_view line, char32_t& symbol) {
  const auto parts = fields(line);
  if (parts.empty()) return "blank line";
  if (parts.size() == 1) {
    if (!isTokenId(parts[0])) return "expected 'SYMBOL ID', got " + inQuotes(line);
    symbol = U' ';
    return {};
  }
  if (parts.size() != 2 || !isTokenId(parts[1])) return "expected 'SYMBOL ID', got " + inQuotes(line);
  const size_t length = utf8CodePoint(parts[0], symbol);
  if (length == 0) return "symbol is not valid UTF-8";
  if (length != parts[0].size()) return "symbol " + inQuotes(parts[0]) + " is more than one character";
  return {};
}

std::string encode(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
  return out;
}

bool isRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::string voiceMetadataProblem(const ModelMetadata& metadata) {
  if (const auto key = conflictingMetadataKey(metadata)) {
    return "metadata " + inQuotes(*key) + " is given twice with different values";
  }
  for (const char* key : {"sample_rate", "n_speakers", "language", "comment"}) {
    if (metadataValue(metadata, key).empty()) return "metadata " + inQuotes(key) + " is missing";
  }
  for (const char* key : {"sample_rate", "n_speakers"}) {
    const std::string value = metadataValue(metadata, key);
    if (engineInteger(value) < 0) return "metadata " + inQuotes(key) + " is negative (" + value + ")";
  }
  if (engineInteger(metadataValue(metadata, "sample_rate")) == 0) {
    return "metadata 'sample_rate' is not a positive integer (" + metadataValue(metadata, "sample_rate") + ")";
  }
  if (metadataValue(metadata, "comment").find("piper") == std::string::npos) {
    return "metadata 'comment' does not contain \"piper\": not a piper voice";
  }
  for (const char* key : kOptionalIntegers) {
    const std::string value = metadataValue(metadata, key);
    if (!value.empty() && engineInteger(value) < 0) return "metadata " + inQuotes(key) + " is negative (" + value + ")";
  }
  for (const char* key : {"jieba", "has_g2pw"}) {
    const std::string value = metadataValue(metadata, key);
    if (!value.empty() && engineInteger(value) != 0) {
      return "metadata " + inQuotes(key) + " is " + value + ": the voice needs a dictionary, which is not configured";
    }
  }
  if (metadataValue(metadata, "frontend") == "characters") {
    return "metadata 'frontend' is \"characters\": the voice needs a lexicon, which is not configured";
  }
  return {};
}

std::string voiceTokensProblem(std::string_view table) {
  std::map<char32_t, size_t> lineOf;
  size_t number = 0;
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string_view::npos) end = table.size();
    ++number;
    const std::string line = "line " + std::to_string(number) + ": ";
    char32_t symbol = 0;
    if (std::string why = lineSymbol(table.substr(start, end - start), symbol); !why.empty()) return line + why;
    if (auto [it, added] = lineOf.emplace(symbol, number); !added) {
      return line + "duplicate symbol " + inQuotes(encode(symbol)) + " (first on line " + std::to_string(it->second) + ")";
    }
    start = end + 1;
  }
  for (char32_t needed : {U'_', U'^', U'$'}) {
    if (lineOf.count(needed) == 0) return "the symbol " + inQuotes(encode(needed)) + " is missing";
  }
  return {};
}

std::string voiceFilesProblem(const std::string& modelPath, const std::string& tokensPath,
                              const std::string& dataDir) {
  if (std::string why = modelFileProblem(modelPath, voiceMetadataProblem); !why.empty()) return why;
  if (pathExists(tokensPath)) {
    const std::string prefix = "Tokens file " + tokensPath;
    std::string table;
    if (!isRegularFile(tokensPath)) return prefix + ": not a regular file";
    if (!readWholeFile(tokensPath, kMaxTokensFileBytes, table)) return prefix + ": cannot be read or is too large";
    if (std::string why = voiceTokensProblem(table); !why.empty()) {
      return prefix + (why.starts_with("line ") ? " " : ": ") + why;
    }
  }
  if (pathExists(dataDir)) {
    if (std::string why = espeakDataProblem(dataDir); !why.empty()) return "Data directory " + dataDir + ": " + why;
  }
  return {};
}

}  // namespace quorvel::extensions::sherpa
