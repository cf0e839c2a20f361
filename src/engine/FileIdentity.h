// What a file is on disk, independent of the path that names it.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvel::extensions::sherpa {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  // A file rewritten in place keeps its inode; its size or time tells.
  int64_t size = 0;
  int64_t modifiedNanoseconds = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the file or folder at `path` (links followed); empty when
// it cannot be examined.
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace quorvel::extensions::sherpa
