// Model files made and edited in tests: ONNX (protobuf) and ORT (flatbuffer)
// files carrying chosen metadata, a rewrite of an ONNX file's metadata, a
// minimal espeak-ng data directory and the metadata the two nodes need.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace model_files {

using Bytes = std::vector<uint8_t>;
using Entries = std::vector<std::pair<std::string, std::string>>;

inline Entries voiceMetadata() {
  return {{"sample_rate", "16000"}, {"n_speakers", "1"},       {"language", "English"},
          {"comment", "piper"},     {"voice", "en-gb-x-rp"}, {"add_blank", "0"}};
}

inline Entries recognizerMetadata() {
  return {{"encoder_dims", "8"},     {"query_head_dims", "2"},    {"value_head_dims", "2"},
          {"num_heads", "1"},        {"num_encoder_layers", "1"}, {"cnn_module_kernels", "3"},
          {"left_context_len", "4"}, {"T", "45"},                 {"decode_chunk_len", "32"}};
}

inline Entries without(Entries entries, const std::string& key) {
  std::erase_if(entries, [&](const auto& e) { return e.first == key; });
  return entries;
}

inline Entries with(Entries entries, const std::string& key, const std::string& value) {
  entries = without(std::move(entries), key);
  entries.emplace_back(key, value);
  return entries;
}

// ---- protobuf ----------------------------------------------------------------

inline void putVarint(Bytes& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

inline void putLengthDelimited(Bytes& out, uint32_t field, const Bytes& payload) {
  putVarint(out, (uint64_t{field} << 3) | 2);
  putVarint(out, payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
}

inline Bytes asBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes onnxMetadataEntry(const std::string& key, const std::string& value) {
  Bytes entry;
  putLengthDelimited(entry, 1, asBytes(key));
  putLengthDelimited(entry, 2, asBytes(value));
  return entry;
}

// A ModelProto of ir_version 8, a producer name and the entries.
inline Bytes onnxModel(const Entries& entries) {
  Bytes out;
  putVarint(out, (1 << 3) | 0);
  putVarint(out, 8);
  putLengthDelimited(out, 2, asBytes("test"));
  for (const auto& [key, value] : entries) putLengthDelimited(out, 14, onnxMetadataEntry(key, value));
  return out;
}

inline bool readVarint(const Bytes& in, size_t& pos, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && pos < in.size(); shift += 7) {
    const uint8_t byte = in[pos++];
    value |= uint64_t{byte & 0x7fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

// `model` (a well-formed ModelProto) with its metadata replaced by
// `entries`; every other top-level field is copied unchanged. Empty on a
// malformed input.
inline Bytes withOnnxMetadata(const Bytes& model, const Entries& entries) {
  Bytes out;
  size_t pos = 0;
  while (pos < model.size()) {
    const size_t start = pos;
    uint64_t tag = 0, value = 0;
    if (!readVarint(model, pos, tag)) return {};
    switch (tag & 7) {
      case 0: if (!readVarint(model, pos, value)) return {}; break;
      case 1: pos += 8; break;
      case 5: pos += 4; break;
      case 2: if (!readVarint(model, pos, value) || value > model.size() - pos) return {}; pos += value; break;
      default: return {};
    }
    if (pos > model.size()) return {};
    if ((tag >> 3) != 14) out.insert(out.end(), model.begin() + start, model.begin() + pos);
  }
  for (const auto& [key, v] : entries) putLengthDelimited(out, 14, onnxMetadataEntry(key, v));
  return out;
}

// ---- flatbuffer ---------------------------------------------------------------

// An ORT file laid out front to back: header, session, model, the metadata
// vector, the entry tables and their strings. Every offset points forward.
inline Bytes ortModel(const Entries& entries) {
  Bytes b;
  auto u16 = [&](uint16_t v) { b.push_back(v & 0xff); b.push_back(v >> 8); };
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xff); };
  auto set32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xff; };
  u32(0);  // root offset, set below
  b.insert(b.end(), {'O', 'R', 'T', 'M'});
  // Session vtable (fields 0 and 1) and table.
  const size_t sessionVtable = b.size();
  u16(8); u16(12); u16(4); u16(8);
  const size_t session = b.size();
  set32(0, static_cast<uint32_t>(session));
  u32(static_cast<uint32_t>(session - sessionVtable));
  const size_t versionRef = b.size(); u32(0);
  const size_t modelRef = b.size(); u32(0);
  // Model vtable: fields 0..9, only 9 present.
  const size_t modelVtable = b.size();
  u16(24); u16(8);
  for (int f = 0; f < 9; ++f) u16(0);
  u16(4);
  const size_t model = b.size();
  set32(modelRef, static_cast<uint32_t>(model - modelRef));
  u32(static_cast<uint32_t>(model - modelVtable));
  const size_t vectorRef = b.size(); u32(0);
  const size_t vector = b.size();
  set32(vectorRef, static_cast<uint32_t>(vector - vectorRef));
  u32(static_cast<uint32_t>(entries.size()));
  std::vector<size_t> elementRefs;
  for (size_t i = 0; i < entries.size(); ++i) { elementRefs.push_back(b.size()); u32(0); }
  auto putString = [&](size_t ref, const std::string& s) {
    set32(ref, static_cast<uint32_t>(b.size() - ref));
    u32(static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
    while (b.size() % 4 != 0) b.push_back(0);
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t vtable = b.size();
    u16(8); u16(12); u16(4); u16(8);
    const size_t table = b.size();
    set32(elementRefs[i], static_cast<uint32_t>(table - elementRefs[i]));
    u32(static_cast<uint32_t>(table - vtable));
    const size_t keyRef = b.size(); u32(0);
    const size_t valueRef = b.size(); u32(0);
    putString(keyRef, entries[i].first);
    putString(valueRef, entries[i].second);
  }
  putString(versionRef, "6");
  return b;
}

// Replaces the one occurrence of `from` in `bytes` by `to` (same length);
// false when it occurs other than once.
inline bool patchOnce(Bytes& bytes, const std::string& from, const std::string& to) {
  if (from.size() != to.size() || from.empty()) return false;
  auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
  if (at == bytes.end() || std::search(at + 1, bytes.end(), from.begin(), from.end()) != bytes.end()) return false;
  std::copy(to.begin(), to.end(), at);
  return true;
}

// ---- files ------------------------------------------------------------------------

inline Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The writers make the folder the file goes into first.
inline void makeParentFolder(const std::filesystem::path& path) {
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
  makeParentFolder(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
  makeParentFolder(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline const char* const kTinyVoiceTokens = "_ 0\n^ 1\n$ 2\n 3\na 4\n";

// The four start-up files of espeak-ng, the smallest that pass the checks
// (one phoneme table "base" of one phoneme); not usable for speech.
inline void writeTinyEspeakData(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  Bytes phontab = {1, 0, 0, 0, 1, 0, 0, 0, 'b', 'a', 's', 'e'};
  phontab.resize(4 + 4 + 32 + 16, 0);
  writeBytes(dir / "phontab", phontab);
  writeBytes(dir / "phondata", {0x01, 0x48, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00});
  writeBytes(dir / "phonindex", {0x01, 0x48, 0x01, 0x00});
  writeBytes(dir / "intonations", Bytes(68, 0));
}

}  // namespace model_files
