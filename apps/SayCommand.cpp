// say: speak one text and write it to a WAV file.
#include <cmath>
#include <cstdio>

#include "Commands.h"

namespace qs_cli {

namespace {
// Longest text the host will render, in seconds of audio.
constexpr double kMaxSeconds = 600.0;
// Give up when this much output passes without any sound.
constexpr double kSilenceTimeout = 2.0;

bool blockHasSound(const Audio& audio, std::size_t fromSample) {
  for (std::size_t i = fromSample; i < audio.interleaved.size(); ++i) {
    if (std::fabs(audio.interleaved[i]) > 1e-6f) return true;
  }
  return false;
}
}  // namespace

int runSay(HostSession& session, const std::string& text, const VoiceOptions& voice, const RenderOptions& render) {
  std::string error;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return fail("the text is empty");
  if (!validateRenderOptions(render, error)) return fail(error);
  Speaker speaker(session, render);
  if (!speaker.open(voice, error)) return fail(error);
  speaker.setPaced(render.realtime);

  speaker.action("synthesize", quorvel::QVAnyMap{{"text", text}});
  if (speaker.startedCount() == 0) return fail("the voice is not loaded; nothing was synthesised");

  bool heard = false;
  while (speaker.finishedCount() == 0 && speaker.audioSeconds() < kMaxSeconds) {
    std::size_t before = speaker.audio().interleaved.size();
    speaker.renderBlock();
    heard = heard || blockHasSound(speaker.audio(), before);
    if (!heard && speaker.audioSeconds() > kSilenceTimeout) return fail("the voice produced no audio for this text");
    char line[64];
    std::snprintf(line, sizeof line, "rendered %.1f s", speaker.audioSeconds());
    session.progress(line);
  }
  session.endProgress();
  std::string output = render.output.empty() ? "say.wav" : render.output;
  if (!writeWav(output, speaker.audio(), error)) return fail(error);
  if (output != "-" && !session.json()) {
    std::fprintf(stderr, "wrote %s (%.2f s, %d Hz, %u channel%s)\n", output.c_str(),
                 static_cast<double>(speaker.audio().frames()) / render.rate, render.rate, render.channels,
                 render.channels == 1 ? "" : "s");
  }
  return 0;
}

}  // namespace qs_cli
