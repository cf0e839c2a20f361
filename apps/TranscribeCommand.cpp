// transcribe: feed a WAV file through the recognition node in blocks, the
// way an audio graph would, and print the recognised text: one line per
// segment with endpoints (the default), the whole text without.
#include <cstdio>
#include <filesystem>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "Commands.h"
#include "SegmentPrinter.h"
#include "Transcript.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

namespace {
// Decode about every half second of audio, well before the node's
// ten-second input buffer fills.
constexpr double kDecodeInterval = 0.5;
// The recognizer decodes only whole chunks; trailing silence lets it reach
// the end of the speech.
constexpr double kTrailingSilence = 1.0;
}  // namespace

namespace {

// Prints each segment that ended; a segment still open at the end of the
// file ends with it.
class SegmentLines {
 public:
  void decode(quorvel::extensions::sherpa::SherpaSTTNode& node) {
    for (;;) {
      auto result = node.processSegment();
      if (result.isFinal) {
        std::printf("%s\n", result.text.c_str());
        open_.clear();
        continue;
      }
      if (!result.text.empty()) open_ = result.text;
      return;
    }
  }
  void finish() {
    if (!open_.empty()) std::printf("%s\n", open_.c_str());
  }

 private:
  std::string open_;
};

}  // namespace

int runTranscribe(HostSession& session, const std::string& path, unsigned block, const EndpointOptions& endpoints) {
  (void)session;
  namespace sherpa = quorvel::extensions::sherpa;
  if (block < 1 || block > 8192) return fail("block size " + std::to_string(block) + " is out of range (1 to 8192 frames)");
  if (!std::filesystem::exists(path)) return fail("no such file: " + path);
  Audio input;
  std::string error;
  if (!readAudioFile(path, input, error)) return fail(error);
  if (input.sampleRate < 8000 || input.sampleRate > 192000) {
    return fail("sample rate " + std::to_string(input.sampleRate) + " Hz is out of range (8000 to 192000)");
  }
  if (!std::filesystem::exists(sherpa::resolveSTTModelPath())) {
    return fail("the recognizer model is missing at " + sherpa::resolveSTTModelPath() + " (run scripts/setup.sh)");
  }

  sherpa::SherpaSTTNode node;
  quorvel::AudioBusFormat format{input.sampleRate, 1};
  if (!node.setBusFormat(format)) return fail("the recognition node refused " + std::to_string(input.sampleRate) + " Hz");
  if (const std::string problem = applyEndpoints(node, endpoints); !problem.empty()) return fail(problem);

  // First channel only, plus trailing silence.
  std::vector<float> mono(input.frames() + static_cast<std::size_t>(kTrailingSilence * input.sampleRate), 0.0f);
  for (std::size_t f = 0; f < input.frames(); ++f) mono[f] = input.interleaved[f * input.channels];

  Transcript transcript;
  SegmentLines segments;
  auto decode = [&] {
    if (endpoints.enabled) {
      segments.decode(node);
    } else {
      transcript.update(node.processAudio());
    }
  };
  const std::size_t decodeEvery = static_cast<std::size_t>(kDecodeInterval * input.sampleRate);
  std::size_t sinceDecode = 0;
  for (std::size_t offset = 0; offset < mono.size(); offset += block) {
    unsigned frames = static_cast<unsigned>(std::min<std::size_t>(block, mono.size() - offset));
    float* channel = mono.data() + offset;
    quorvel::AudioBuffer<float> buffer(1, frames, false, input.sampleRate, &channel);
    quorvel::AudioBus bus(&buffer);
    node.consume(bus);
    sinceDecode += frames;
    if (sinceDecode >= decodeEvery) {
      decode();
      sinceDecode = 0;
    }
  }
  decode();
  if (endpoints.enabled) {
    segments.finish();
  } else {
    std::printf("%s\n", transcript.text().c_str());
  }
  return 0;
}

}  // namespace qs_cli
