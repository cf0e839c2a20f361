// SherpaTTSNode: an audio source that speaks text with a VITS voice run by
// sherpa-onnx and plays it, mirrored onto every channel of its one output bus.
//
// What it is for. Text arrives whole ("synthesize", or a "text" key in the
// creation map) or token by token ("appendStreamingText"), which the node
// gathers and speaks piece by piece at sentence, clause or word breaks,
// paced by the end of playback. The voice's audio is 16000 Hz mono; at any
// other graph rate the node converts it with the host's AudioGraphResampler.
// Events: "synthesisStarted" ({"text": ..., "sequence": N}) when a text goes
// to the engine, "spoken" ({"text": a word with the spaces and punctuation
// before it, "sequence": N}) while a segment plays, each time playback has
// passed the estimated end of a further word, and "finished" ({}) when a
// synthesised segment has played to its end (after its last "spoken").
// Segments are numbered in the order their text reached the node (a whole
// text when "synthesize" is called, a piece when it is cut). "stop" answers
// what the listener heard of what it drops; "synthesize" what it cut off.
//
// Threads. Every operation below may be called from any thread, including
// from inside a listener of this node's events, and never waits for the
// thread it runs on.
//  - Control threads (the application's): construction, callAction, the
//    forwarding operations, destruction. Synthesis and voice loading run on
//    the caller's thread; two of them never use the engine at once (the
//    second waits for the first, blocking).
//  - The audio thread: produce, once per block. It never waits: it takes no
//    blocking lock and allocates nothing while a segment plays on. At the
//    end of a segment it emits "finished" and may synthesise the next piece
//    of streamed text on that same thread.
//  - Listeners. "finished" and "spoken" run on the audio thread inside produce;
//    "synthesisStarted" on the thread that synthesises (a control thread, or
//    the audio thread after "finished"), while that synthesis holds the
//    engine. From either, by operation:
//      synthesize, appendStreamingText: run at once when the engine is free
//        or already this thread's. On the audio thread with the engine busy,
//        the work is handed to the thread that holds it, which does it next.
//        On the thread that holds the engine (a "synthesisStarted" listener of
//        a synthesis) they run at once, nested: a piece begun there comes
//        after the one announced, a whole text cuts in on it before it is
//        generated.
//      clearStreamingBuffer, stop: at once, from anywhere; they wait for
//        nothing but the brief buffer lock.
//      loadModel: at once, like synthesize; it answers false when the audio
//        thread had to hand it over (the voice then loads when the engine is
//        free). From inside produce, the segments it drops are freed and the
//        conversion rebuilt when that produce call has rendered its block.
//      setBusFormat: at once on a control thread (it waits, blocking, for a
//        running produce to return, never longer); from inside produce the
//        new rate applies from the next block on.
//      produce: a produce inside a produce (or beside one, on another
//        thread) renders silence and changes nothing.
//  - Teardown, reloads and format changes wait for a running produce to
//    return; produce calls that begin meanwhile render silence. The host
//    must not begin a produce call once the node's destruction has begun,
//    nor destroy the node from one of its listeners.
//
// Speech. "synthesize" speaks a whole text and cuts in on what plays (the
// old segment fades out over one block, without "finished"); it also drops
// streamed pieces that wait their turn, while held streaming text stays
// held. Streamed pieces never cut each other off: a piece waits in a short
// queue behind the one that plays and starts in the block in which that one
// ends, in the order of the text. A final token while speech plays queues
// the rest of the buffer behind it.
// "stop" (beyond the streamed pieces and whole texts) is a hard line: all
// whose text reached the node before it returned (held, queued, being cut,
// being generated, playing) is dropped without "finished". What plays fades
// out over the first block that begins after it returned and nothing of it
// is heard later; no block or call that begins after it returned emits an
// event about it (an emission already decided on another thread while
// "stop" runs may still be delivered as it returns). "stop" waits only for
// the brief buffer lock.
// A whole text is published with its first sentence and plays while the
// engine generates the rest (the render step plays only samples that are
// ready; a block that catches up plays silence, without "finished").
// With the creation key "prepareAhead" true, every append that completes a
// piece while speech plays or pieces wait has it generated there, on the
// appending thread, and queued; the piece is announced ("synthesisStarted")
// when the render step takes it up, right after the "finished" of the piece
// before it. The end of a piece then generates nothing and, with no piece
// due in the buffer, takes no lock; the audio thread generates only what no
// append could prepare (a full queue).
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
  // Loads the English voice, reads "prepareAhead" (boolean, default false),
  // speaks a "text" key at once, reports every other key as "Unknown
  // parameter: KEY", then registers actions and events.
  explicit SherpaTTSNode(const QVAnyMap& config);
  ~SherpaTTSNode() override;

  // "synthesize" {text}, "appendStreamingText" {token, isFinal?},
  // "clearStreamingBuffer", "stop", "loadModel" {modelPath, tokensPath,
  // dataPath};
  // any other name goes to the base class.
  Result<QVAny> callAction(const std::string& actionName, const QVAnyMap& params) override;
  // Accepts 1 or 2 channels at any rate from 0 (none given) up; refuses
  // other channel counts and negative rates.
  bool setBusFormat(AudioBusFormat& format) override;
  bool produce(AudioBus& bus) override;
  using SingleBusAudioSourceNode::produce;

  // What the whole text cut off (as "stop" answers), or empty when it was
  // handed over to another thread (a listener on the audio thread).
  QVAny synthesize(const std::string& text);
  void appendStreamingText(const std::string& token, bool isFinal);
  void clearStreamingBuffer();
  // What the listener heard: {"heardText", "sequence" (absent when nothing
  // played), "unheardText"}.
  QVAnyMap stop();
  // True when a voice is loaded afterwards.
  bool loadModel(const std::string& modelPath, const std::string& tokensPath, const std::string& dataPath);

  class Internals;
  // The node's whole state, for white-box tests (declared in TTSInternals.h).
  Internals& internalsForTesting() { return *internals; }

 private:
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::sherpa
