// Speech-to-text node: an audio sink that buffers mono input and, on request,
// decodes it with a streaming CTC recognizer and an HLG decoding graph.
//
// Threads. The host's audio thread calls consume() once per block; it only
// copies the block into a ring buffer of 480000 frames (dropping a block
// whole when it does not fit) and never locks, allocates or decodes. The
// graph's configuration thread calls setBusFormat(). Control threads call
// the constructor, loadSherpaModel(), processAudio(), setEnabled() and
// isEnabled(). processAudio() must not run at the same time as itself,
// loadSherpaModel() or destruction; the caller keeps those apart. Intake
// (consume) may run concurrently with any of them except destruction.
//
// Ownership. The node owns its recognizer, its stream and the ring buffer;
// the host owns the node and destroys it through the virtual destructor.
//
// Failures are log lines and false/empty results; no exception leaves the
// node. A model path that cannot be examined counts as missing, and a
// working directory that cannot be read gives relative fallback paths and a
// warning (models/ModelPaths.h).
//
// Usage:
//   SherpaSTTNode node;                       // loads the model files it finds
//   AudioBusFormat mono{16000, 1};
//   node.setBusFormat(mono);                  // true: mono, rate in range
//   node.consume(bus);                        // audio thread, every block
//   std::string text = node.processAudio();   // control thread, whole text so far
#pragma once

#include <memory>
#include <string>

#include <quorvel/AudioBus.h>
#include <quorvel/Node.h>
#include <quorvel/QVAny.h>

namespace quorvel::extensions::sherpa {

class SherpaSTTNode : public SingleBusAudioSinkNode {
 public:
  SherpaSTTNode();
  // The map is not read. Finds the recognizer files (see ModelPaths.h) and,
  // when the model file exists, loads them before returning.
  explicit SherpaSTTNode(const QVAnyMap& config);
  ~SherpaSTTNode() override;

  // Loads (or reloads) the recognizer; false when it could not be created.
  // Files refused before the engine sees them (a wrong engine build, model
  // metadata, decoding graph or token table the engine would not survive)
  // fail the load and leave a loaded recognizer in place. Otherwise a reload
  // first releases the current recognizer and stream, also when the engine
  // then fails (a missing file among other causes).
  bool loadSherpaModel(const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath);

  // Accepts mono formats; refuses rates outside 8000..192000 Hz.
  bool setBusFormat(AudioBusFormat& format) override;
  // Appends the block's first channel to the ring buffer; false when intake
  // is off or the block was dropped.
  bool consume(AudioBus& bus) override;

  // Decodes everything buffered and returns the stream's whole current text;
  // "" when nothing is buffered, no model is loaded or the engine failed.
  std::string processAudio();

  void setEnabled(bool enabled);
  bool isEnabled();

  class Internals;

 private:
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::sherpa
