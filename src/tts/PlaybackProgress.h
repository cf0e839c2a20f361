// PlaybackProgress: how far the listener has heard the segment that plays,
// decided in one place so that "stop" (and a whole text cutting in) can say
// exactly what was heard.
//
// One atomic word holds the playing segment's sequence, the number of its
// words claimed as spoken, whether its "finished" was claimed, and a seal.
// The audio thread claims each "spoken" word and the "finished" by a
// compare-and-swap that fails once the word is sealed; "stop" seals it and
// reads, in the same instruction, what had been claimed. So every event the
// audio thread emits about that segment is one "stop" counted, and none is
// emitted that it did not count. Nothing here waits.
//
// The last few segments started are remembered with the state they were
// left in, so that a whole text that has already been taken up can still
// report the segment it cut off. They are forgotten before they are freed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "GeneratedAudioItem.h"

namespace quorvel::extensions::sherpa {

class PlaybackProgress {
 public:
  // What a seal found about one segment.
  struct Seen {
    GeneratedAudioItem* item = nullptr;  // null: no segment to report
    uint32_t wordsSpoken = 0;
    bool finished = false;  // its "finished" was claimed: nothing of it was cut off
  };

  // Audio thread: `item` starts playing (nothing of it claimed yet). When
  // `dropBefore` (read after the start) has dropped it, it is sealed at
  // once.
  void start(GeneratedAudioItem* item, const std::atomic<uint64_t>& dropBefore) noexcept;
  // Audio thread: claims the next word of `item` whose end has played
  // (`played` samples); false when none is due, or sealed.
  bool claimWord(GeneratedAudioItem* item, int32_t played, uint32_t& word) noexcept;
  // Audio thread: claims the "finished" of `item`; false when sealed.
  bool claimFinished(GeneratedAudioItem* item) noexcept;

  // Any thread ("stop"): no claim about the playing segment succeeds from
  // now on; reports it unless an earlier seal did.
  Seen seal() noexcept;
  // Any thread (a whole text of sequence `cutter` cutting in): the segment
  // it cuts off, as heard so far: the one playing if older, or the one
  // `cutter` replaced when it has already started. Seals nothing: until the
  // whole text starts, the segment plays on (its events tell the rest).
  Seen cutOffBy(uint64_t cutter) noexcept;
  // Both: the caller holds the lock under which segments are forgotten.

  // `item` is about to be freed (under the same lock as the seals).
  void forgetItem(const GeneratedAudioItem* item) noexcept;
  // Forgets every segment (their memory is about to be freed). Only while
  // produce cannot run, or on its own thread.
  void forget() noexcept;

 private:
  static constexpr uint64_t kSealed = 1ull << 63;
  static constexpr uint64_t kFinished = 1ull << 62;
  static constexpr uint64_t kReported = 1ull << 61;  // a seal reported it
  static constexpr uint64_t kLeft = 1ull << 60;      // set in `leftState` once replaced
  static constexpr int kWordBits = 22;               // a segment has fewer words than bytes (64 KiB)
  static constexpr uint64_t kWordMask = (1ull << kWordBits) - 1;
  static constexpr uint64_t kFlags = kSealed | kFinished | kReported | kLeft;
  static uint64_t pack(uint64_t sequence, uint64_t words) noexcept { return (sequence << kWordBits) | words; }
  static uint64_t sequenceOf(uint64_t state) noexcept { return (state & ~kFlags) >> kWordBits; }

  struct Recent {
    std::atomic<GeneratedAudioItem*> item{nullptr};
    std::atomic<uint64_t> leftState{0};  // the state it was left in; 0 while it plays
  };
  static constexpr std::size_t kRecent = 4;

  Recent* find(uint64_t sequence) noexcept;
  Seen describe(uint64_t state) noexcept;

  std::atomic<uint64_t> state_{0};
  std::array<Recent, kRecent> recent_{};
  std::atomic<uint64_t> starts_{0};  // written by the audio thread only
};

}  // namespace quorvel::extensions::sherpa
