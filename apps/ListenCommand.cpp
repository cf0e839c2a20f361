// listen: recognise the speech of an input device as it comes. The device
// callback feeds the recognition node; this (control) thread decodes what
// has arrived every few hundred milliseconds, until Ctrl-C or the given
// number of seconds. With endpoints (the default) it shows each segment as
// it grows and ends (SegmentPrinter); without, the whole text each time it
// grows.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "Interrupt.h"
#include "LiveRecognizer.h"
#include "SegmentPrinter.h"
#include "Transcript.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

namespace {
constexpr std::chrono::milliseconds kDecodeInterval{300};
constexpr std::chrono::milliseconds kServiceInterval{10};

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
  if (const std::string missing = missingRecognizer(); !missing.empty()) return fail(missing);
  watchForInterrupt();
  std::string error;
  sound::SoundServer server;
  if (!server.connect(error)) return fail(error);
  sound::DeviceInfo device;
  if (!server.findDevice(sound::Direction::Input, options.device, device, error)) return fail(error);

  LiveRecognizer live(server);
  if (!live.prepare(options.endpoints, error) || !live.start(device, error)) return fail(error);
  sherpa::SherpaSTTNode& node = live.node();
  const RecognitionFeed& feed = live.feed();
  sound::CaptureStream& capture = live.capture();
  const sound::StreamFormat& format = live.format();
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
