// SpokenWords: the words of one segment and where each ends in the
// segment's audio.
//
// The generating thread prepares everything the audio thread needs before
// the segment is published (the word pieces and their "spoken" payloads),
// then publishes word ends as the engine hands over each sentence's audio.
// The audio thread reads published ends and emits the payloads built for
// them: it builds and allocates nothing. Which words were claimed as spoken
// is kept by PlaybackProgress.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <quorvel/QVAny.h>

namespace quorvel::extensions::sherpa {

class SpokenWords {
 public:
  // Generator, before publication: the segment's text (as synthesised) and
  // its sequence number. Allocates; false when memory runs out (the segment
  // then reports no words).
  bool prepare(const std::string& text, uint64_t sequence);

  // Generator. Word `index` ends at `endSample`; ends never go backwards
  // and words are published in order.
  void publish(std::size_t index, int32_t endSample);
  std::size_t published() const noexcept { return published_.load(); }
  std::size_t count() const noexcept { return sampleEnds_.size(); }
  // Byte offsets of the word ends in text() (as wordEnds gives them).
  const std::vector<std::size_t>& byteEnds() const noexcept { return byteEnds_; }
  const std::string& text() const noexcept { return text_; }

  // Audio thread: the end of word `index` (< published()) and its payload.
  int32_t endSample(std::size_t index) const noexcept { return sampleEnds_[index]; }
  const QVAny& payload(std::size_t index) const noexcept { return payloads_[index]; }

  // The text of the first `words` words, and the rest.
  std::string heardText(std::size_t words) const;
  std::string unheardText(std::size_t words) const;

 private:
  std::string text_;
  std::vector<std::size_t> byteEnds_;
  std::vector<int32_t> sampleEnds_;  // [i] written before published_ passes i
  std::vector<QVAny> payloads_;      // {"text": the word's piece, "sequence": N}
  std::atomic<std::size_t> published_{0};
};

}  // namespace quorvel::extensions::sherpa
