// say: speak one text into a WAV file, through an output device (--play),
// or both.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "DevicePlayer.h"
#include "Interrupt.h"

namespace qs_cli {

namespace {
// Longest text the host will render, in seconds of audio.
constexpr double kMaxSeconds = 600.0;
// Give up when this much output passes without any sound.
constexpr double kSilenceTimeout = 2.0;
// How often the control thread looks at a playing device.
constexpr std::chrono::milliseconds kServiceInterval{10};

bool blockHasSound(const quorvel::AudioBuffer<float>& block) {
  for (unsigned c = 0; c < block.getNumberOfChannels(); ++c) {
    for (unsigned f = 0; f < block.getNumberOfFrames(); ++f) {
      if (std::fabs(block.getReadPointer(c)[f]) > 1e-6f) return true;
    }
  }
  return false;
}

int renderToMemory(HostSession& session, Speaker& speaker) {
  bool heard = false;
  while (speaker.finishedCount() == 0 && speaker.audioSeconds() < kMaxSeconds) {
    const auto& block = speaker.renderBlock();
    speaker.keep(block);
    heard = heard || blockHasSound(block);
    if (!heard && speaker.audioSeconds() > kSilenceTimeout) return fail("the voice produced no audio for this text");
    char line[64];
    std::snprintf(line, sizeof line, "rendered %.1f s", speaker.audioSeconds());
    session.progress(line);
  }
  session.endProgress();
  return 0;
}

// The device callback renders; this thread prints the events, collects the
// recording and watches the device until "finished", then plays out the end.
int playOnDevice(HostSession& session, Speaker& speaker, DevicePlayer& player) {
  std::string error;
  while (speaker.finishedCount() == 0 && speaker.audioSeconds() < kMaxSeconds) {
    std::this_thread::sleep_for(kServiceInterval);
    speaker.flushEvents();
    player.collect();
    if (!player.healthy(error)) return fail(error);
    if (interrupted()) return speaker.stopOnInterrupt();
    if (!player.heardSound() && speaker.audioSeconds() > kSilenceTimeout) {
      return fail("the voice produced no audio for this text");
    }
    char line[64];
    std::snprintf(line, sizeof line, "played %.1f s", speaker.audioSeconds());
    session.progress(line);
  }
  session.endProgress();
  bool drained = player.finish(error);
  speaker.flushEvents();
  if (!drained) return fail(error);
  if (!session.json()) {
    std::fprintf(stderr, "played %.2f s on %s, %u underrun%s\n", speaker.audioSeconds(), player.description().c_str(),
                 player.underruns(), player.underruns() == 1 ? "" : "s");
  }
  if (player.unrecordedFrames() > 0) return fail("the recording lost " + std::to_string(player.unrecordedFrames()) + " frames");
  return 0;
}

}  // namespace

int runSay(HostSession& session, const std::string& text, const VoiceOptions& voice, RenderOptions render) {
  std::string error;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return fail("the text is empty");
  if (!validateRenderOptions(render, error)) return fail(error);
  // Without -o or --play, say writes say.wav (its help says so).
  const std::string output = render.output.empty() && !render.play ? "say.wav" : render.output;
  if (!output.empty() && !canWrite(output, error)) return fail(error);
  DevicePlayer player;
  if (render.play) {
    watchForInterrupt();
    if (!player.prepare(render, error)) return fail(error);
    if (!validateRenderOptions(render, error)) return fail(error);
  }
  Speaker speaker(session, render);
  StopPlayingOnExit stopPlaying(player);
  if (!speaker.open(voice, error)) return fail(error);
  if (render.play && !player.start(speaker, !render.output.empty(), error)) return fail(error);

  speaker.action("synthesize", quorvel::QVAnyMap{{"text", text}});
  if (speaker.startedCount() == 0) return fail("the voice is not loaded; nothing was synthesised");
  int status = render.play ? playOnDevice(session, speaker, player) : renderToMemory(session, speaker);
  if (status != 0) return status;
  // The whole text or nothing: a cut text would pass for a whole one.
  if (speaker.finishedCount() == 0) {
    return fail("the text needs more than " + std::to_string(static_cast<int>(kMaxSeconds)) +
                " s of speech, more than say speaks: it stopped there and wrote nothing (stream speaks a text of any length)");
  }

  if (output.empty()) return 0;
  if (!writeWav(output, speaker.audio(), error)) return fail(error);
  if (output != "-" && !session.json()) {
    std::fprintf(stderr, "wrote %s (%.2f s, %d Hz, %u channel%s)\n", output.c_str(),
                 static_cast<double>(speaker.audio().frames()) / render.rate, render.rate, render.channels,
                 render.channels == 1 ? "" : "s");
  }
  return 0;
}

}  // namespace qs_cli
