// The command-line host's commands; each returns the process exit status.
#pragma once

#include <string>

#include "HostSession.h"
#include "Speaker.h"

namespace qs_cli {

// Turn ends of the recognition node (on by default in the commands).
struct EndpointOptions {
  bool enabled = true;
  double silence = 0.8;  // seconds of silence after speech that end a segment
};

struct ListenOptions {
  std::string device;    // input device name; empty: the default one
  double seconds = 0.0;  // 0: until Ctrl-C
  EndpointOptions endpoints;
};

struct ConverseOptions {
  std::string replyCommand;     // empty: the agent echoes ("You said: ...")
  bool bargeIn = true;          // the user's first word stops the agent
  std::string device;           // input device; empty: the default one
  std::string outputDevice;     // output device; empty: the default one
  double replyTimeout = 20.0;   // seconds a reply command may print nothing
  std::string conversationFile; // empty: a temporary file, removed at the end
  EndpointOptions endpoints;
  VoiceOptions voice;
};

// `render` is taken by value: with --play, the device settles its format.
int runSay(HostSession& session, const std::string& text, const VoiceOptions& voice, RenderOptions render);
int runStream(HostSession& session, double tokensPerSecond, const VoiceOptions& voice, RenderOptions render);
int runTranscribe(HostSession& session, const std::string& path, unsigned block, const EndpointOptions& endpoints);
int runListen(HostSession& session, const ListenOptions& options);
int runConverse(HostSession& session, const ConverseOptions& options);
int runDevices(HostSession& session);
int runNodes(HostSession& session);

}  // namespace qs_cli
