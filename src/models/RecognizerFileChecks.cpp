#include "RecognizerFileChecks.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "ByteSource.h"

namespace quorvel::extensions::sherpa {

namespace {

constexpr int32_t kFstMagic = 2125659606;
constexpr int32_t kSymbolTableMagic = 2125658996;
constexpr int32_t kHasInputSymbols = 0x1;
constexpr int32_t kHasOutputSymbols = 0x2;
// Longer type names or symbols than this mean the file is not a graph.
constexpr int32_t kMaxStringLength = 1 << 20;
// Per-state and per-arc sizes of the two layouts (standard arc: int32
// ilabel, int32 olabel, float weight, int32 nextstate).
constexpr uint64_t kArcBytes = 16;
constexpr uint64_t kVectorStateBytes = 4 + 8;   // float final weight, int64 arc count
constexpr uint64_t kConstStateBytes = 4 + 4 * 4;  // float final weight, four uint32 counts
// Token tables hold thousands of lines at most; a larger file is not one.
constexpr uintmax_t kMaxTokensFileBytes = 16 << 20;

const char* const kRequiredMetadata[] = {"encoder_dims",       "query_head_dims",    "value_head_dims",
                                         "num_heads",          "num_encoder_layers", "cnn_module_kernels",
                                         "left_context_len",   "T",                  "decode_chunk_len"};

bool isIntegerList(const std::string& value) {
  if (value.empty() || value.front() == ',' || value.back() == ',') return false;
  char previous = ',';
  for (char c : value) {
    if (c == ',' ? previous == ',' : (c < '0' || c > '9')) return false;
    previous = c;
  }
  return true;
}

// Sequential little-endian reads over the bounded file source; any short
// read makes every later read fail.
class GraphReader {
 public:
  explicit GraphReader(const ByteSource& bytes) : bytes_(bytes) {}

  uint64_t remaining() const { return bytes_.size() - position_; }

  template <typename T>
  bool read(T& value) {
    if (!bytes_.read(position_, &value, sizeof(T))) return false;
    position_ += sizeof(T);
    return true;
  }

  bool readString(std::string& value) {
    int32_t length = 0;
    if (!read(length) || length < 0 || length > kMaxStringLength) return false;
    if (static_cast<uint64_t>(length) > remaining()) return false;
    value.resize(static_cast<size_t>(length));
    if (!bytes_.read(position_, value.data(), value.size())) return false;
    position_ += static_cast<uint64_t>(length);
    return true;
  }

 private:
  const ByteSource& bytes_;
  uint64_t position_ = 0;
};

bool skipSymbolTable(GraphReader& reader) {
  int32_t magic = 0;
  std::string name;
  int64_t availableKey = 0;
  int64_t size = 0;
  if (!reader.read(magic) || magic != kSymbolTableMagic) return false;
  if (!reader.readString(name) || !reader.read(availableKey) || !reader.read(size) || size < 0) return false;
  // Each entry is at least a 4-byte length and an 8-byte key.
  if (static_cast<uint64_t>(size) > reader.remaining() / 12) return false;
  for (int64_t i = 0; i < size; ++i) {
    std::string symbol;
    int64_t key = 0;
    if (!reader.readString(symbol) || !reader.read(key)) return false;
  }
  return true;
}

bool isValidStateIndex(int64_t state, int64_t numberOfStates) { return state >= 0 && state < numberOfStates; }

bool walkVectorStates(GraphReader& reader, int64_t start, int64_t numberOfStates) {
  if (numberOfStates < 0 || !isValidStateIndex(start, numberOfStates)) return false;
  if (static_cast<uint64_t>(numberOfStates) > reader.remaining() / kVectorStateBytes) return false;
  for (int64_t s = 0; s < numberOfStates; ++s) {
    float finalWeight = 0.0f;
    int64_t arcs = 0;
    if (!reader.read(finalWeight) || !reader.read(arcs) || arcs < 0) return false;
    if (static_cast<uint64_t>(arcs) > reader.remaining() / kArcBytes) return false;
    for (int64_t a = 0; a < arcs; ++a) {
      int32_t ilabel = 0, olabel = 0, nextState = 0;
      float weight = 0.0f;
      if (!reader.read(ilabel) || !reader.read(olabel) || !reader.read(weight) || !reader.read(nextState)) {
        return false;
      }
      if (!isValidStateIndex(nextState, numberOfStates)) return false;
    }
  }
  return true;
}

bool constArraysFit(const GraphReader& reader, int64_t start, int64_t numberOfStates, int64_t numberOfArcs) {
  if (numberOfStates < 0 || numberOfArcs < 0 || !isValidStateIndex(start, numberOfStates)) return false;
  const uint64_t states = static_cast<uint64_t>(numberOfStates);
  const uint64_t arcs = static_cast<uint64_t>(numberOfArcs);
  if (states > reader.remaining() / kConstStateBytes) return false;
  const uint64_t left = reader.remaining() - states * kConstStateBytes;
  return arcs <= left / kArcBytes;
}

bool parseTokenLine(const std::string& line, std::string& symbol) {
  std::istringstream fields(line);
  std::string id;
  std::string extra;
  if (!(fields >> symbol >> id) || (fields >> extra)) return false;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool isValidDecodingGraph(const std::string& path) {
  const FileBytes file(path);
  if (!file.isOpen()) return false;
  GraphReader reader(file);

  int32_t magic = 0;
  std::string fstType;
  std::string arcType;
  int32_t version = 0;
  int32_t flags = 0;
  uint64_t properties = 0;
  int64_t start = 0;
  int64_t numberOfStates = 0;
  int64_t numberOfArcs = 0;
  if (!reader.read(magic) || magic != kFstMagic) return false;
  if (!reader.readString(fstType) || !reader.readString(arcType) || arcType != "standard") return false;
  if (!reader.read(version) || !reader.read(flags) || !reader.read(properties) || !reader.read(start) ||
      !reader.read(numberOfStates) || !reader.read(numberOfArcs)) {
    return false;
  }
  if ((flags & kHasInputSymbols) != 0 && !skipSymbolTable(reader)) return false;
  if ((flags & kHasOutputSymbols) != 0 && !skipSymbolTable(reader)) return false;

  if (fstType == "vector") return version == 2 && walkVectorStates(reader, start, numberOfStates);
  if (fstType == "const") return (version == 1 || version == 2) && constArraysFit(reader, start, numberOfStates, numberOfArcs);
  return false;
}

bool isValidTokensFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || std::filesystem::file_size(path, error) > kMaxTokensFileBytes ||
      error) {
    return false;
  }
  std::ifstream in(path);
  if (!in) return false;
  bool any = false;
  bool hasBlank = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    std::string symbol;
    if (!parseTokenLine(line, symbol)) return false;
    any = true;
    hasBlank = hasBlank || symbol == "<blk>";
  }
  return any && hasBlank && !in.bad();
}


std::string recognizerMetadataProblem(const ModelMetadata& metadata) {
  if (const auto key = conflictingMetadataKey(metadata)) {
    return "metadata '" + *key + "' is given twice with different values";
  }
  for (const char* key : kRequiredMetadata) {
    const std::string value = metadataValue(metadata, key);
    if (value.empty()) return std::string("metadata '") + key + "' is missing";
    if (!isIntegerList(value)) {
      return std::string("metadata '") + key + "' is not a list of non-negative integers (" + value + ")";
    }
  }
  return {};
}

std::string recognizerModelProblem(const std::string& path) {
  return modelFileProblem(path, recognizerMetadataProblem);
}

}  // namespace quorvel::extensions::sherpa
