// A flatbuffer walk of an ORT model file down to its metadata: session
// (root) -> model (field 1) -> metadata_props (field 9) -> entries (key =
// field 0, value = field 1). Every offset is checked against the file, and
// every vtable, table, vector and string must lie wholly inside it.
#include <cstdint>
#include <cstring>
#include <string>

#include "ModelMetadata.h"

namespace quorvel::extensions::sherpa {

namespace {

constexpr uint16_t kSessionModelField = 1;
constexpr uint16_t kModelMetadataField = 9;
constexpr uint16_t kEntryKeyField = 0;
constexpr uint16_t kEntryValueField = 1;

enum class Field { kAbsent, kPresent, kMalformed };

class FlatReader {
 public:
  explicit FlatReader(const ByteSource& bytes) : bytes_(bytes) {}

  template <typename T>
  bool scalar(uint64_t offset, T& value) const {
    return bytes_.read(offset, &value, sizeof(T));  // flatbuffers are little-endian, as is the host
  }

  // Checks the table at `table` and its vtable; the position of `field`.
  Field fieldPosition(uint64_t table, uint16_t field, uint64_t& position) const {
    int32_t toVtable = 0;
    uint16_t vtableSize = 0, tableSize = 0, fieldOffset = 0;
    if (!scalar(table, toVtable)) return Field::kMalformed;
    const int64_t vtable = static_cast<int64_t>(table) - toVtable;
    if (vtable < 0) return Field::kMalformed;
    const auto vt = static_cast<uint64_t>(vtable);
    if (!scalar(vt, vtableSize) || !scalar(vt + 2, tableSize)) return Field::kMalformed;
    if (vtableSize < 4 || vtableSize % 2 != 0 || !bytes_.contains(vt, vtableSize)) return Field::kMalformed;
    if (tableSize < 4 || !bytes_.contains(table, tableSize)) return Field::kMalformed;
    const uint64_t slot = 4 + 2 * static_cast<uint64_t>(field);
    if (slot + 2 > vtableSize) return Field::kAbsent;
    if (!scalar(vt + slot, fieldOffset)) return Field::kMalformed;
    if (fieldOffset == 0) return Field::kAbsent;
    if (static_cast<uint64_t>(fieldOffset) + 4 > tableSize) return Field::kMalformed;
    position = table + fieldOffset;
    return Field::kPresent;
  }

  // Follows the uoffset stored at `position`.
  bool follow(uint64_t position, uint64_t& target) const {
    uint32_t offset = 0;
    if (!scalar(position, offset)) return false;
    target = position + offset;
    return bytes_.contains(target, 4);
  }

  Field reference(uint64_t table, uint16_t field, uint64_t& target) const {
    uint64_t position = 0;
    const Field found = fieldPosition(table, field, position);
    if (found != Field::kPresent) return found;
    return follow(position, target) ? Field::kPresent : Field::kMalformed;
  }

  // A string field; an absent one reads as "".
  bool string(uint64_t table, uint16_t field, std::string& out) const {
    uint64_t start = 0;
    const Field found = reference(table, field, start);
    out.clear();
    if (found == Field::kAbsent) return true;
    if (found == Field::kMalformed) return false;
    uint32_t length = 0;
    uint8_t terminator = 1;
    if (!scalar(start, length) || length > kMaxMetadataStringBytes) return false;
    if (!scalar(start + 4 + length, terminator) || terminator != 0) return false;
    out.resize(length);
    return bytes_.read(start + 4, out.data(), length);
  }

 private:
  const ByteSource& bytes_;
};

}  // namespace

std::optional<ModelMetadata> readOrtMetadata(const ByteSource& bytes) {
  char identifier[4] = {};
  if (!bytes.read(4, identifier, 4) || std::memcmp(identifier, "ORTM", 4) != 0) return std::nullopt;
  const FlatReader flat(bytes);
  uint64_t session = 0, model = 0, vector = 0;
  if (!flat.follow(0, session)) return std::nullopt;

  ModelMetadata metadata;
  const Field hasModel = flat.reference(session, kSessionModelField, model);
  if (hasModel == Field::kMalformed) return std::nullopt;
  if (hasModel == Field::kAbsent) return metadata;
  const Field hasMetadata = flat.reference(model, kModelMetadataField, vector);
  if (hasMetadata == Field::kMalformed) return std::nullopt;
  if (hasMetadata == Field::kAbsent) return metadata;

  uint32_t count = 0;
  if (!flat.scalar(vector, count) || count > kMaxMetadataEntries || !bytes.contains(vector + 4, 4 * uint64_t{count})) {
    return std::nullopt;
  }
  size_t totalBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t entry = 0;
    std::string key, value;
    if (!flat.follow(vector + 4 + 4 * uint64_t{i}, entry)) return std::nullopt;
    if (!flat.string(entry, kEntryKeyField, key) || !flat.string(entry, kEntryValueField, value)) return std::nullopt;
    totalBytes += key.size() + value.size();
    if (totalBytes > kMaxMetadataTotalBytes) return std::nullopt;
    metadata.emplace(std::move(key), std::move(value));
  }
  return metadata;
}

}  // namespace quorvel::extensions::sherpa
