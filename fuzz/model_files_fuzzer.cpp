// Model files through the checks that guard the engine: ONNX and ORT
// metadata (voice and recognizer), voice token tables, phontab and decoding
// graphs. The first byte picks what the rest is. The readers must stay inside
// the input (AddressSanitizer), and whatever a check accepts is re-checked
// here against the engine's rules by a separate, plain reading; a
// disagreement aborts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <span>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "models/ModelMetadata.h"
#include "models/RecognizerFileChecks.h"
#include "models/VoiceFileChecks.h"

using namespace quorvel::extensions::sherpa;

namespace {

void require(bool condition, const char* rule) {
  if (condition) return;
  std::fprintf(stderr, "accepted input breaks the rule: %s\n", rule);
  std::abort();
}

std::string cString(const std::string& s) { return s.substr(0, s.find('\0')); }

// The engine's reading of a voice's metadata: what it needs, as it reads it.
void requireVoiceRules(const ModelMetadata& metadata) {
  for (const char* key : {"sample_rate", "n_speakers", "language", "comment"}) {
    require(metadata.count(key) > 0, "required voice key present");
    const auto range = metadata.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) require(!cString(it->second).empty(), "required value non-empty");
  }
  for (const auto& [key, value] : metadata) {
    const std::string v = cString(value);
    for (const char* integer : {"sample_rate", "n_speakers", "add_blank", "speaker_id", "version", "blank_id", "bos_id",
                                "eos_id", "use_eos_bos", "pad_id", "jieba", "has_g2pw"}) {
      if (key == integer && !v.empty()) require(std::atoi(v.c_str()) >= 0, "integer not negative");
    }
    if (key == "comment") require(v.find("piper") != std::string::npos, "comment names piper");
  }
}

void requireRecognizerRules(const ModelMetadata& metadata) {
  for (const char* key : {"encoder_dims", "query_head_dims", "value_head_dims", "num_heads", "num_encoder_layers",
                          "cnn_module_kernels", "left_context_len", "T", "decode_chunk_len"}) {
    const auto range = metadata.equal_range(key);
    require(range.first != range.second, "recognizer key present");
    for (auto it = range.first; it != range.second; ++it) require(!cString(it->second).empty(), "recognizer value non-empty");
  }
}

// Code points in a UTF-8 string by counting lead bytes; -1 when a byte
// sequence is not well formed.
int codePoints(const std::string& s) {
  int count = 0;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return -1;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return -1;
    }
    i += n;
    ++count;
  }
  return count;
}

// The engine's reading of a token table: std::getline, then stream
// extraction of a symbol and an id; a lone field is the space's id.
void requireTokenRules(const std::string& table) {
  std::istringstream in(table);
  std::set<std::string> symbols;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string symbol, id, extra;
    require(static_cast<bool>(fields >> symbol), "no blank line");
    if (fields >> id) {
      require(!(fields >> extra), "two fields");
    } else {
      id = symbol;
      symbol = " ";
    }
    require(id.find_first_not_of("0123456789") == std::string::npos, "id is a number");
    require(codePoints(symbol) == 1, "symbol is one code point");
    require(symbols.insert(symbol).second, "no duplicate symbol");
  }
  for (const char* needed : {"_", "^", "$"}) require(symbols.count(needed) == 1, "has _ ^ $");
}

// phontab walked as espeak-ng walks it, with each read checked.
void requirePhontabRules(std::string_view phontab) {
  require(phontab.size() >= 4, "phontab header");
  const auto* p = reinterpret_cast<const unsigned char*>(phontab.data());
  size_t pos = 4;
  for (size_t table = 0; table < p[0]; ++table) {
    require(pos + 36 <= phontab.size(), "table header inside phontab");
    require(p[pos + 1] <= table, "includes an earlier table");
    pos += 36 + size_t{p[pos]} * 16;
    require(pos <= phontab.size(), "phonemes inside phontab");
  }
}

std::string scratchPath() {
  static const std::string path = "/tmp/model_files_fuzzer_" + std::to_string(::getpid()) + ".fst";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0] % 6;
  const std::span<const uint8_t> body(data + 1, size - 1);
  const MemoryBytes bytes(body);
  const std::string text(body.begin(), body.end());
  switch (mode) {
    case 0:
    case 1: {
      const auto metadata = mode == 0 ? readOnnxMetadata(bytes) : readOrtMetadata(bytes);
      if (!metadata) break;
      require(metadata->size() <= body.size() / 2, "entries fit the input");
      if (voiceMetadataProblem(*metadata).empty()) requireVoiceRules(*metadata);
      if (recognizerMetadataProblem(*metadata).empty()) requireRecognizerRules(*metadata);
      break;
    }
    case 2:
      if (voiceTokensProblem(text).empty()) requireTokenRules(text);
      break;
    case 3:
      if (phontabProblem(text).empty()) requirePhontabRules(text);
      break;
    case 4: {
      std::ofstream(scratchPath(), std::ios::binary | std::ios::trunc) << text;
      if (isValidDecodingGraph(scratchPath())) require(body.size() >= 4 + 4 + 6 + 4 + 8 + 4 + 4 + 8 * 4, "graph header fits");
      break;
    }
    case 5: {
      std::ofstream(scratchPath(), std::ios::binary | std::ios::trunc) << text;
      if (isValidTokensFile(scratchPath())) require(text.find("<blk>") != std::string::npos, "has <blk>");
      break;
    }
  }
  return 0;
}
