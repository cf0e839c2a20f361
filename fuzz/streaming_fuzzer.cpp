// libFuzzer target for the streaming text buffer of the speech synthesis
// node, driven against the engine test double.
//
// The input is decoded into a run of operations on one fresh node:
//   byte 0      samples per generated item: byte * 2 (0 .. 510)
//   byte 1      block size: one of 16, 32, 64, 128, 160, 256, 480, 512 frames
//   then, per operation, an opcode byte `op` (kind = op % 8, arg = op / 8):
//     0-3  append a token of `arg` bytes (0 .. 31) taken from the input
//     4    append a token whose length is the next byte (0 .. 255)
//     5    append a final token of `arg` bytes
//     6    render `arg` + 1 blocks
//     7    by `arg` % 4: "stop", a whole text ("synthesize"), else clear the
//          buffer
// NUL bytes of tokens become spaces (the engine double records C strings).
//
// After every operation the texts handed to the engine, the number of
// "finished" events, the buffer and every rendered block are compared with
// a reference model of the cut rules, the queue of pieces and playback; at
// every clear, stop and at the end, the pieces and the buffer must spell the
// tokens with only runs of ' ', '\t', '\n' after cuts left out. Played out
// at the end, an input without "stop" or whole texts must have had every
// piece heard whole, each with its "finished". Any difference aborts.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <quorvel/Logger.h>
#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/TestBlock.h"
#include "tts/StreamingReference.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

namespace {

using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::sherpa::SherpaTTSNode;
using namespace streaming_reference;

[[noreturn]] void violation(const char* what, std::size_t operation) {
  std::fprintf(stderr, "streaming_fuzzer: %s (operation %zu)\n", what, operation);
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string bytes(std::size_t n) {
    std::string s;
    while (n-- > 0 && pos_ < size_) {
      const char c = static_cast<char>(data_[pos_++]);
      s += c == '\0' ? ' ' : c;
    }
    return s;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

std::string nodeBuffer(SherpaTTSNode& node) {
  auto& in = node.internalsForTesting();
  std::lock_guard<std::mutex> lock(in.streamingMutex);
  return in.streamingBuffer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quorvel::Logger::setLevel(quorvel::LogLevel::None);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Input input(data, size);
  static const unsigned kBlockFrames[] = {16, 32, 64, 128, 160, 256, 480, 512};
  const int32_t samplesPerItem = static_cast<int32_t>(input.byte()) * 2;
  const unsigned blockFrames = kBlockFrames[input.byte() % 8];

  fake_engine::reset();
  fake_engine::knobs().samplesPerText = samplesPerItem;
  std::vector<std::string> generated;
  {
    SherpaTTSNode node(QVAnyMap{});
    // The double creates a voice from any paths.
    if (node.internalsForTesting().tts == nullptr) node.loadModel("voice.onnx", "tokens.txt", "espeak-ng-data");
    if (node.internalsForTesting().tts == nullptr) violation("no voice loaded", 0);
    int finishedEvents = 0;
    const uint64_t listener =
        node.addListener("finished", [&finishedEvents](const std::string&, const QVAny&) { ++finishedEvents; });
    test_kit::TestBlock block(1, blockFrames);
    ReferenceModel model(samplesPerItem, blockFrames, nullptr, &fake_engine::sampleValue);
    bool dropsSpeech = false;
    std::vector<std::size_t> wholeTexts;
    auto render = [&](std::size_t operation) {
      node.produce(block.bus());
      const std::vector<float> expected = model.renderBlock();
      for (std::size_t i = 0; i < expected.size(); ++i)
        if (std::fabs(block.at(0, static_cast<unsigned>(i)) - expected[i]) > 1e-6f) violation("rendered audio differs", operation);
    };

    std::string segmentText;  // tokens since the last clear
    std::size_t segmentFirstPiece = 0;
    auto checkSegment = [&](std::size_t operation) {
      std::vector<std::string> pieces;
      for (std::size_t i = segmentFirstPiece; i < generated.size(); ++i)
        if (std::find(wholeTexts.begin(), wholeTexts.end(), i) == wholeTexts.end()) pieces.push_back(generated[i]);
      if (!spellsText(withoutAsterisks(segmentText), pieces, withoutAsterisks(nodeBuffer(node))))
        violation("pieces and buffer do not spell the tokens", operation);
    };

    for (std::size_t operation = 0; !input.empty(); ++operation) {
      const uint8_t op = input.byte();
      const unsigned arg = op / 8;
      switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {
          const std::size_t length = op % 8 == 4 ? input.byte() : arg;
          const std::string token = input.bytes(length);
          const bool isFinal = op % 8 == 5;
          node.appendStreamingText(token, isFinal);
          model.append(token, isFinal);
          segmentText += token;
          break;
        }
        case 6:
          for (unsigned b = 0; b <= arg; ++b) render(operation);
          break;
        default:
          if (arg % 4 == 1) {
            dropsSpeech = true;
            const std::string text = "Whole text " + std::to_string(operation) + ".";
            wholeTexts.push_back(model.pieces.size());
            node.synthesize(text);
            model.synthesize(text);
            break;
          }
          checkSegment(operation);
          if (arg % 4 == 0) {
            dropsSpeech = true;
            node.stop();
            model.stop();
            segmentText.clear();
            segmentFirstPiece = generated.size();
            break;
          }
          node.clearStreamingBuffer();
          model.clear();
          segmentText.clear();
          segmentFirstPiece = generated.size();
          break;
      }

      if (static_cast<std::size_t>(fake_engine::calls().generate.load()) != generated.size())
        generated = fake_engine::generatedTexts();
      if (generated.size() != model.pieces.size()) violation("wrong number of texts handed to the engine", operation);
      for (std::size_t i = 0; i < generated.size(); ++i)
        if (generated[i] != withoutAsterisks(model.pieces[i])) violation("wrong text handed to the engine", operation);
      if (finishedEvents != model.finished) violation("wrong number of \"finished\" events", operation);
      if (nodeBuffer(node) != model.buffer) violation("wrong buffer content", operation);
    }
    checkSegment(SIZE_MAX);
    for (int b = 0; b < 1000000 && !model.idle(); ++b) render(SIZE_MAX);
    render(SIZE_MAX);
    if (finishedEvents != model.finished) violation("wrong number of \"finished\" events after play-out", SIZE_MAX);
    if (!dropsSpeech) {
      for (int64_t heard : model.heard())
        if (heard != samplesPerItem) violation("a piece was cut short", SIZE_MAX);
      if (model.finished != static_cast<int>(model.pieces.size())) violation("a piece without \"finished\"", SIZE_MAX);
    }
    node.removeListener(listener);
  }
  fake_engine::reset();
  return 0;
}
