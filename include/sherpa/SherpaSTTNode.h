// SherpaSTTNode: speech recognition in a Quorvel audio graph. An audio sink
// that buffers mono input and, when asked, decodes it with a streaming CTC
// recognizer and an HLG decoding graph (the sherpa-onnx engine).
//
// Threads. The host's audio thread calls consume() once per block; it only
// copies the block into a ring buffer of 480000 frames (dropping a block
// whole when it does not fit) and never locks, allocates or decodes. The
// graph's configuration thread calls setBusFormat(). Control threads call
// everything else. processAudio() and processSegment() must not run at the
// same time as each other, as themselves, as loadSherpaModel(),
// setEndpointDetection() or destruction; the caller keeps those apart.
// Intake (consume) may run concurrently with any of them except destruction.
//
// Ownership. The node owns its recognizer, its stream and the ring buffer.
// In a graph the host owns the node and destroys it through the virtual
// destructor; an application may also own one itself.
//
// Failures are log lines and false/empty results; no exception leaves the
// node.
//
// Two ways to read the text; use one of them on a node:
//  - processAudio(): the whole text since the load, growing on every call.
//    The engine's endpoint detection is off unless switched on.
//  - processSegment(), with endpoint detection switched on: the text in
//    segments (turns) that end after a stretch of silence.
//
// Usage, with turn ends:
//   SherpaSTTNode node;                          // loads the files it finds
//   node.setEndpointDetection(true, 0.8f);       // applied at the next load
//   node.loadSherpaModel(model, tokens, graph);
//   AudioBusFormat mono{16000, 1};
//   node.setBusFormat(mono);
//   node.consume(bus);                           // audio thread, every block
//   // control thread, every 100-300 ms:
//   for (;;) {
//     SherpaSTTNode::SegmentResult r = node.processSegment();
//     if (r.textGrew) stopSpeaking();            // the user is talking
//     if (!r.isFinal) break;
//     answer(r.text);                            // the user ended a turn
//   }
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <quorvel/AudioBus.h>
#include <quorvel/Node.h>
#include <quorvel/QVAny.h>

#include "SherpaExport.h"

namespace quorvel::extensions::sherpa {

class QUORVEL_SHERPA_EXPORT SherpaSTTNode : public SingleBusAudioSinkNode {
 public:
  // What processSegment() returns.
  struct SegmentResult {
    // The segment's text so far; with isFinal, its whole text. Empty when
    // nothing was recognised yet, no model is loaded or the engine failed.
    std::string text;
    // This call reached an endpoint: the segment ended with `text` and the
    // next words start a new one. Segments without any text end unseen.
    bool isFinal = false;
    // The segment's number: 0 for the node's first, one more for each
    // segment after it. A reload or a new input rate starts a new segment
    // when the current one has text.
    uint32_t segment = 0;
    // The text is not empty and differs from what the last call returned
    // for this segment: new words arrived (speech onset on the first).
    bool textGrew = false;
  };

  // Trailing silence after speech that ends a segment by default, seconds.
  static constexpr float kDefaultEndpointSilence = 0.8f;

  SherpaSTTNode();
  // The map is not read. Finds the recognizer files (a "files" folder beside
  // the executable, or the working directory) and, when the model file
  // exists, loads them before returning.
  explicit SherpaSTTNode(const QVAnyMap& config);
  ~SherpaSTTNode() override;

  // Loads (or reloads) the recognizer; false when it could not be created.
  // Files refused before the engine sees them (a wrong engine build, model
  // metadata, decoding graph or token table the engine would not survive)
  // fail the load and leave a loaded recognizer in place. Otherwise a reload
  // first releases the current recognizer and stream, also when the engine
  // then fails (a missing file among other causes).
  bool loadSherpaModel(const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath);

  // Switches the engine's endpoint detection on or off for the next
  // loadSherpaModel(); the loaded recognizer is not touched. Off by default.
  // On, the engine's configuration gets enable_endpoint 1 and its three
  // rules: rule 2 (silence after decoded text) = trailingSilenceSeconds,
  // rule 1 (silence with nothing decoded) = 2.4 s and rule 3 (utterance
  // length) = 20 s. False, changing nothing, for a silence that is not a
  // number of seconds in (0, 60].
  bool setEndpointDetection(bool enabled, float trailingSilenceSeconds = kDefaultEndpointSilence);

  // Accepts mono formats; refuses rates outside 8000..192000 Hz.
  bool setBusFormat(AudioBusFormat& format) override;
  // Appends the block's first channel to the ring buffer; false when intake
  // is off or the block was dropped.
  bool consume(AudioBus& bus) override;

  // Decodes everything buffered and returns the stream's whole current text;
  // "" when nothing is buffered, no model is loaded or the engine failed.
  std::string processAudio();

  // Decodes buffered audio in 100 ms chunks, checking for an endpoint after
  // each, and returns the current segment. At an endpoint it returns at once
  // with isFinal set and leaves the audio after it buffered for the next
  // call; a result that is not final has decoded everything buffered. So a
  // caller loops while isFinal to take every segment that has ended.
  // Without endpoint detection no segment ends: the text of segment 0 grows.
  SegmentResult processSegment();

  void setEnabled(bool enabled);
  bool isEnabled();

  // The node's state, defined inside the library.
  class Internals;

 private:
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::sherpa
