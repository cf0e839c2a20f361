// The string key/value metadata of an ONNX or ORT model file, read without
// the engine.
//
// The engine reads a model's configuration from this metadata and ends the
// process when a key it needs is missing or malformed, so the metadata is
// checked before a model is handed to it. The readers are bounds-checked
// walks of the two container formats: they never throw, never log and read
// nothing outside the file; anything malformed gives std::nullopt.
//
//   auto metadata = readModelMetadata("voice.onnx");   // or "voice.ort"
//   if (metadata) for (auto& [key, value] : *metadata) ...
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "ByteSource.h"

namespace quorvel::extensions::sherpa {

// Every entry in file order of equal keys: a key may appear more than once.
using ModelMetadata = std::multimap<std::string, std::string>;

// Limits beyond which a file is treated as malformed rather than read on.
inline constexpr size_t kMaxMetadataEntries = 1 << 16;
inline constexpr size_t kMaxMetadataStringBytes = 16 << 20;
inline constexpr size_t kMaxMetadataTotalBytes = 64 << 20;

// ONNX: a protobuf ModelProto whose field 14 holds the entries (key = field
// 1, value = field 2). Other fields are skipped by wire type.
std::optional<ModelMetadata> readOnnxMetadata(const ByteSource& bytes);

// ORT: a flatbuffer with the identifier "ORTM", root table the session,
// session field 1 the model, model field 9 the vector of entry tables (key =
// field 0, value = field 1). A model without that vector has no entries.
std::optional<ModelMetadata> readOrtMetadata(const ByteSource& bytes);

// Picks the format as the engine does, by the name: ".ort" is ORT, anything
// else ONNX. std::nullopt when the file cannot be opened or is not a
// well-formed file of that format.
std::optional<ModelMetadata> readModelMetadata(const std::string& path);

// Reads the metadata of the model at `path` and applies `rules` to it: ""
// when the rules pass or nothing exists at `path` (the engine refuses a
// missing file itself), else "Model file PATH: why", also when the file is
// not a regular file or cannot be read as the format its name selects.
std::string modelFileProblem(const std::string& path,
                             const std::function<std::string(const ModelMetadata&)>& rules);

// True when the engine reads `path` as an ORT file.
bool isOrtModelPath(const std::string& path);

// The value of `key` as the engine sees it, a C string: up to its first NUL
// byte; "" when the key is absent.
std::string metadataValue(const ModelMetadata& metadata, const std::string& key);
// A key given more than once with different values (which one the engine
// takes is not ours to guess); none when every key has one value. The key
// may itself be empty.
std::optional<std::string> conflictingMetadataKey(const ModelMetadata& metadata);

}  // namespace quorvel::extensions::sherpa
