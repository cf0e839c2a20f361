// listen: recognise the speech of an input device as it comes. The device
// callback feeds the recognition node; this (control) thread decodes what
// has arrived every few hundred milliseconds, until Ctrl-C or the given
// number of seconds. With endpoints (the default) it shows each segment as
// it grows and ends (SegmentPrinter); without, the whole text each time it
// grows.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "Commands.h"
#include "Interrupt.h"
#include "RecognitionFeed.h"
#include "SegmentPrinter.h"
#include "Transcript.h"
#include "models/ModelPaths.h"
#include "sound/CaptureStream.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

namespace {
constexpr std::chrono::milliseconds kDecodeInterval{300};
constexpr std::chrono::milliseconds kServiceInterval{10};
constexpr double kBlockSeconds = 0.01;
// The recognizer's own rate: the sound server converts the device's audio
// to it, so the engine has nothing to resample.
constexpr int kRecognizerRate = 16000;

using Clock = std::chrono::steady_clock;
namespace sherpa = quorvel::extensions::sherpa;

void printText(HostSession& session, const std::string& text, double audioSeconds) {
  if (session.json()) {
    session.reportEvent("text", quorvel::QVAny(quorvel::QVAnyMap{{"text", text}}), std::round(audioSeconds * 1000) / 1000);
    return;
  }
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace

int runListen(HostSession& session, const ListenOptions& options) {
  if (options.seconds < 0) return fail("--seconds must not be negative");
  if (!std::filesystem::exists(sherpa::resolveSTTModelPath())) {
    return fail("the recognizer model is missing at " + sherpa::resolveSTTModelPath() + " (run scripts/setup.sh)");
  }
  watchForInterrupt();
  std::string error;
  sound::SoundServer server;
  if (!server.connect(error)) return fail(error);
  sound::DeviceInfo device;
  if (!server.findDevice(sound::Direction::Input, options.device, device, error)) return fail(error);

  // One channel at the recognizer's rate: the server mixes a stereo device
  // down and converts its rate.
  sound::StreamFormat format;
  format.sampleRate = kRecognizerRate;
  format.channels = 1;
  format.blockFrames = static_cast<unsigned>(std::lround(format.sampleRate * kBlockSeconds));
  sherpa::SherpaSTTNode node;
  quorvel::AudioBusFormat busFormat{format.sampleRate, 1};
  if (!node.setBusFormat(busFormat)) return fail("the recognition node refused " + std::to_string(format.sampleRate) + " Hz");
  if (const std::string problem = applyEndpoints(node, options.endpoints); !problem.empty()) return fail(problem);

  RecognitionFeed feed(node, format.sampleRate, format.blockFrames);
  sound::CaptureStream capture(server);
  if (!capture.start(device, format, [&feed](const float* mono, std::size_t frames) { feed.deliver(mono, frames); },
                     error)) {
    return fail(error);
  }
  if (!session.json()) {
    std::fprintf(stderr, "listening on %s (%s; %u-frame blocks)%s\n", device.name.c_str(),
                 sound::describeFormat(format.sampleRate, format.channels).c_str(), format.blockFrames,
                 options.seconds > 0 ? "" : "; Ctrl-C stops");
  }

  Transcript transcript;
  SegmentPrinter segments(session);
  // Decodes what has arrived and shows it; with endpoints, every segment
  // that ended in it.
  auto decode = [&] {
    if (!options.endpoints.enabled) {
      if (transcript.update(node.processAudio())) printText(session, transcript.text(), feed.seconds());
      return;
    }
    for (;;) {
      const auto result = node.processSegment();
      segments.show(result, feed.seconds());
      if (!result.isFinal) break;
    }
  };
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  auto nextDecode = start + kDecodeInterval;
  bool failed = false;
  while (!interrupted() && (options.seconds == 0 || Clock::now() < end)) {
    std::this_thread::sleep_for(kServiceInterval);
    if (!capture.healthy(error)) {
      failed = true;
      break;
    }
    if (Clock::now() < nextDecode) continue;
    nextDecode += kDecodeInterval;
    decode();
  }
  capture.close();
  decode();
  segments.finish();
  if (failed) return fail(error);
  if (feed.droppedFrames() > 0 || capture.overruns() > 0) {
    std::fprintf(stderr, "quorvel-sherpa: lost input: %llu frames dropped by the node, %u device overruns\n",
                 static_cast<unsigned long long>(feed.droppedFrames()), capture.overruns());
  }
  if (!session.json()) {
    std::fprintf(stderr, "heard %.2f s of audio%s\n", feed.seconds(),
                 transcript.text().empty() && !segments.heardAnything() ? ", recognised nothing" : "");
  }
  return 0;
}

}  // namespace qs_cli
