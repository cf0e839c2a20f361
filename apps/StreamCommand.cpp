// stream: feed standard input to the node token by token, as a text
// generator would, and report each piece as it is synthesised.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <thread>

#include "Commands.h"
#include "Tokenizer.h"

namespace qs_cli {

namespace {
constexpr double kMaxSeconds = 1800.0;
}

int runStream(HostSession& session, double tokensPerSecond, const VoiceOptions& voice, const RenderOptions& render) {
  std::string error;
  if (!validateRenderOptions(render, error)) return fail(error);
  if (tokensPerSecond <= 0) return fail("--tokens-per-second must be positive");
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::vector<std::string> tokens = splitIntoTokens(input);
  if (tokens.empty() || input.find_first_not_of(" \t\r\n") == std::string::npos) return fail("the input text is empty");

  Speaker speaker(session, render);
  if (!speaker.open(voice, error)) return fail(error);

  // Every token goes in as it comes; the stream is closed by an empty final
  // token once playback is idle, so that the flush does not cut off a piece
  // that is still playing.
  auto append = [&](std::size_t i) {
    speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", tokens[i]}, {"isFinal", false}});
  };
  auto closeStream = [&] {
    speaker.action("appendStreamingText", quorvel::QVAnyMap{{"token", std::string()}, {"isFinal", true}});
  };
  auto playing = [&] { return speaker.startedCount() > 0 && !speaker.idleAfterSpeech(); };

  if (!render.realtime) {
    // Offline: tokens arrive at the given rate in output-audio time, on the
    // same thread that renders.
    std::size_t next = 0;
    bool closed = false;
    while (speaker.audioSeconds() < kMaxSeconds) {
      while (next < tokens.size() && speaker.audioSeconds() >= static_cast<double>(next) / tokensPerSecond) append(next++);
      speaker.renderBlock();
      if (next == tokens.size() && !closed && !playing()) {
        closeStream();
        closed = true;
      }
      if (closed && !playing()) break;
      char line[80];
      std::snprintf(line, sizeof line, "rendered %.1f s, %d pieces spoken", speaker.audioSeconds(), speaker.startedCount());
      session.progress(line);
    }
  } else {
    // Real time: an audio thread paced like a device, tokens from this one.
    speaker.setPaced(true);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
      while (!stop && speaker.audioSeconds() < kMaxSeconds) speaker.renderBlock();
    });
    auto start = std::chrono::steady_clock::now();
    auto waitUntilIdle = [&] {
      while (playing() && speaker.audioSeconds() < kMaxSeconds) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                std::chrono::duration<double>(static_cast<double>(i) / tokensPerSecond)));
      append(i);
    }
    // Let a piece cut by the last token start before judging idleness.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waitUntilIdle();
    closeStream();
    waitUntilIdle();
    stop = true;
    audio.join();
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
