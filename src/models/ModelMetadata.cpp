#include "ModelMetadata.h"

namespace quorvel::extensions::sherpa {

bool isOrtModelPath(const std::string& path) { return path.ends_with(".ort"); }

std::optional<ModelMetadata> readModelMetadata(const std::string& path) {
  const FileBytes file(path);
  if (!file.isOpen()) return std::nullopt;
  return isOrtModelPath(path) ? readOrtMetadata(file) : readOnnxMetadata(file);
}

}  // namespace quorvel::extensions::sherpa

namespace quorvel::extensions::sherpa {

std::string metadataValue(const ModelMetadata& metadata, const std::string& key) {
  const auto found = metadata.find(key);
  if (found == metadata.end()) return {};
  return found->second.substr(0, found->second.find('\0'));
}

std::string conflictingMetadataKey(const ModelMetadata& metadata) {
  for (auto it = metadata.begin(); it != metadata.end();) {
    const auto range = metadata.equal_range(it->first);
    for (auto other = range.first; other != range.second; ++other) {
      if (other->second != range.first->second) return it->first;
    }
    it = range.second;
  }
  return {};
}

}  // namespace quorvel::extensions::sherpa
