// The command-line host's commands; each returns the process exit status.
#pragma once

#include <string>

#include "HostSession.h"
#include "Speaker.h"

namespace qs_cli {

struct ListenOptions {
  std::string device;    // input device name; empty: the default one
  double seconds = 0.0;  // 0: until Ctrl-C
};

// `render` is taken by value: with --play, the device settles its format.
int runSay(HostSession& session, const std::string& text, const VoiceOptions& voice, RenderOptions render);
int runStream(HostSession& session, double tokensPerSecond, const VoiceOptions& voice, RenderOptions render);
int runTranscribe(HostSession& session, const std::string& path, unsigned block);
int runListen(HostSession& session, const ListenOptions& options);
int runDevices(HostSession& session);
int runNodes(HostSession& session);

}  // namespace qs_cli
