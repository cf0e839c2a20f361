// The text-to-speech node's events in arrival order, each tied to the
// synthesis it belongs to, and the check that no announced segment is lost:
// every "finished" closes exactly one announced synthesis, and every
// announced synthesis whose audio is still there at the end was closed by its
// "finished", or cut off by a newer "synthesisStarted" or a reload.
//
// The events carry no segment, so the trail ties them up by the sequence
// number every synthesis draws:
//  - "synthesisStarted" is emitted while the node holds its engine lock,
//    right after the synthesis drew its number: the listener reads it as the
//    last number drawn;
//  - "finished" runs on the driver thread inside produce, for the segment the
//    driver saw playing after its previous block (segments in this run last
//    well over one block): the driver passes that segment's number.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace soak {

class EventTrail {
 public:
  EventTrail() { entries_.reserve(1 << 16); }

  void started(uint64_t sequence, const std::string& text);
  // `sequence` of the segment the driver saw playing before this block; 0
  // when none played.
  void finished(uint64_t sequence);
  // A reload drops whatever is published, queued or playing without
  // "finished".
  void reloadBegun();

  struct Result {
    long started = 0;
    long finished = 0;
    long replaced = 0;
    std::vector<std::string> faults;
  };
  // `audibleAtEnd`: numbers of the segments that still hold audio once
  // playback has drained.
  Result check(const std::set<uint64_t>& audibleAtEnd) const;

 private:
  enum class Kind { Started, Finished, Reload };
  struct Entry {
    Kind kind;
    uint64_t sequence;
    std::string text;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace soak
