// The ONNX and ORT metadata readers on the generated models, on files made
// here, and on broken ones: truncated at every length, random, mislabelled,
// wrongly nested and with lengths far beyond the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "models/ModelMetadata.h"
#include "models/ModelPaths.h"
#include "stt/SttTestFiles.h"
#include "support/ModelFileBuilder.h"

using namespace quorvel::extensions::sherpa;
using model_files::Bytes;
namespace fs = std::filesystem;

namespace {

const fs::path kVoiceDir = fs::path("files") / "en_GB" / "vits-piper-en_GB-southern_english_female-low";

fs::path voiceFile(const char* name) { return executableDirectory() / kVoiceDir / name; }

std::optional<ModelMetadata> onnx(const Bytes& b) { return readOnnxMetadata(MemoryBytes(b)); }
std::optional<ModelMetadata> ort(const Bytes& b) { return readOrtMetadata(MemoryBytes(b)); }

ModelMetadata asMetadata(const model_files::Entries& entries) {
  return ModelMetadata(entries.begin(), entries.end());
}

}  // namespace

TEST(ModelMetadataReaders, ReadTheGeneratedVoiceAlikeFromItsOnnxAndOrtFiles) {
  const fs::path onnxFile = voiceFile("en_GB-southern_english_female-low.onnx");
  const fs::path ortFile = voiceFile("en_GB-southern_english_female-low.with_runtime_opt.ort");
  if (!fs::exists(onnxFile) || !fs::exists(ortFile)) GTEST_SKIP() << "generated voice missing";
  const auto fromOnnx = readModelMetadata(onnxFile.string());
  const auto fromOrt = readModelMetadata(ortFile.string());
  ASSERT_TRUE(fromOnnx.has_value());
  ASSERT_TRUE(fromOrt.has_value());
  EXPECT_EQ(*fromOnnx, *fromOrt);
  EXPECT_EQ(metadataValue(*fromOnnx, "sample_rate"), "16000");
  EXPECT_EQ(metadataValue(*fromOnnx, "n_speakers"), "1");
  EXPECT_EQ(metadataValue(*fromOnnx, "voice"), "en-gb-x-rp");
  EXPECT_NE(metadataValue(*fromOnnx, "comment").find("piper"), std::string::npos);
}

TEST(ModelMetadataReaders, ReadTheGeneratedRecognizersNineKeys) {
  const std::string path = defaultSTTModelPath();
  if (!fs::exists(path)) GTEST_SKIP() << "generated recognizer missing";
  const auto metadata = readModelMetadata(path);
  ASSERT_TRUE(metadata.has_value());
  for (const auto& [key, value] : model_files::recognizerMetadata()) EXPECT_EQ(metadataValue(*metadata, key), value) << key;
}

TEST(ModelMetadataReaders, ReadBackWhatWasWrittenInBothFormats) {
  model_files::Entries entries = model_files::voiceMetadata();
  entries.emplace_back("", "empty key");
  entries.emplace_back("empty value", "");
  entries.emplace_back(std::string("nul\0key", 7), std::string(300, 'v'));  // a two-byte length varint
  entries.emplace_back("voice", "again");
  EXPECT_EQ(onnx(model_files::onnxModel(entries)), asMetadata(entries));
  EXPECT_EQ(ort(model_files::ortModel(entries)), asMetadata(entries));
  EXPECT_EQ(ort(model_files::ortModel({})), ModelMetadata{});
  EXPECT_EQ(onnx({}), ModelMetadata{});  // an empty message is valid protobuf
}

TEST(ModelMetadataReaders, TruncatedFilesGiveNothingOrOnlyWholeEntries) {
  const auto entries = model_files::voiceMetadata();
  const Bytes fullOrt = model_files::ortModel(entries);
  // The session's version string comes last (8 bytes) and is not read;
  // before it, the last value ("0") ends 2 bytes of padding earlier.
  for (size_t length = 0; length < fullOrt.size() - 8 - 2; ++length) {
    EXPECT_FALSE(ort(Bytes(fullOrt.begin(), fullOrt.begin() + length)).has_value()) << length;
  }
  // Protobuf has no end marker: a cut between two fields is a shorter valid
  // message, any other cut is malformed.
  const Bytes fullOnnx = model_files::onnxModel(entries);
  for (size_t length = 0; length < fullOnnx.size(); ++length) {
    const auto read = onnx(Bytes(fullOnnx.begin(), fullOnnx.begin() + length));
    if (!read) continue;
    EXPECT_LT(read->size(), entries.size()) << length;
    for (const auto& [key, value] : *read) EXPECT_EQ(metadataValue(asMetadata(entries), key), value);
  }
  for (const char* name : {"en_GB-southern_english_female-low.onnx", "en_GB-southern_english_female-low.with_runtime_opt.ort"}) {
    const fs::path path = voiceFile(name);
    if (!fs::exists(path)) continue;
    const Bytes real = model_files::readBytes(path);
    const bool isOrt = path.extension() == ".ort";
    const auto full = isOrt ? ort(real) : onnx(real);
    ASSERT_TRUE(full.has_value());
    for (size_t length = 0; length < real.size(); length += 1 + real.size() / 300) {
      const Bytes cut(real.begin(), real.begin() + length);
      const auto read = isOrt ? ort(cut) : onnx(cut);
      if (!read) continue;
      // Whatever a cut file still yields is what the whole file holds.
      for (const auto& [key, value] : *read) EXPECT_EQ(metadataValue(*full, key), value) << name << " cut at " << length;
    }
  }
}

TEST(ModelMetadataReaders, RandomBytesAndMislabelledFilesAreNotRead) {
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    Bytes bytes(random() % 512);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    EXPECT_FALSE(ort(bytes).has_value());  // no "ORTM" at bytes 4-7
    const auto read = onnx(bytes);
    if (read) {
      EXPECT_LE(read->size(), bytes.size() / 2);  // an entry takes two bytes at least
    }
  }
  // Each format read as the other.
  EXPECT_FALSE(ort(model_files::onnxModel(model_files::voiceMetadata())).has_value());
  const auto ortAsOnnx = onnx(model_files::ortModel(model_files::voiceMetadata()));
  EXPECT_FALSE(ortAsOnnx && ortAsOnnx->count("sample_rate"));

  stt_test::TempDir dir;
  const fs::path onnxNamedOrt = dir.path() / "voice.ort";
  model_files::writeBytes(onnxNamedOrt, model_files::onnxModel(model_files::voiceMetadata()));
  EXPECT_FALSE(readModelMetadata(onnxNamedOrt.string()).has_value());
  const fs::path ortNamedOnnx = dir.path() / "voice.onnx";
  model_files::writeBytes(ortNamedOnnx, model_files::ortModel(model_files::voiceMetadata()));
  const auto read = readModelMetadata(ortNamedOnnx.string());
  EXPECT_FALSE(read && read->count("sample_rate"));
  EXPECT_FALSE(readModelMetadata((dir.path() / "missing.onnx").string()).has_value());
  EXPECT_FALSE(readModelMetadata(dir.path().string()).has_value());
}

// Offsets in the file ortModel lays out: root at 0, session at 16 (its
// model reference at 24), model vtable at 28, model at 52 (its metadata
// reference at 56), vector at 60, first element at 64.
TEST(ModelMetadataReaders, OrtOffsetsOutsideTheFileOrWronglyNestedAreRefused) {
  const Bytes good = model_files::ortModel(model_files::voiceMetadata());
  ASSERT_TRUE(ort(good).has_value());
  const std::tuple<const char*, size_t, uint32_t> patches[] = {
      {"root beyond the file", 0, 0xfffffff0u},
      {"root at the last byte", 0, static_cast<uint32_t>(good.size() - 1)},
      {"vtable before the file", 16, 0x7fffffffu},
      {"vtable after the file", 16, 0x80000000u},
      {"model reference beyond the file", 24, 0xffffffffu},
      {"model reference that only a wrap-around would bring back", 24, 0xffffffe8u},
      {"metadata vector count beyond the file", 60, 0x3fffffffu},
      {"element reference beyond the file", 64, 0xfffffff0u},
  };
  // `good` with the `width` bytes at `at` replaced by `value`, little-endian.
  const auto patched = [&](size_t at, uint32_t value, int width = 4) {
    Bytes bad = good;
    for (int i = 0; i < width; ++i) bad[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bad;
  };
  for (const auto& [what, at, value] : patches) EXPECT_FALSE(ort(patched(at, value)).has_value()) << what;
  // A vtable whose size is odd, too small, or runs past the file.
  for (uint16_t vtableSize : {3, 2, 0xfffe}) EXPECT_FALSE(ort(patched(28, vtableSize, 2)).has_value()) << vtableSize;
  // The metadata field placed beyond the model table's size.
  EXPECT_FALSE(ort(patched(28 + 4 + 2 * 9, 200, 1)).has_value());
  // A key string longer than the file, and one without its terminator.
  const size_t keyRef = 64 + 4 * model_files::voiceMetadata().size() + 8 + 4;  // in the first entry
  const size_t keyAt = keyRef + (good[keyRef] | good[keyRef + 1] << 8);
  const auto firstKeyLength = static_cast<uint32_t>(model_files::voiceMetadata()[0].first.size());
  EXPECT_FALSE(ort(patched(keyAt, 0xfffffff0u)).has_value());
  EXPECT_FALSE(ort(patched(keyAt, firstKeyLength + 1)).has_value());
  // A model without metadata, and a session without a model, have no entries.
  EXPECT_EQ(ort(patched(28 + 4 + 2 * 9, 0, 1)), ModelMetadata{});
  EXPECT_EQ(ort(patched(8 + 6, 0, 1)), ModelMetadata{});
}

TEST(ModelMetadataReaders, OnnxHugeLengthsBadTagsAndDeepGroupsAreRefused) {
  const Bytes good = model_files::onnxModel(model_files::voiceMetadata());
  auto withTail = [&](const Bytes& tail) {
    Bytes b = good;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  EXPECT_FALSE(onnx(withTail({0x72, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x3f})).has_value());  // field 14, length 2^62
  EXPECT_FALSE(onnx(withTail({0x3a, 0x80, 0x80, 0x80, 0x80, 0x10})).has_value());  // graph field longer than the file
  EXPECT_FALSE(onnx(withTail({0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01})).has_value());  // 11-byte varint
  EXPECT_FALSE(onnx(withTail({0x00, 0x00})).has_value());  // field number 0
  EXPECT_FALSE(onnx(withTail({0x0f})).has_value());        // wire type 7
  EXPECT_FALSE(onnx(withTail({0x0c})).has_value());        // an end-group with no group
  EXPECT_FALSE(onnx(withTail({0x72, 0x02, 0x0a, 0x05})).has_value());  // key longer than its entry
  Bytes deep;
  for (int i = 0; i < 200; ++i) deep.push_back(0x7b);  // start-group 15
  for (int i = 0; i < 200; ++i) deep.push_back(0x7c);
  EXPECT_FALSE(onnx(withTail(deep)).has_value());
  // Protobuf skips what it does not know: closed groups, fixed-width fields,
  // and field 14 under another wire type.
  const auto lenient = onnx(withTail({0x7b, 0x08, 0x01, 0x7c, 0x11, 1, 2, 3, 4, 5, 6, 7, 8, 0x15, 1, 2, 3, 4, 0x70, 0x05}));
  ASSERT_TRUE(lenient.has_value());
  EXPECT_EQ(*lenient, asMetadata(model_files::voiceMetadata()));
}

TEST(ModelMetadataReaders, AHugeFileIsRefusedWithoutBeingReadWhole) {
  stt_test::TempDir dir;
  for (const char* name : {"huge.onnx", "huge.ort"}) {
    const fs::path path = dir.path() / name;
    model_files::writeBytes(path, {});
    fs::resize_file(path, uint64_t{1} << 30);  // sparse: takes no disk space
    EXPECT_FALSE(readModelMetadata(path.string()).has_value()) << name;
  }
  // A gigabyte of field-14 entries is not held whole either: the entry
  // count is capped.
  const fs::path many = dir.path() / "many.onnx";
  Bytes entries;
  for (size_t i = 0; i <= kMaxMetadataEntries; ++i) entries.insert(entries.end(), {0x72, 0x00});
  model_files::writeBytes(many, entries);
  EXPECT_FALSE(readModelMetadata(many.string()).has_value());
}
