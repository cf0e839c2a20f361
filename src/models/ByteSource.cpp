#include "ByteSource.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quorvel::extensions::sherpa {

namespace {
constexpr uint64_t kBlockBytes = 64 * 1024;
}  // namespace

bool MemoryBytes::read(uint64_t offset, void* out, size_t length) const {
  if (!contains(offset, length)) return false;
  if (length > 0) std::memcpy(out, bytes_.data() + offset, length);
  return true;
}

FileBytes::FileBytes(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || error) return;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return;
  in_.open(path, std::ios::binary);
  if (!in_) return;
  size_ = static_cast<uint64_t>(size);
  open_ = true;
}

bool FileBytes::fill(uint64_t blockStart) const {
  const uint64_t length = std::min<uint64_t>(kBlockBytes, size_ - blockStart);
  block_.resize(static_cast<size_t>(length));
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(blockStart));
  blockValid_ = in_ && in_.read(reinterpret_cast<char*>(block_.data()), static_cast<std::streamsize>(length));
  blockStart_ = blockStart;
  return blockValid_;
}

bool FileBytes::read(uint64_t offset, void* out, size_t length) const {
  if (!open_ || !contains(offset, length)) return false;
  auto* target = static_cast<uint8_t*>(out);
  while (length > 0) {
    const uint64_t start = offset - offset % kBlockBytes;
    if (!blockValid_ || blockStart_ != start) {
      if (!fill(start)) return false;
    }
    const uint64_t within = offset - start;
    if (within >= block_.size()) return false;  // the file shrank since it was opened
    const size_t count = static_cast<size_t>(std::min<uint64_t>(length, block_.size() - within));
    std::memcpy(target, block_.data() + within, count);
    target += count;
    offset += count;
    length -= count;
  }
  return true;
}


bool readWholeFile(const std::string& path, uint64_t maxBytes, std::string& out) {
  const FileBytes file(path);
  if (!file.isOpen() || file.size() > maxBytes) return false;
  out.resize(static_cast<size_t>(file.size()));
  return file.read(0, out.data(), out.size());
}

}  // namespace quorvel::extensions::sherpa
