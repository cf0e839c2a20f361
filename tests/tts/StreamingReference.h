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
  long itemsCutOff = 0;
};

class ReferenceModel {
 public:
  ReferenceModel(int64_t samplesPerItem, int64_t blockFrames, ModelStats* stats = nullptr)
      : samplesPerItem_(samplesPerItem), blockFrames_(blockFrames), stats_(stats ? stats : &unused_) {}

  void append(const std::string& token, bool isFinal) {
    buffer += token;
    const bool playing = current_ >= 0 && !items_[current_].complete;
    std::string text;
    if (playing && isFinal) ++stats_->finalsWhilePlaying;
    if (playing && !isFinal && referenceSplit(buffer) > 0) ++stats_->cutsHeldWhilePlaying;
    if (isFinal) {
      text.swap(buffer);
    } else if (!playing) {
      text = referenceTake(buffer);
    }
    if (!text.empty()) synthesize(text);
  }

  void clear() { buffer.clear(); }

  void renderBlock() {
    if (current_ >= 0 && items_[current_].complete) {
      current_ = -1;
      ++finished;
      if (!buffer.empty()) {
        const std::string text = referenceTake(buffer);
        if (!text.empty()) {
          ++stats_->cutsAtFinished;
          synthesize(text);
        }
      }
    }
    if (next_ != current_ && !(next_ >= 0 && items_[next_].complete)) {
      if (current_ >= 0) {
        ++stats_->itemsCutOff;
        readBlock(items_[current_]);  // faded-out tail
      }
      current_ = next_;
    }
    if (current_ >= 0) readBlock(items_[current_]);
  }

  std::vector<std::string> pieces;  // texts handed to synthesis, in order, '*' still in them
  std::string buffer;
  int finished = 0;

 private:
  struct Item {
    int64_t samples;
    int64_t read = 0;
    bool complete = false;
  };

  void synthesize(const std::string& text) {
    pieces.push_back(text);
    items_.push_back(Item{samplesPerItem_});
    next_ = static_cast<long>(items_.size()) - 1;
  }

  void readBlock(Item& item) const {
    item.read += std::min(item.samples - item.read, blockFrames_);
    if (item.read >= item.samples) item.complete = true;
  }

  int64_t samplesPerItem_;
  int64_t blockFrames_;
  ModelStats unused_;
  ModelStats* stats_;
  std::vector<Item> items_;
  long current_ = -1;
  long next_ = -1;
};

// The implementation-independent invariant: `pieces` followed by `rest`
// spell `text` exactly, except that right after each piece a run of ' ',
// '\t', '\n' bytes of `text` may be left out (every run length is tried).
// On failure, returns false and, when given, the index of the first piece
// that does not continue the text (pieces.size() when only the rest is off).
inline bool spellsText(const std::string& text, const std::vector<std::string>& pieces, const std::string& rest,
                       std::size_t* failedPiece = nullptr, std::size_t* firstStart = nullptr,
                       std::size_t* startCount = nullptr) {
  std::set<std::size_t> starts{0};
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string& piece = pieces[i];
    std::set<std::size_t> ends;
    for (std::size_t s : starts)
      if (s + piece.size() <= text.size() && text.compare(s, piece.size(), piece) == 0) ends.insert(s + piece.size());
    if (ends.empty()) {
      if (failedPiece) *failedPiece = i;
      if (firstStart) *firstStart = *starts.begin();
      if (startCount) *startCount = starts.size();
      return false;
    }
    starts.clear();
    for (std::size_t e : ends) {
      std::size_t p = e;
      starts.insert(p);
      while (p < text.size() && isTrimmed(text[p])) starts.insert(++p);
    }
  }
  for (std::size_t s : starts)
    if (text.size() - s == rest.size() && text.compare(s, rest.size(), rest) == 0) return true;
  if (failedPiece) *failedPiece = pieces.size();
  return false;
}

}  // namespace streaming_reference
