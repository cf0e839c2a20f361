// Bounded random access to the bytes of a model file or of a buffer.
//
// The model readers never index memory directly: every access goes through
// read(), which refuses any range that is not wholly inside the source, so a
// malformed offset or length can only make a reader fail. FileBytes reads
// through a small block cache, so a reader touches only the parts of a file
// it walks and a huge file is never loaded whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace quorvel::extensions::sherpa {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Copies `length` bytes from `offset` into `out`; false, and nothing
  // promised about `out`, when the range is not inside the source.
  virtual bool read(uint64_t offset, void* out, size_t length) const = 0;

  // True when [offset, offset + length) lies inside the source.
  bool contains(uint64_t offset, uint64_t length) const { return offset <= size() && length <= size() - offset; }
};

class MemoryBytes final : public ByteSource {
 public:
  explicit MemoryBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  bool read(uint64_t offset, void* out, size_t length) const override;

 private:
  std::span<const uint8_t> bytes_;
};

// A regular file opened for reading; isOpen() is false when it could not be
// opened or its size not taken. Not safe for concurrent use.
class FileBytes final : public ByteSource {
 public:
  explicit FileBytes(const std::string& path);
  bool isOpen() const { return open_; }
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* out, size_t length) const override;

 private:
  bool fill(uint64_t blockStart) const;

  mutable std::ifstream in_;
  uint64_t size_ = 0;
  bool open_ = false;
  mutable std::vector<uint8_t> block_;
  mutable uint64_t blockStart_ = 0;
  mutable bool blockValid_ = false;
};


// Reads a whole regular file of at most `maxBytes` into `out`; false when it
// cannot be read or is larger.
bool readWholeFile(const std::string& path, uint64_t maxBytes, std::string& out);

}  // namespace quorvel::extensions::sherpa
