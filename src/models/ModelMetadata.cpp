#include "ModelMetadata.h"

#include <system_error>
#include <filesystem>

#include "ModelPaths.h"

namespace quorvel::extensions::sherpa {

bool isOrtModelPath(const std::string& path) { return path.ends_with(".ort"); }

std::optional<ModelMetadata> readModelMetadata(const std::string& path) {
  const FileBytes file(path);
  if (!file.isOpen()) return std::nullopt;
  return isOrtModelPath(path) ? readOrtMetadata(file) : readOnnxMetadata(file);
}

std::string modelFileProblem(const std::string& path,
                             const std::function<std::string(const ModelMetadata&)>& rules) {
  if (!pathExists(path)) return {};
  const std::string prefix = "Model file " + path + ": ";
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return prefix + "not a regular file";
  const auto metadata = readModelMetadata(path);
  if (!metadata) return prefix + "cannot be read as an " + (isOrtModelPath(path) ? "ORT" : "ONNX") + " model";
  const std::string why = rules(*metadata);
  return why.empty() ? why : prefix + why;
}

std::string metadataValue(const ModelMetadata& metadata, const std::string& key) {
  const auto found = metadata.find(key);
  if (found == metadata.end()) return {};
  return found->second.substr(0, found->second.find('\0'));
}

std::optional<std::string> conflictingMetadataKey(const ModelMetadata& metadata) {
  for (auto it = metadata.begin(); it != metadata.end();) {
    const auto range = metadata.equal_range(it->first);
    for (auto other = range.first; other != range.second; ++other) {
      if (other->second != range.first->second) return it->first;
    }
    it = range.second;
  }
  return std::nullopt;
}

}  // namespace quorvel::extensions::sherpa
