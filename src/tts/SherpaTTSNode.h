// SherpaTTSNode: an audio source that speaks text with a VITS voice run by
// sherpa-onnx and plays it, mirrored onto every channel of its one output bus.
//
// What it is for. Text arrives whole ("synthesize", or a "text" key in the
// creation map) or token by token ("appendStreamingText"), which the node
// gathers and speaks piece by piece at sentence, clause or word breaks,
// paced by the end of playback. The voice's audio is 16000 Hz mono; at any
// other graph rate the node converts it with the host's AudioGraphResampler.
// Events: "synthesisStarted" ({"text": ...}) when a text goes to the engine,
// "finished" ({}) when a synthesised segment has played to its end.
//
// Threads.
//  - Control threads (the application's): construction, callAction and the
//    forwarding operations below, destruction. They may block: synthesis and
//    voice loading run synchronously on the caller's thread, and two of them
//    never use the engine at the same time (the second waits).
//  - The configuration thread: setBusFormat. It may run while blocks are
//    produced; the conversion object is swapped only between two blocks.
//  - The audio thread: produce, once per block. It never waits for a control
//    thread, takes no blocking lock and allocates nothing while a segment
//    simply plays on. At the end of a segment it emits "finished" and may
//    synthesise the next piece of streamed text on that same thread.
//  - Listeners of "finished" run on the audio thread inside produce: they
//    must return quickly and must not call back into the node (its
//    operations may wait for that very produce to return).
//  - Teardown and reloads wait for a running produce to return; produce calls
//    that begin meanwhile render silence. The host must not begin a produce
//    call once the node's destruction has begun.
//
// Ownership. The host owns the node (created by the factory with new, deleted
// through the virtual destructor). The node owns its Internals, which owns the
// engine, every synthesised segment and the resampler.
//
// Failures are reported by log lines, boolean results and events; a call
// without a required action parameter, or with a map or an empty value for
// one, gets an error Result naming it ("Missing parameter: text", "Wrong
// type for parameter: text (object, expected string)"). Other scalars
// convert: a number is read as its digits, a string "true" or "1" as true.
#pragma once

#include <memory>
#include <string>

#include <quorvel/Node.h>
#include <quorvel/QVAny.h>
#include <quorvel/Result.h>

namespace quorvel::extensions::sherpa {

class SherpaTTSNode : public SingleBusAudioSourceNode {
 public:
  // Loads the English voice, speaks a "text" key at once, reports every other
  // key as "Unknown parameter: KEY", then registers actions and events.
  explicit SherpaTTSNode(const QVAnyMap& config);
  ~SherpaTTSNode() override;

  // "synthesize" {text}, "appendStreamingText" {token, isFinal?},
  // "clearStreamingBuffer", "loadModel" {modelPath, tokensPath, dataPath};
  // any other name goes to the base class.
  Result<QVAny> callAction(const std::string& actionName, const QVAnyMap& params) override;
  // Accepts 1 or 2 channels at any rate from 0 (none given) up; refuses
  // other channel counts and negative rates.
  bool setBusFormat(AudioBusFormat& format) override;
  bool produce(AudioBus& bus) override;
  using SingleBusAudioSourceNode::produce;

  void synthesize(const std::string& text);
  void appendStreamingText(const std::string& token, bool isFinal);
  void clearStreamingBuffer();
  // True when a voice is loaded afterwards.
  bool loadModel(const std::string& modelPath, const std::string& tokensPath, const std::string& dataPath);

  class Internals;
  // The node's whole state, for white-box tests (declared in TTSInternals.h).
  Internals& internalsForTesting() { return *internals; }

 private:
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::sherpa
