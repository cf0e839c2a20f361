// transcribe: feed a WAV file through the recognition node in blocks, the
// way an audio graph would, and print the recognised text: one line per
// segment with endpoints (the default), the whole text without.
#include <cmath>
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
// file ends with it. A line of text each, or with --json a "text" event
// each (its segment number, and the input heard when it ended).
class SegmentLines {
 public:
  explicit SegmentLines(HostSession& session) : session_(session) {}

  void decode(quorvel::extensions::sherpa::SherpaSTTNode& node, double audioSeconds) {
    for (;;) {
      auto result = node.processSegment();
      if (result.isFinal) {
        print(result.text, audioSeconds);
        open_.clear();
        continue;
      }
      if (!result.text.empty()) open_ = result.text;
      return;
    }
  }
  void finish(double audioSeconds) {
    if (!open_.empty()) print(open_, audioSeconds);
  }
  // One line of text (an empty one is not a segment: nothing was heard).
  void print(const std::string& text, double audioSeconds) {
    if (text.empty()) return;
    if (session_.json()) {
      quorvel::QVAnyMap payload{{"text", text}, {"segment", static_cast<int64_t>(printed_)}};
      session_.reportEvent("text", quorvel::QVAny(payload), std::round(audioSeconds * 1000) / 1000);
    } else {
      std::printf("%s\n", text.c_str());
    }
    ++printed_;
  }
  bool printedAny() const { return printed_ > 0; }

 private:
  HostSession& session_;
  std::string open_;
  std::size_t printed_ = 0;
};

}  // namespace

int runTranscribe(HostSession& session, const std::string& path, unsigned block, const EndpointOptions& endpoints) {
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
  SegmentLines segments(session);
  std::size_t fed = 0;
  auto seconds = [&] { return static_cast<double>(fed) / input.sampleRate; };
  auto decode = [&] {
    if (endpoints.enabled) {
      segments.decode(node, seconds());
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
    fed += frames;
    sinceDecode += frames;
    if (sinceDecode >= decodeEvery) {
      decode();
      sinceDecode = 0;
    }
  }
  decode();
  if (endpoints.enabled) {
    segments.finish(seconds());
  } else {
    segments.print(transcript.text(), seconds());
  }
  // Silence is not an empty line of text: it is said, as listen says it.
  if (!segments.printedAny() && !session.json()) std::fprintf(stderr, "%s: recognised nothing\n", path.c_str());
  return 0;
}

}  // namespace qs_cli
