// converse: a voice-agent loop. The input device feeds the recognition node
// with turn ends on; at each final segment the reply command runs with the
// user's text on its standard input, and what it prints is streamed into
// the speech node as it comes and played on the output device. While the
// agent speaks, the user's first recognised word stops it ("stop" tells
// what was heard) and ends the command: the agent's turn is what was heard.
//
// One control thread does it all, in rounds of 10 ms (as `listen` and
// `stream --play` do): it reads the command's output, decodes every 100 ms,
// and watches both devices. The device callbacks feed and render the nodes.
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "Commands.h"
#include "ConversationLog.h"
#include "DevicePlayer.h"
#include "Interrupt.h"
#include "LiveRecognizer.h"
#include "ReplyProcess.h"
#include "SegmentPrinter.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

namespace {
constexpr std::chrono::milliseconds kServiceInterval{10};
constexpr std::chrono::milliseconds kDecodeInterval{100};
// A reply command that was asked to end gets this long before it is killed.
constexpr std::chrono::milliseconds kEndGrace{1000};
// Pieces follow each other in the block in which one ends: the speech is
// over once nothing has played for this long.
constexpr std::chrono::milliseconds kQuietAfterSpeech{300};

using Clock = std::chrono::steady_clock;
namespace sherpa = quorvel::extensions::sherpa;

// The agent's turn: from the user's final segment until its speech has
// played out or the user cut in.
struct AgentTurn {
  ReplyProcess reply;
  std::string said;            // all the command printed, all handed to the node
  bool closed = false;         // the final token is in
  bool failed = false;         // a line was printed on why
  int pendingAtStart = 0;      // pieces announced and never finished, from before
  Clock::time_point lastOutput;
  Clock::time_point quietSince;
  // Wall seconds: the final segment, the command's first output, the first
  // piece's synthesis, its first sound rendered into the device (seen at
  // the next round; the device's buffer plays it out after that).
  double turnEnd = 0, firstToken = -1, speechStart = -1, firstAudio = -1;
  int startedAtStart = 0;
};

class Conversation {
 public:
  Conversation(HostSession& session, const ConverseOptions& options, Speaker& speaker, DevicePlayer& player,
               ConversationLog& log)
      : session_(session), options_(options), speaker_(speaker), player_(player), log_(log) {}

  bool agentActive() const { return turn_.has_value(); }

  // A final segment of the user's: a turn, and the agent's reply.
  void userSaid(const std::string& text) {
    print("you", text);
    log_.user(text);
    if (turn_) {
      // Without barge-in the agent goes on: likely its own voice from the
      // loudspeaker, this is no turn.
      std::fprintf(stderr, "(heard while the agent speaks; not a turn)\n");
      return;
    }
    turn_.emplace();
    turn_->turnEnd = session_.wallSeconds();
    turn_->lastOutput = Clock::now();
    turn_->quietSince = Clock::now();
    turn_->startedAtStart = speaker_.startedCount();
    turn_->pendingAtStart = speaker_.startedCount() - speaker_.finishedCount();
    player_.forgetSound();
    if (options_.replyCommand.empty()) {
      append("You said: " + text);
      turn_->firstToken = session_.wallSeconds();
      close();
      return;
    }
    std::string error;
    if (!turn_->reply.start(options_.replyCommand, text + "\n", "QS_CONVERSATION=" + log_.path(), error)) {
      warn(error);
      turn_.reset();
    }
  }

  // The user's first word while the agent speaks: stop it, end the command.
  void bargeIn() {
    const quorvel::Result<quorvel::QVAny> stopped = speaker_.action("stop", quorvel::QVAnyMap());
    turn_->reply.end(kEndGrace);
    speaker_.flushEvents();
    const quorvel::QVAnyMap fields =
        stopped.isOk() ? quorvel::QVAny::convert<quorvel::QVAnyMap>(stopped.value()) : quorvel::QVAnyMap();
    auto field = [&](const char* key) {
      return fields.hasKey(key) ? quorvel::QVAny::convert<std::string>(fields.at(key)) : std::string();
    };
    // "unheardText" is all the turn's text the listener did not hear; the
    // pieces that played before the one cut are in neither answer, so the
    // heard part is what was said up to the unheard rest.
    const std::string notHeard = field("unheardText");
    const std::string& said = turn_->said;
    const bool endsWithRest =
        said.size() >= notHeard.size() && said.compare(said.size() - notHeard.size(), notHeard.size(), notHeard) == 0;
    const std::string heard = endsWithRest ? said.substr(0, said.size() - notHeard.size()) : field("heardText");
    printAgent(heard, true, notHeard);
    log_.agent(heard, true, notHeard);
    turn_.reset();
  }

  // The control thread's round for the agent's turn.
  void service() {
    if (!turn_) return;
    AgentTurn& turn = *turn_;
    if (turn.speechStart < 0 && speaker_.startedCount() > turn.startedAtStart) turn.speechStart = session_.wallSeconds();
    if (turn.firstAudio < 0 && turn.speechStart >= 0 && player_.heardSound()) turn.firstAudio = session_.wallSeconds();
    if (!turn.closed) {
      std::string text;
      const bool open = turn.reply.read(text);
      if (!text.empty()) {
        if (turn.firstToken < 0) turn.firstToken = session_.wallSeconds();
        append(text);
        turn.lastOutput = Clock::now();
      }
      if (!open) {
        const std::string failure = turn.reply.finish();
        if (!failure.empty()) {
          warn(failure);
          turn.failed = true;
        } else if (turn.said.find_first_not_of(" \t\r\n") == std::string::npos) {
          warn("the reply command printed nothing");
          turn.failed = true;
        }
        close();
      } else if (Clock::now() - turn.lastOutput > std::chrono::duration<double>(options_.replyTimeout)) {
        turn.reply.end(kEndGrace);
        char line[96];
        std::snprintf(line, sizeof line, "the reply command printed nothing for %g s; it was ended", options_.replyTimeout);
        warn(line);
        turn.failed = true;
        close();
      }
      return;
    }
    const bool playing = speaker_.startedCount() - speaker_.finishedCount() > turn.pendingAtStart;
    if (playing) turn.quietSince = Clock::now();
    if (playing || Clock::now() - turn.quietSince < kQuietAfterSpeech) return;
    if (turn.said.find_first_not_of(" \t\r\n") != std::string::npos) {
      printAgent(turn.said, false, "");
      log_.agent(turn.said, false, "");
    }
    turn_.reset();
  }

  // Ctrl-C while the agent speaks: it was cut off, as by the user.
  void end() {
    if (turn_) bargeIn();
  }

 private:
  void append(const std::string& token) {
    turn_->said += token;
    speaker_.action("appendStreamingText", quorvel::QVAnyMap{{"token", token}, {"isFinal", false}});
  }
  void close() {
    speaker_.action("appendStreamingText", quorvel::QVAnyMap{{"token", std::string()}, {"isFinal", true}});
    turn_->closed = true;
    turn_->quietSince = Clock::now();
  }
  void warn(const std::string& line) {
    if (session_.json()) {
      session_.reportEvent("replyFailed", quorvel::QVAny(quorvel::QVAnyMap{{"text", line}}), speaker_.audioSeconds());
    } else {
      std::fprintf(stderr, "quorvel-sherpa: %s\n", line.c_str());
    }
  }
  void print(const std::string& who, const std::string& text) {
    if (session_.json()) {
      session_.reportEvent(who == "you" ? "user" : who, quorvel::QVAny(quorvel::QVAnyMap{{"text", text}}),
                           speaker_.audioSeconds());
      return;
    }
    std::printf("%s: %s\n", who.c_str(), text.c_str());
    std::fflush(stdout);
  }
  void printAgent(const std::string& heard, bool interrupted, const std::string& notHeard) {
    if (session_.json()) {
      quorvel::QVAnyMap payload{{"text", heard}, {"interrupted", interrupted}};
      if (interrupted) payload.set("notHeard", notHeard);
      // Seconds of wall time: the user's turn end, the command's first
      // output, the first piece's synthesis.
      payload.set("turnEnd", turn_->turnEnd);
      if (turn_->firstToken >= 0) payload.set("firstToken", turn_->firstToken);
      if (turn_->speechStart >= 0) payload.set("speechStart", turn_->speechStart);
      if (turn_->firstAudio >= 0) payload.set("firstAudio", turn_->firstAudio);
      session_.reportEvent("agent", quorvel::QVAny(payload), speaker_.audioSeconds());
      return;
    }
    if (interrupted) {
      std::printf("agent (interrupted): %s [not heard: %s]\n", trim(heard).c_str(), trim(notHeard).c_str());
    } else {
      std::printf("agent: %s\n", trim(heard).c_str());
    }
    std::fflush(stdout);
  }
  static std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  }

  HostSession& session_;
  const ConverseOptions& options_;
  Speaker& speaker_;
  DevicePlayer& player_;
  ConversationLog& log_;
  std::optional<AgentTurn> turn_;
};

}  // namespace

int runConverse(HostSession& session, const ConverseOptions& options) {
  if (options.replyTimeout <= 0) return fail("--reply-timeout must be positive");
  if (const std::string missing = missingRecognizer(); !missing.empty()) return fail(missing);
  watchForInterrupt();
  std::string error;
  RenderOptions render;
  render.play = true;
  render.device = options.outputDevice;
  DevicePlayer player;
  if (!player.prepare(render, error)) return fail(error);
  // One connection for both devices: one loop thread runs both callbacks,
  // and all of libpulse's state (some of it shared by every connection of
  // the process) is used under one lock.
  sound::SoundServer& server = player.server();
  sound::DeviceInfo input;
  if (!server.findDevice(sound::Direction::Input, options.device, input, error)) return fail(error);
  if (!validateRenderOptions(render, error)) return fail(error);
  ConversationLog log;
  if (!log.open(options.conversationFile, error)) return fail(error);

  VoiceOptions voice = options.voice;
  voice.prepareAhead = true;  // a piece is generated as the reply completes it, not when the one before ends
  Speaker speaker(session, render);
  StopPlayingOnExit stopPlaying(player);
  if (!speaker.open(voice, error)) return fail(error);

  LiveRecognizer live(server);
  EndpointOptions endpoints = options.endpoints;
  endpoints.enabled = true;
  if (!live.prepare(endpoints, error)) return fail(error);
  sherpa::SherpaSTTNode& recognizer = live.node();
  sound::CaptureStream& capture = live.capture();

  if (!player.start(speaker, false, error)) return fail(error);
  if (!live.start(input, error)) return fail(error);
  if (!session.json()) {
    std::fprintf(stderr, "listening on %s, speaking on %s%s; Ctrl-C ends\n", input.name.c_str(),
                 player.description().c_str(), options.bargeIn ? "" : " (no barge-in)");
  }

  Conversation conversation(session, options, speaker, player, log);
  auto decode = [&] {
    for (;;) {
      const auto result = recognizer.processSegment();
      if (options.bargeIn && conversation.agentActive() && (result.textGrew || (result.isFinal && !result.text.empty()))) {
        conversation.bargeIn();
      }
      if (result.isFinal && !result.text.empty()) conversation.userSaid(result.text);
      if (!result.isFinal) break;
    }
  };
  auto nextDecode = Clock::now() + kDecodeInterval;
  bool failed = false;
  while (!interrupted()) {
    std::this_thread::sleep_for(kServiceInterval);
    speaker.flushEvents();
    player.collect();
    if (!player.healthy(error) || !capture.healthy(error)) {
      failed = true;
      break;
    }
    conversation.service();
    if (Clock::now() < nextDecode) continue;
    nextDecode += kDecodeInterval;
    decode();
  }
  conversation.end();
  capture.close();
  player.stop();
  speaker.flushEvents();
  if (failed) return fail(error);
  return 0;
}

}  // namespace qs_cli
