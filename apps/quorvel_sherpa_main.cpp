// quorvel-sherpa: a command-line host for the Sherpa extension. It loads the
// extension the way an application does, creates nodes through the
// extension's factory and drives them with the framework's graph driver.
//
//   quorvel-sherpa say "Hello world." -o hello.wav
//   echo "A streamed reply. In two pieces." | quorvel-sherpa stream -o reply.wav
//   quorvel-sherpa say "Hello world." --play
//   quorvel-sherpa transcribe testdata/hello_world_16000.wav
//   quorvel-sherpa listen --seconds 10
//   quorvel-sherpa converse --reply-command ./my-agent.sh
//   quorvel-sherpa devices
//   quorvel-sherpa nodes
#include <CLI/CLI.hpp>

#include "Commands.h"

int main(int argc, char** argv) {
  using namespace qs_cli;
  CLI::App app{"Speak, stream, transcribe and listen with the Sherpa extension"};
  app.require_subcommand(1);
  // The global options are accepted anywhere on the line: a subcommand hands
  // what it does not know to the application (subcommands inherit this).
  app.fallthrough();
  Options options;
  app.add_flag("--json", options.json, "Print each event as one JSON object per line on standard output");
  app.add_option("--log-level", options.logLevel, "Logger threshold: none, error, warning, info, debug, trace")
      ->check(CLI::IsMember({"none", "error", "warning", "info", "debug", "trace"}));

  VoiceOptions voice;
  RenderOptions render;
  std::vector<CLI::Option*> rateOptions, channelOptions, blockOptions;
  auto addRender = [&](CLI::App* cmd) {
    cmd->add_option("-o,--output", render.output, "WAV file to write ('-' for standard output)");
    cmd->add_flag("--play", render.play, "Play through an output device (as well as writing -o, if given)");
    cmd->add_option("--device", render.device, "Output device for --play (default: the default one)");
    rateOptions.push_back(cmd->add_option("--rate", render.rate, "Output sample rate in Hz (--play: the device's)")
                              ->capture_default_str());
    channelOptions.push_back(
        cmd->add_option("--channels", render.channels, "Output channels, 1 or 2 (--play: the device's)")
            ->capture_default_str());
    blockOptions.push_back(
        cmd->add_option("--block", render.block, "Frames per block (--play: 10 ms)")->capture_default_str());
    auto* dir = cmd->add_option("--voice", voice.voiceDir, "Voice folder (model, tokens.txt, espeak-ng-data)");
    auto* model = cmd->add_option("--model", voice.model, "Voice model file (.onnx or .ort)");
    auto* tokens = cmd->add_option("--tokens", voice.tokens, "Voice tokens file");
    auto* data = cmd->add_option("--data-dir", voice.dataDir, "espeak-ng data folder");
    dir->excludes(model)->excludes(tokens)->excludes(data);
    model->needs(tokens)->needs(data);
    // The files of a voice go together: a lone --tokens is refused, not ignored.
    tokens->needs(model);
    data->needs(model);
    cmd->add_option("--voice-cost", voice.cost,
                    "demo: the demonstration voice; real: its variant that costs what a real voice costs")
        ->check(CLI::IsMember({"demo", "real"}))
        ->excludes(dir)
        ->excludes(model)
        ->capture_default_str();
  };

  std::string text;
  auto* say = app.add_subcommand("say", "Speak a text into a WAV file, through a device (--play), or both");
  say->add_option("text", text, "The text to speak")->required();
  addRender(say);
  say->get_option("--output")->description("WAV file to write ('-' for standard output; without -o or --play: say.wav)");

  double tokensPerSecond = 30.0;
  auto* stream = app.add_subcommand("stream", "Speak standard input as a stream of tokens");
  stream->add_option("--tokens-per-second", tokensPerSecond, "Token rate")->capture_default_str();
  stream->add_flag("--realtime", render.realtime, "Pace the graph like an audio device");
  bool noPrepareAhead = false;
  stream->add_flag("--no-prepare-ahead", noPrepareAhead,
                   "Generate a piece held while speech plays on the audio thread when that speech ends, instead of "
                   "on the appending thread at once");
  addRender(stream);

  std::string wav;
  unsigned block = 480;
  auto* transcribe = app.add_subcommand("transcribe", "Recognise the speech in an audio file");
  transcribe->add_option("file", wav, "Audio file (any rate; mono, or its first channel)")->required();
  transcribe->add_option("--block", block, "Frames per block")->capture_default_str();
  EndpointOptions transcribeEndpoints;

  // Turn ends: on by default, one line per segment.
  auto addEndpoints = [](CLI::App* cmd, EndpointOptions& endpoints) {
    auto* silence = cmd->add_option("--endpoint-silence", endpoints.silence,
                                    "Seconds of silence after speech that end a segment")
                        ->capture_default_str();
    auto* off = cmd->add_flag_callback("--no-endpoints", [&endpoints] { endpoints.enabled = false; },
                                       "No segments: the whole text since the start, growing");
    off->excludes(silence);
  };
  addEndpoints(transcribe, transcribeEndpoints);

  ListenOptions listenOptions;
  auto* listen = app.add_subcommand("listen", "Recognise the speech of an input device as it comes");
  listen->add_option("--device", listenOptions.device, "Input device (default: the default one)");
  listen->add_option("--seconds", listenOptions.seconds, "Stop after this many seconds (default: at Ctrl-C)");
  addEndpoints(listen, listenOptions.endpoints);

  ConverseOptions converseOptions;
  auto* converse = app.add_subcommand("converse", "Talk with an agent: a reply command answers each turn, aloud; Ctrl-C ends it (status 0)");
  converse->add_option("--reply-command", converseOptions.replyCommand,
                       "Shell command run at each turn: the user's text on its standard input, the conversation so "
                       "far (JSON lines) in the file named by QS_CONVERSATION; what it prints is spoken as it comes "
                       "(default: echo \"You said: ...\")");
  converse->add_flag_callback("--no-barge-in", [&converseOptions] { converseOptions.bargeIn = false; },
                              "The user's speech does not stop the agent (loudspeakers without echo cancellation)");
  converse->add_option("--device", converseOptions.device, "Input device (default: the default one)");
  converse->add_option("--output-device", converseOptions.outputDevice, "Output device (default: the default one)");
  converse->add_option("--reply-timeout", converseOptions.replyTimeout,
                       "Seconds a reply command may print nothing before it is ended")
      ->capture_default_str();
  converse->add_option("--conversation", converseOptions.conversationFile,
                       "Keep the conversation's JSON lines in this file (default: a temporary one)");
  converse->add_option("--endpoint-silence", converseOptions.endpoints.silence,
                       "Seconds of silence after speech that end the user's turn")
      ->capture_default_str();
  converse->add_option("--voice-cost", converseOptions.voice.cost,
                       "demo: the demonstration voice; real: its variant that costs what a real voice costs")
      ->check(CLI::IsMember({"demo", "real"}))
      ->capture_default_str();

  auto* devices = app.add_subcommand("devices", "List the sound server's output and input devices");
  app.add_subcommand("nodes", "List the node types of every registered extension");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // A word that names no subcommand is left over: name it, rather than
    // only saying that a subcommand is required.
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr && app.get_subcommands().empty() &&
        !app.remaining().empty()) {
      std::string names;
      for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
      }
      return fail("unknown subcommand '" + app.remaining().front() + "' (the subcommands: " + names + ")");
    }
    return app.exit(e);
  }
  if (options.json && render.output == "-") return fail("--json and -o - both use standard output");
  auto given = [](const std::vector<CLI::Option*>& options) {
    for (const CLI::Option* option : options) {
      if (option->count() > 0) return true;
    }
    return false;
  };
  render.rateGiven = given(rateOptions);
  render.channelsGiven = given(channelOptions);
  render.blockGiven = given(blockOptions);
  if (!render.device.empty() && !render.play) return fail("--device needs --play");

  HostSession session(options);
  if (*say) return runSay(session, text, voice, render);
  if (*stream) {
    voice.prepareAhead = !noPrepareAhead;
    return runStream(session, tokensPerSecond, voice, render);
  }
  if (*transcribe) return runTranscribe(session, wav, block, transcribeEndpoints);
  if (*listen) return runListen(session, listenOptions);
  if (*converse) return runConverse(session, converseOptions);
  if (*devices) return runDevices(session);
  return runNodes(session);
}
