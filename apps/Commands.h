// The command-line host's commands; each returns the process exit status.
#pragma once

#include <string>

#include "HostSession.h"
#include "Speaker.h"

namespace qs_cli {

int runSay(HostSession& session, const std::string& text, const VoiceOptions& voice, const RenderOptions& render);
int runStream(HostSession& session, double tokensPerSecond, const VoiceOptions& voice, const RenderOptions& render);
int runTranscribe(HostSession& session, const std::string& path, unsigned block);
int runNodes(HostSession& session);

}  // namespace qs_cli
