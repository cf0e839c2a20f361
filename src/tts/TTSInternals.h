// The whole state of a SherpaTTSNode and the operations on it.
//
// Who touches what:
//  - Loaded voice (config, speakerId, tts, modelPath, tokensPath,
//    dataDirPath): only while holding `engine`.
//  - Playback: generatedAudioItems is changed only while holding `engine`,
//    and items are freed under streamingMutex as well (isAudioPlaying reads
//    items under it). nextItem (whole texts) is stored by synthesis, pieces
//    are pushed to queuedPieces by synthesis and popped by the render step,
//    currentItem and takenUpSequence are stored by the render step; all are
//    read anywhere. resampler is replaced only while produce is kept out
//    (RenderGate), or by produce itself; sampleRate only under formatMutex.
//  - streamingBuffer and finalRequested: under streamingMutex. A piece's
//    sequence number is drawn in the same critical section in which its text
//    leaves the buffer, and "stop" raises the cut-off in one too: a piece is
//    either cut before the stop (and dropped by it) or not at all.
// Lock order: engine, then formatMutex, then streamingMutex. The audio
// thread only ever tries `engine` and formatMutex, and takes streamingMutex
// only for brief reads and cuts of the buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/AudioGraphResampler.h>

#include "EngineLock.h"
#include "GeneratedAudioItem.h"
#include "PieceQueue.h"
#include "PlaybackProgress.h"
#include "RenderGate.h"
#include "SherpaTTSNode.h"
#include "engine/SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// The node's event names, built once: emitting them on the audio thread
// allocates nothing.
inline const std::string kSynthesisStarted{"synthesisStarted"};
inline const std::string kFinished{"finished"};
inline const std::string kSpoken{"spoken"};

class SherpaTTSNode::Internals {
 public:
  // Every log line of the node begins with this.
  static inline const std::string kLogTag{"[SherpaTTSNode]"};

  // Resolves the default voice files of `language` and loads them.
  Internals(SherpaTTSNode* node, const std::string& language);
  ~Internals();
  Internals(const Internals&) = delete;
  Internals& operator=(const Internals&) = delete;

  // Loading and teardown (TTSLoading.cpp). Any thread; see SherpaTTSNode.h.
  bool loadModel(const std::string& modelPath, const std::string& tokensPath, const std::string& dataPath);
  void cleanup();

  // Output format (TTSFormat.cpp). Any thread; from inside produce the new
  // rate takes effect when that produce call has rendered its block.
  void setSampleRate(int rate);

  // Synthesis (TTSSynthesis.cpp). A whole text, cutting in on what plays.
  // The map describeCutOff gives, or empty when the text was handed over
  // (audio thread, engine busy).
  QVAny synthesize(const std::string& text);
  void releaseStaleAudio();
  static std::string cleanTextForSynthesis(const std::string& text);
  // The length of cleanTextForSynthesis(text), without building it.
  static size_t cleanedTextLength(const std::string& text);
  // The longest text spoken in one piece. The engine holds the whole audio of
  // a text at once: with the demonstration voice 64 KiB is about an hour of
  // speech and half a gigabyte while it is generated; 1 MB would be 8 GB.
  static constexpr size_t kMaxSynthesisTextBytes = 64 * 1024;

  // Streaming text (TTSStreaming.cpp).
  void appendStreamingText(const std::string& token, bool isFinal);
  void clearStreamingBuffer();
  void synthesizeBufferedText();  // audio thread, after "finished"
  // True while speech plays or is about to: a segment playing, a whole text
  // published and not yet taken up, a piece queued, or a synthesis running.
  // Call with streamingMutex or `engine` held (it reads items).
  bool isAudioPlaying();
  // With prepareAhead: a piece may be made now although speech plays.
  bool mayPrepareAhead();

  // Interruption (TTSStreaming.cpp): drops what plays (faded within one
  // block), what is queued, what is being synthesised and the held text.
  // Nothing handed over before it returns is heard or announced after that.
  // Answers what of it was heard: {"heardText", "sequence" (when a segment
  // played), "unheardText"}.
  QVAnyMap stop();
  // What a whole text of sequence `cutter` cut off: the segment it cuts in
  // on, and the streamed pieces cut before it was asked for (the answer up
  // to `cutBefore`), which it drops (TTSHeard.cpp).
  QVAnyMap describeCutOff(uint64_t cutter, uint64_t cutBefore);
  static QVAnyMap nothingCutOff();
  // Where the next piece will start in the answer's text (takes the lock).
  uint64_t answerCutPosition();
  // Raise-only updates: concurrent callers never move a cut-off back.
  static void raiseTo(std::atomic<uint64_t>& value, uint64_t atLeast);
  // True when nothing has dropped the segment of `sequence` yet: checked
  // right before each of its events is emitted.
  bool stillWanted(uint64_t sequence) const { return sequence >= dropBefore.load(); }

  // Playback (TTSPlayback.cpp). Audio thread.
  bool produce(AudioBus& bus);
  bool renderAudio(AudioBus& bus);
  static uint32_t renderItemToBuffer(GeneratedAudioItem* item, AudioBuffer<float>& buffer, bool mix);
  static void applyGainRamp(const float* source, float* destination, float startGain, float endGain,
                            uint32_t frameCount, uint32_t channelCount);
  void onPlaybackFinished();
  // Emits "spoken" for every word of `item` whose estimated end has played.
  void emitSpokenWords(GeneratedAudioItem* item);
  // Starts `item` playing (currentItem and the progress); sealed at once
  // when a "stop" dropped it meanwhile.
  void startPlaying(GeneratedAudioItem* item);

  // ---- Loaded voice. ----
  SherpaTTSNode* node;                // not owned; events are emitted through it
  SherpaOnnxOfflineTtsConfig config;  // zeroed and refilled at every load
  int32_t speakerId = 0;
  const SherpaOnnxOfflineTts* tts = nullptr;  // owned; null while no voice
  // Files of the loaded voice (config points at their characters).
  std::string modelPath;
  std::string tokensPath;
  std::string dataDirPath;

  // ---- Playback. ----
  std::vector<std::unique_ptr<GeneratedAudioItem>> generatedAudioItems;  // owns every item, oldest first
  std::atomic<GeneratedAudioItem*> nextItem{nullptr};     // newest whole text published
  std::atomic<GeneratedAudioItem*> currentItem{nullptr};  // item the render step plays
  PieceQueue queuedPieces;                                // streamed pieces waiting their turn
  std::unique_ptr<AudioGraphResampler> resampler;         // present when the graph is not at 16000 Hz
  int32_t sampleRate = 0;                                 // graph rate as last given; 0: none yet
  // Every text draws a sequence number when it reaches the node: a whole
  // text when "synthesize" is called, a piece when it leaves the buffer.
  std::atomic<uint64_t> nextSequence{1};
  // Segments of an earlier sequence are dropped ("stop", a reload). Raise-only.
  std::atomic<uint64_t> dropBefore{0};
  // Sequence of the newest whole text asked for (raise-only): earlier
  // syntheses give way to it (one under way at its next sentence, one not
  // yet announced before its announcement), and queued pieces before it are
  // dropped when it is taken up.
  std::atomic<uint64_t> newestWholeText{0};
  // Sequence of the newest whole text the render step has taken up or passed
  // over; a whole text is taken up once at most.
  std::atomic<uint64_t> takenUpSequence{0};
  // Syntheses between their start and the end of their generation.
  std::atomic<int> synthesesRunning{0};
  // Loads waiting for the engine, and teardown: generations under way end
  // early.
  std::atomic<int> loadsWaiting{0};
  std::atomic<bool> tearingDown{false};
  const QVAny finishedPayload{QVAnyMap()};  // built once: "finished" allocates nothing

  // ---- Streaming text. ----
  // "prepareAhead": the next piece is cut and generated by the append that
  // completes it, while the current one plays (set at creation only).
  bool prepareAhead = false;
  std::string streamingBuffer;
  bool finalRequested = false;  // a final token's flush waits for a free queue slot
  // Whether a piece could be cut now (the buffer holds one, or a flush
  // waits), readable without the lock: the end of playback tries the engine
  // and the lock only when there is work.
  std::atomic<bool> streamingPieceDue{false};
  std::mutex streamingMutex;
  // The answer's text: what was appended since the last "stop" or clear,
  // without asterisks, less the front already heard in full (answerBase is
  // the offset of its first byte in the whole answer). The buffer is always
  // its tail, so a piece's offset in the answer is known when it is cut.
  std::string answerText;
  uint64_t answerBase = 0;
  // The answer is heard in full up to here (the end of the last streamed
  // piece that finished). Raised by the audio thread.
  std::atomic<uint64_t> answerHeardUpTo{0};
  // How far the listener has heard what plays ("spoken", "stop"'s answer).
  PlaybackProgress progress;
  // True while the next synthesis starts a new utterance (latency line).
  // Written by control and audio threads, hence atomic.
  std::atomic<bool> firstSynthesis{true};

  // ---- Coordination between the threads. ----
  EngineLock engine;  // every use of the engine and every change of generatedAudioItems
  RenderGate gate;    // produce against control threads
  // Serialises changes of sampleRate and resampler.
  std::mutex formatMutex;
  std::atomic<int32_t> pendingRate{0};  // rate asked for from inside produce
  // Set when the cut of buffered text after "finished" found the engine
  // busy; the render step retries once nothing plays.
  std::atomic<bool> bufferedSynthesisPending{false};

 private:
  enum class SegmentKind { kWholeText, kPiece };
  // `prepared`: a piece made ahead while speech plays, announced when the
  // render step takes it up.
  // `answerOffset`: a piece's offset in the answer's text.
  bool synthesizeHoldingEngine(const std::string& text, SegmentKind kind, uint64_t sequence, bool prepared = false,
                               uint64_t answerOffset = 0);
  bool generateAndPublish(const std::string& text, SegmentKind kind, uint64_t sequence, bool prepared,
                          uint64_t answerOffset);
  // A segment the engine fills sentence by sentence (TTSGeneration.cpp).
  struct GrowingSegment {
    std::unique_ptr<GeneratedAudioItem> owned;  // until published
    GeneratedAudioItem* published = nullptr;    // once published
    SegmentKind kind = SegmentKind::kWholeText;
    bool endedEarly = false;  // the callback stopped the engine
    // Word timing: the text's sentences, one per callback of the engine;
    // when the callbacks do not match them, the words left are spread over
    // the rest of the segment at its end.
    std::vector<std::size_t> sentenceEnds;
    std::size_t sentencesSeen = 0;
    bool sentencesMatch = true;
  };
  // Word ends of the sentence whose `n` samples just arrived.
  void timeSentenceWords(GrowingSegment& segment, GeneratedAudioItem* item, const float* samples, int32_t n);
  // At the end of generation: the words not timed yet, the last ending at
  // the segment's end.
  void timeRemainingWords(GeneratedAudioItem* item);
  // Generates `text` into the segment, publishing it at its first samples;
  // false when nothing was published.
  bool generate(const std::string& text, GrowingSegment& segment);
  bool acceptSamples(GrowingSegment& segment, const float* samples, int32_t n);
  void publish(GrowingSegment& segment);
  static int32_t onGeneratedSamples(const float* samples, int32_t n, void* arg);
  bool superseded(uint64_t sequence) const;
  // Cuts the piece due now (a final token's flush, or, unless finalOnly, a
  // piece while nothing plays) and synthesises it into the queue.
  void synthesizeDueTextHoldingEngine(bool afterFinished, bool finalOnly);
  bool loadModelHoldingEngine(const std::string& modelPath, const std::string& tokensPath,
                              const std::string& dataPath);
  // Logs the load and checks the files; false (with the failure lines) when
  // they are refused.
  bool checkVoiceFiles(const std::string& modelPath, const std::string& tokensPath, const std::string& dataPath);
  bool installVoiceHoldingEngine(const std::string& modelPath, const std::string& tokensPath,
                                 const std::string& dataPath);
  void cleanupHoldingEngine();
  // Empties the pointers and the queue; the resampler goes to
  // `detachedResampler`, or, when null (inside produce), is replaced after
  // the block.
  void detachPlayback(std::unique_ptr<AudioGraphResampler>* detachedResampler);
  void restoreConversion();
  // With formatMutex held; produce is kept out unless it is the caller.
  void changeRateHoldingFormat(int rate, bool fromProduce);
  // The conversion work requested from inside produce; false when the
  // format lock is busy (it is asked for again next block).
  bool changeConversionFromProduce(unsigned requests);
  // Runs the deferred synthesis that found the engine busy, once it is free.
  void retryBufferedSynthesis();
  // What produce does after rendering its block (RenderGate requests).
  void finishProduce();
  // Frees the items no pointer names, when a scan ran with no render pass
  // under way; false when something stopped it (asked again later).
  bool releaseUnnamedItems();
  void dropQueuedBefore(uint64_t sequence);
  // With streamingMutex held, after the buffer or finalRequested changed.
  void noteStreamingText();
  void clearStreamingBufferHoldingLock();
  // With streamingMutex held: a token joins the answer's text.
  void noteAnswerText(const std::string& token);
  // With streamingMutex held: what was heard of the segment `seen`
  // describes, and what was not: its rest, then `pending`, then the
  // answer's text from where it was heard in full (`heardUpTo`) up to
  // `answerEnd`.
  QVAnyMap describeHeard(const PlaybackProgress::Seen& seen, const std::string& pending, uint64_t heardUpTo,
                         uint64_t answerEnd = UINT64_MAX);
  // Frees the items marked releasable, outside streamingMutex: the lock is
  // held only to take them off the list, so "stop" never waits for a free.
  // False when the lock was busy on the audio thread (asked again later).
  bool freeReleasableItems();
  std::unique_ptr<AudioGraphResampler> makeResampler();
  bool resamplerCallback(AudioBusList& inBuses, AudioBusList& outBuses);
};

}  // namespace quorvel::extensions::sherpa
