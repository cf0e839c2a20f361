// stream: feed standard input to the node token by token, as a text
// generator would, and report each piece as it is synthesised.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <thread>

#include "Commands.h"
#include "DevicePlayer.h"
#include "Interrupt.h"
#include "Tokenizer.h"

namespace qs_cli {

namespace {
constexpr double kMaxSeconds = 1800.0;
constexpr std::chrono::milliseconds kServiceInterval{5};

using Clock = std::chrono::steady_clock;

// Renders like an audio device on a thread of its own: each block at its
// time (--realtime without a device).
class PacedRenderer {
 public:
  explicit PacedRenderer(Speaker& speaker) : speaker_(speaker) {
    speaker_.setPaced(true);
    thread_ = std::thread([this] {
      while (!stop_ && speaker_.audioSeconds() < kMaxSeconds) speaker_.keep(speaker_.renderBlock());
    });
  }
  ~PacedRenderer() {
    stop_ = true;
    thread_.join();
  }

 private:
  Speaker& speaker_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Tokens in real time while something else renders: a paced thread, or the
// device callback. Returns the exit status.
int streamInRealTime(Speaker& speaker, DevicePlayer* player, const std::vector<std::string>& tokens,
                     double tokensPerSecond) {
  std::string error;
  // The control thread's round: print the audio thread's events, collect
  // the recording, and watch the device.
  auto service = [&] {
    std::this_thread::sleep_for(kServiceInterval);
    speaker.flushEvents();
    if (player == nullptr) return true;
    player->collect();
    if (!player->healthy(error)) return false;
    if (interrupted()) {
      error = "interrupted";
      return false;
    }
    return true;
  };
  auto playing = [&] { return speaker.startedCount() > 0 && !speaker.everySegmentFinished(); };
  // Idle for good: a prepared piece is announced in the very block in which
  // the one before it ends, so a moment between the two is not the end.
  auto waitUntilIdle = [&] {
    for (auto quietSince = Clock::now(); speaker.audioSeconds() < kMaxSeconds;) {
      if (!service()) return false;
      if (playing()) {
        quietSince = Clock::now();
      } else if (Clock::now() - quietSince > std::chrono::milliseconds(100)) {
        return true;
      }
    }
    return true;
  };
  auto waitUntil = [&](Clock::time_point due) {
    while (Clock::now() < due) {
      if (!service()) return false;
    }
    return true;
  };

  // Ctrl-C stops the speech and tells what was heard; anything else failed.
  auto fail = [&](const std::string& message) { return interrupted() ? speaker.stopOnInterrupt() : qs_cli::fail(message); };
  const auto start = Clock::now();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (!waitUntil(start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(static_cast<double>(i) / tokensPerSecond)))) {
      return fail(error);
    }
    speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", tokens[i]}, {"isFinal", false}});
  }
  // Closed at once, as a generator closes its stream: the node queues the
  // rest behind what still plays.
  speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", std::string()}, {"isFinal", true}});
  if (!waitUntil(Clock::now() + std::chrono::milliseconds(50)) || !waitUntilIdle()) return fail(error);
  if (player != nullptr && !player->finish(error)) return fail(error);
  speaker.flushEvents();
  return 0;
}

}  // namespace

int runStream(HostSession& session, double tokensPerSecond, const VoiceOptions& voice, RenderOptions render) {
  std::string error;
  if (!validateRenderOptions(render, error)) return fail(error);
  if (tokensPerSecond <= 0) return fail("--tokens-per-second must be positive");
  if (!render.output.empty() && !canWrite(render.output, error)) return fail(error);
  // The device first: a missing one is reported before the input is read.
  DevicePlayer player;
  if (render.play) {
    watchForInterrupt();
    if (!player.prepare(render, error)) return fail(error);
    if (!validateRenderOptions(render, error)) return fail(error);
  }
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::vector<std::string> tokens = splitIntoTokens(input);
  if (tokens.empty() || input.find_first_not_of(" \t\r\n") == std::string::npos) return fail("the input text is empty");
  Speaker speaker(session, render);
  StopPlayingOnExit stopPlaying(player);
  if (!speaker.open(voice, error)) return fail(error);

  auto append = [&](std::size_t i) {
    speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", tokens[i]}, {"isFinal", false}});
  };
  auto closeStream = [&] {
    speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", std::string()}, {"isFinal", true}});
  };
  auto playing = [&] { return speaker.startedCount() > 0 && !speaker.everySegmentFinished(); };

  if (render.play) {
    if (!player.start(speaker, !render.output.empty(), error)) return fail(error);
    int status = streamInRealTime(speaker, &player, tokens, tokensPerSecond);
    if (status != 0) return status;
    if (!session.json()) {
      std::fprintf(stderr, "played %.2f s on %s, %u underrun%s\n", speaker.audioSeconds(), player.description().c_str(),
                   player.underruns(), player.underruns() == 1 ? "" : "s");
    }
  } else if (render.realtime) {
    int status = 0;
    {
      PacedRenderer renderer(speaker);
      status = streamInRealTime(speaker, nullptr, tokens, tokensPerSecond);
    }
    speaker.flushEvents();
    if (status != 0) return status;
  } else {
    // Offline: tokens arrive at the given rate in output-audio time, on the
    // same thread that renders.
    std::size_t next = 0;
    bool closed = false;
    while (speaker.audioSeconds() < kMaxSeconds) {
      while (next < tokens.size() && speaker.audioSeconds() >= static_cast<double>(next) / tokensPerSecond) append(next++);
      speaker.keep(speaker.renderBlock());
      if (next == tokens.size() && !closed) {
        closeStream();
        closed = true;
      }
      if (closed && !playing()) break;
      char line[80];
      std::snprintf(line, sizeof line, "rendered %.1f s, %d pieces spoken", speaker.audioSeconds(), speaker.startedCount());
      session.progress(line);
    }
  }
  session.endProgress();
  if (speaker.startedCount() == 0) return fail("the voice is not loaded; nothing was synthesised");
  if (!render.output.empty()) {
    if (!writeWav(render.output, speaker.audio(), error)) return fail(error);
    if (render.output != "-" && !session.json()) {
      std::fprintf(stderr, "wrote %s (%.2f s)\n", render.output.c_str(),
                   static_cast<double>(speaker.audio().frames()) / render.rate);
    }
  }
  return 0;
}

}  // namespace qs_cli
