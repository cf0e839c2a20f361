// libFuzzer target for the render step of the speech synthesis node under
// random interleavings of control calls, on one node per input driven
// against the engine test double.
//
// Operations decoded with FuzzedDataProvider: synthesize, streaming appends
// (some final), produce with a random block (0 to 65536 frames, 1 or 2
// channels, at the graph's rate or, sometimes, a random one), output format
// changes (rates from -1 to 10 MHz, 0 to 6 channels), buffer clears, voice
// reloads (some failing), engine failures (no result, an exception) and
// "stop". Listeners of "finished" and "synthesisStarted" call back into the
// node with operations taken from the input (a bounded number per input):
// from the audio thread inside produce, and from inside a synthesis.
//
// After every produce: every sample of the block was written (the block is
// pre-filled with NaN), is finite and no larger than 2 (the double's audio
// lies in [0.25, 0.75]; a switching block adds a faded tail to the new
// segment, and the conversion may overshoot a little), and both channels
// are equal. At all times the "finished" events number no more than the
// segments the engine produced (at most one "finished" per segment). Any
// violation aborts; AddressSanitizer catches memory errors.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include <quorvel/Logger.h>
#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"

namespace {

using namespace quorvel;
using quorvel::extensions::sherpa::SherpaTTSNode;

[[noreturn]] void violation(const char* what, int operation) {
  std::fprintf(stderr, "render_fuzzer: %s (operation %d)\n", what, operation);
  std::abort();
}

struct Counts {
  int segments = 0;  // generations that returned audio
  int finished = 0;
  int callbacks = 0;  // operations run from listeners
};

// One operation a listener runs on the node, as an application's might.
void callBack(SherpaTTSNode& node, FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0: node.synthesize(in.ConsumeRandomLengthString(20)); break;
    case 1: node.appendStreamingText(in.ConsumeRandomLengthString(60), in.ConsumeBool()); break;
    case 2: node.stop(); break;
    case 3: node.clearStreamingBuffer(); break;
    case 4: node.loadModel("voice.onnx", "tokens.txt", "espeak-ng-data"); break;
    case 5: {
      AudioBusFormat format{in.PickValueInArray({16000, 44100, 48000}), 2};
      node.setBusFormat(format);
      break;
    }
    default: break;
  }
}

const char* fault(const test_kit::TestBlock& block) {
  for (unsigned c = 0; c < block.channels(); ++c) {
    for (unsigned i = 0; i < block.frames(); ++i) {
      if (std::isnan(block.at(c, i))) return "a sample was left unwritten or is NaN";
      if (std::abs(block.at(c, i)) > 2.0f) return "a sample is out of range";
    }
  }
  return block.finiteAndAlike() ? nullptr : "the channels differ";
}

unsigned blockFrames(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 65536;
    default: return in.PickValueInArray({7u, 64u, 160u, 441u, 480u, 1024u, 4096u});
  }
}

int anyRate(FuzzedDataProvider& in) {
  return in.PickValueInArray({-1, 0, 1, 8000, 16000, 22050, 44100, 48000, 96000, 10000000});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Logger::setLevel(LogLevel::None);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake_engine::reset();
  FuzzedDataProvider in(data, size);
  Counts counts;
  fake_engine::knobs().samplesPerText = in.ConsumeIntegralInRange<int32_t>(0, 4000);
  // Counted as the engine answers: the knobs change only between operations.
  fake_engine::knobs().onGenerate = [&counts](const std::string&) {
    if (!fake_engine::knobs().generateReturnsNull && !fake_engine::knobs().generateThrows) ++counts.segments;
  };
  {
    SherpaTTSNode node{QVAnyMap()};
    node.addListener("finished", [&counts](const std::string&, const QVAny&) { ++counts.finished; });
    // Listeners that call back while the input lasts; a budget keeps a
    // "synthesisStarted" listener that synthesises from recursing forever.
    const bool callingBack = in.ConsumeBool();
    auto listener = [&](const std::string&, const QVAny&) {
      if (!callingBack || counts.callbacks >= 40 || in.remaining_bytes() == 0 || !in.ConsumeBool()) return;
      ++counts.callbacks;
      callBack(node, in);
    };
    node.addListener("finished", listener);
    node.addListener("synthesisStarted", listener);
    if (!node.loadModel("voice.onnx", "tokens.txt", "espeak-ng-data")) violation("no voice", 0);
    int graphRate = 0;  // the rate of the last accepted format; buffers carry it
    for (int op = 1; op <= 200 && in.remaining_bytes() > 0; ++op) {
      switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0: node.synthesize(in.ConsumeRandomLengthString(40)); break;
        case 1:
        case 2: node.appendStreamingText(in.ConsumeRandomLengthString(20), in.ConsumeIntegralInRange<int>(0, 5) == 0); break;
        case 3: {
          AudioBusFormat format{anyRate(in), in.ConsumeIntegralInRange<unsigned>(0, 6)};
          if (node.setBusFormat(format)) graphRate = format.sampleRate;
          break;
        }
        case 4:
          if (in.ConsumeBool()) {
            node.clearStreamingBuffer();
          } else {
            node.stop();
          }
          break;
        case 5: {
          fake_engine::knobs().createTtsFails = in.ConsumeIntegralInRange<int>(0, 3) == 0;
          node.loadModel("voice.onnx", "tokens.txt", "espeak-ng-data");
          fake_engine::knobs().createTtsFails = false;
          break;
        }
        case 6: {
          const int failure = in.ConsumeIntegralInRange<int>(0, 3);
          fake_engine::knobs().generateReturnsNull = failure == 1;
          fake_engine::knobs().generateThrows = failure == 2;
          break;
        }
        default: {
          const unsigned frames = blockFrames(in);
          const unsigned channels = in.ConsumeIntegralInRange<unsigned>(1, 2);
          const int rate = in.ConsumeIntegralInRange<int>(0, 9) == 0 ? anyRate(in) : graphRate;
          // Far from the voice's rate one block needs many render steps (a
          // 1 Hz block of n frames pulls n seconds of speech): keep such
          // blocks short.
          const unsigned cap = rate > 192000 ? 4096u : (rate > 0 && rate < 8000 ? 16u : frames);
          const unsigned used = std::min(frames, cap);
          test_kit::TestBlock block(channels, std::max(used, 1u), rate, std::numeric_limits<float>::quiet_NaN());
          node.produce(block.wrap(used));
          if (const char* what = fault(block)) violation(what, op);
          break;
        }
      }
      if (counts.finished > counts.segments) violation("more \"finished\" events than segments", op);
    }
  }
  return 0;
}
