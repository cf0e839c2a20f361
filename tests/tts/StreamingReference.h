// A reference model of the streaming text buffer and of playback, written
// from the cut rules alone, shared by the randomised property test and the
// fuzz target. It predicts every piece handed to synthesis, every "finished"
// and the buffer after each step, so both drivers can compare the node with
// it after every operation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tts/PieceQueue.h"

namespace streaming_reference {

inline bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n'; }

inline std::string withoutAsterisks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '*') out += c;
  return out;
}

// Length of the prefix to cut, scanning forwards and keeping the last match
// of each rule (the node scans backwards; both must agree).
inline std::size_t referenceSplit(const std::string& b) {
  const std::size_t length = b.size();
  auto dotInRun = [&](std::size_t p) {
    return b[p] == '.' && ((p > 0 && b[p - 1] == '.') || (p + 1 < length && b[p + 1] == '.'));
  };
  std::size_t last = 0;
  if (length >= 50) {
    for (std::size_t p = 0; p < length; ++p)
      if ((b[p] == '.' || b[p] == '!' || b[p] == '?') && !dotInRun(p)) last = p + 1;
    if (last != 0) return last;
  }
  if (length >= 80) {
    for (std::size_t p = 0; p < length; ++p)
      if (b[p] == ',' || b[p] == ':' || b[p] == ';') last = p + 1;
    if (last != 0) return last;
  }
  if (length < 150) return 0;
  for (std::size_t p = 0; p < length; ++p)
    if (b[p] == ' ') last = p + 1;
  return last != 0 ? last : length;
}

inline std::string referenceTake(std::string& buffer) {
  const std::size_t n = referenceSplit(buffer);
  if (n == 0) return {};
  std::string piece = buffer.substr(0, n);
  std::size_t restStart = n;
  while (restStart < buffer.size() && isTrimmed(buffer[restStart])) ++restStart;
  buffer.erase(0, restStart);
  return piece;
}

// How often the situations the property is about came up.
struct ModelStats {
  long cutsAtFinished = 0;
  long cutsHeldWhilePlaying = 0;
  long finalsWhilePlaying = 0;
  long piecesQueuedBehind = 0;
  long itemsCutOff = 0;
  long stops = 0;
  long sequencesPlayedWhole = 0;
};

// Playback as the node's rules describe it: whole texts cut in on what plays
// (one-block fade, queued pieces before them dropped); streamed pieces wait
// in a queue of `kQueueCapacity` behind what plays and start in the block in
// which it ends; "stop" fades out what plays and drops everything begun
// before it. Samples of every item are `sampleValue(i)`; renderBlock returns
// the mono block the node must render.
class ReferenceModel {
 public:
  static constexpr std::size_t kQueueCapacity = quorvel::extensions::sherpa::PieceQueue::kCapacity;

  ReferenceModel(int64_t samplesPerItem, int64_t blockFrames, ModelStats* stats = nullptr,
                 float (*sampleValue)(int32_t) = nullptr)
      : samplesPerItem_(samplesPerItem),
        blockFrames_(blockFrames),
        stats_(stats ? stats : &unused_),
        sampleValue_(sampleValue) {}

  void append(const std::string& token, bool isFinal) {
    buffer += token;
    const bool playing = isPlaying();
    if (playing && isFinal) ++stats_->finalsWhilePlaying;
    if (playing && !isFinal && referenceSplit(buffer) > 0) ++stats_->cutsHeldWhilePlaying;
    if (isFinal) finalRequested_ = true;
    if (!finalRequested_ && (playing || referenceSplit(buffer) == 0)) return;
    synthesizeDue(false);
  }

  void clear() {
    buffer.clear();
    finalRequested_ = false;
  }

  void stop() {
    ++stats_->stops;
    dropBefore_ = nextSequence_;
    clear();
  }

  // "synthesize" of a whole text. A final token's flush that waited for a
  // free place in the queue is retried after every synthesis.
  void synthesize(const std::string& text) {
    pieces.push_back(text);
    items_.push_back(Item{nextSequence_++, samplesPerItem_});
    newestWhole_ = static_cast<long>(items_.size()) - 1;
    synthesizeDue(false, true);
  }

  std::vector<float> renderBlock() {
    std::vector<float> out(static_cast<std::size_t>(blockFrames_), 0.0f);
    if (current_ >= 0 && items_[current_].complete) {
      // A "stop" since its last sample dropped its "finished" too.
      if (items_[current_].sequence >= dropBefore_) ++finished;
      current_ = -1;
      synthesizeDue(true);
    }
    if (current_ >= 0 && items_[current_].sequence < dropBefore_) {
      fadeOut(items_[current_], out);
      current_ = -1;
    }
    if (newestWhole_ >= 0 && items_[newestWhole_].sequence > takenUp_) {
      Item& next = items_[newestWhole_];
      takenUp_ = next.sequence;
      if (!next.complete && next.sequence >= dropBefore_) {
        dropQueuedBefore(next.sequence);
        if (current_ >= 0) {
          ++stats_->itemsCutOff;
          fadeOut(items_[current_], out);
        }
        current_ = newestWhole_;
      }
    }
    dropQueuedBefore(dropBefore_);
    if (current_ < 0 && !queue_.empty()) {
      current_ = queue_.front();
      queue_.erase(queue_.begin());
    }
    if (current_ >= 0) read(items_[current_], out, 1.0f, 1.0f, true);
    return out;
  }

  bool idle() const { return current_ < 0 && queue_.empty() && !isPendingWhole(); }
  // Every item made, in order: samples played before it ended or was cut.
  std::vector<int64_t> heard() const {
    std::vector<int64_t> out;
    for (const Item& item : items_) out.push_back(item.read);
    return out;
  }
  int64_t samplesPerItem() const { return samplesPerItem_; }

  std::vector<std::string> pieces;  // texts handed to synthesis, in order, '*' still in them
  std::string buffer;
  int finished = 0;

 private:
  struct Item {
    uint64_t sequence;
    int64_t samples;
    int64_t read = 0;
    bool complete = false;
  };

  bool isPendingWhole() const {
    return newestWhole_ >= 0 && items_[newestWhole_].sequence > takenUp_ &&
           items_[newestWhole_].sequence >= dropBefore_ && !items_[newestWhole_].complete;
  }
  bool isPlaying() const {
    if (!queue_.empty() && items_[queue_.back()].sequence >= dropBefore_) return true;
    if (isPendingWhole()) return true;
    return current_ >= 0 && !items_[current_].complete && items_[current_].sequence >= dropBefore_;
  }

  void synthesizeDue(bool afterFinished, bool finalOnly = false) {
    if (buffer.empty() && !finalRequested_) return;
    if (queue_.size() >= kQueueCapacity) return;
    std::string text;
    if (finalRequested_) {
      text.swap(buffer);
      finalRequested_ = false;
    } else if (!finalOnly && !isPlaying()) {
      text = referenceTake(buffer);
    }
    if (text.empty()) return;
    if (afterFinished) ++stats_->cutsAtFinished;
    if (isPlaying()) ++stats_->piecesQueuedBehind;
    pieces.push_back(text);
    items_.push_back(Item{nextSequence_++, samplesPerItem_});
    queue_.push_back(static_cast<long>(items_.size()) - 1);
  }

  void dropQueuedBefore(uint64_t sequence) {
    while (!queue_.empty() && items_[queue_.front()].sequence < sequence) queue_.erase(queue_.begin());
  }

  void fadeOut(Item& item, std::vector<float>& out) const {
    const int64_t k = std::min(item.samples - item.read, blockFrames_);
    read(item, out, 1.0f, k > 0 ? -1.0f / static_cast<float>(k) : 0.0f, false);
  }

  // Copies (or adds) the item's next samples, the gain moving by `step`
  // per frame from `gain`, as the node's ramp does in single precision.
  void read(Item& item, std::vector<float>& out, float gain, float step, bool mix) const {
    const int64_t k = std::min(item.samples - item.read, blockFrames_);
    for (int64_t i = 0; i < k; ++i) {
      const float sample = sampleValue_ ? sampleValue_(static_cast<int32_t>(item.read + i)) : 0.0f;
      if (mix) {
        out[static_cast<std::size_t>(i)] += sample;
      } else {
        out[static_cast<std::size_t>(i)] = sample * gain;
        gain += step;
      }
    }
    item.read += k;
    if (item.read >= item.samples) item.complete = true;
  }

  int64_t samplesPerItem_;
  int64_t blockFrames_;
  ModelStats unused_;
  ModelStats* stats_;
  float (*sampleValue_)(int32_t);
  std::vector<Item> items_;
  std::vector<long> queue_;
  long current_ = -1;
  long newestWhole_ = -1;
  uint64_t nextSequence_ = 1;
  uint64_t dropBefore_ = 0;
  uint64_t takenUp_ = 0;
  bool finalRequested_ = false;
};

// The implementation-independent invariant: `pieces` followed by `rest`
// spell `text` exactly, except that right after each piece a run of ' ',
// '\t', '\n' bytes of `text` may be left out (every run length is tried).
inline bool spellsText(const std::string& text, const std::vector<std::string>& pieces, const std::string& rest) {
  std::set<std::size_t> starts{0};
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string& piece = pieces[i];
    std::set<std::size_t> ends;
    for (std::size_t s : starts)
      if (s + piece.size() <= text.size() && text.compare(s, piece.size(), piece) == 0) ends.insert(s + piece.size());
    if (ends.empty()) return false;
    starts.clear();
    for (std::size_t e : ends) {
      std::size_t p = e;
      starts.insert(p);
      while (p < text.size() && isTrimmed(text[p])) starts.insert(++p);
    }
  }
  for (std::size_t s : starts)
    if (text.size() - s == rest.size() && text.compare(s, rest.size(), rest) == 0) return true;
  return false;
}

}  // namespace streaming_reference
