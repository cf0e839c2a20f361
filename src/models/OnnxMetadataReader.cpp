// A protobuf wire-format walk of an ONNX ModelProto that collects field 14
// (StringStringEntryProto: key = 1, value = 2). Unknown fields, and known
// fields with another wire type, are skipped as protobuf itself does.
#include <cstdint>
#include <string>

#include "ModelMetadata.h"

namespace quorvel::extensions::sherpa {

namespace {

constexpr uint32_t kMetadataField = 14;
constexpr uint32_t kKeyField = 1;
constexpr uint32_t kValueField = 2;
// Protobuf's own nesting limit for groups and messages.
constexpr int kMaxDepth = 100;

enum WireType : uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kStartGroup = 3, kEndGroup = 4, kFixed32 = 5 };

class WireReader {
 public:
  WireReader(const ByteSource& bytes, uint64_t begin, uint64_t end) : bytes_(bytes), pos_(begin), end_(end) {}

  bool atEnd() const { return pos_ >= end_; }
  uint64_t position() const { return pos_; }

  bool varint(uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t byte = 0;
      if (pos_ >= end_ || !bytes_.read(pos_, &byte, 1)) return false;
      ++pos_;
      value |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }

  bool tag(uint32_t& field, uint32_t& wireType) {
    uint64_t raw = 0;
    if (!varint(raw) || raw > UINT32_MAX) return false;
    field = static_cast<uint32_t>(raw >> 3);
    wireType = static_cast<uint32_t>(raw & 7);
    return field != 0;
  }

  bool skipBytes(uint64_t count) {
    if (count > end_ - pos_) return false;
    pos_ += count;
    return true;
  }

  // The payload of a length-delimited field: [begin, end) after the length.
  bool lengthDelimited(uint64_t& begin, uint64_t& end) {
    uint64_t length = 0;
    if (!varint(length) || length > end_ - pos_) return false;
    begin = pos_;
    end = pos_ + length;
    pos_ = end;
    return true;
  }

  bool skipField(uint32_t field, uint32_t wireType, int depth) {
    uint64_t ignored = 0, begin = 0, end = 0;
    switch (wireType) {
      case kVarint: return varint(ignored);
      case kFixed64: return skipBytes(8);
      case kFixed32: return skipBytes(4);
      case kLengthDelimited: return lengthDelimited(begin, end);
      case kStartGroup: return skipGroup(field, depth + 1);
      default: return false;  // a stray end-group, or wire types 6 and 7
    }
  }

 private:
  bool skipGroup(uint32_t groupField, int depth) {
    if (depth > kMaxDepth) return false;
    while (!atEnd()) {
      uint32_t field = 0, wireType = 0;
      if (!tag(field, wireType)) return false;
      if (wireType == kEndGroup) return field == groupField;
      if (!skipField(field, wireType, depth)) return false;
    }
    return false;
  }

  const ByteSource& bytes_;
  uint64_t pos_;
  uint64_t end_;
};

bool readString(const ByteSource& bytes, uint64_t begin, uint64_t end, std::string& out) {
  if (end - begin > kMaxMetadataStringBytes) return false;
  out.resize(static_cast<size_t>(end - begin));
  return bytes.read(begin, out.data(), out.size());
}

// One StringStringEntryProto; a repeated key or value field keeps the last.
bool readEntry(const ByteSource& bytes, uint64_t begin, uint64_t end, std::string& key, std::string& value) {
  WireReader entry(bytes, begin, end);
  while (!entry.atEnd()) {
    uint32_t field = 0, wireType = 0;
    if (!entry.tag(field, wireType)) return false;
    if (wireType == kLengthDelimited && (field == kKeyField || field == kValueField)) {
      uint64_t stringBegin = 0, stringEnd = 0;
      if (!entry.lengthDelimited(stringBegin, stringEnd)) return false;
      if (!readString(bytes, stringBegin, stringEnd, field == kKeyField ? key : value)) return false;
    } else if (!entry.skipField(field, wireType, 1)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<ModelMetadata> readOnnxMetadata(const ByteSource& bytes) {
  ModelMetadata metadata;
  size_t totalBytes = 0;
  WireReader model(bytes, 0, bytes.size());
  while (!model.atEnd()) {
    uint32_t field = 0, wireType = 0;
    if (!model.tag(field, wireType)) return std::nullopt;
    if (field == kMetadataField && wireType == kLengthDelimited) {
      uint64_t begin = 0, end = 0;
      std::string key, value;
      if (!model.lengthDelimited(begin, end) || !readEntry(bytes, begin, end, key, value)) return std::nullopt;
      totalBytes += key.size() + value.size();
      if (metadata.size() >= kMaxMetadataEntries || totalBytes > kMaxMetadataTotalBytes) return std::nullopt;
      metadata.emplace(std::move(key), std::move(value));
    } else if (!model.skipField(field, wireType, 0)) {
      return std::nullopt;
    }
  }
  return metadata;
}

}  // namespace quorvel::extensions::sherpa
