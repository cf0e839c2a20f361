// The text-to-speech node's events in arrival order, each tied to the segment
// (GeneratedAudioItem) it belongs to, and the check that no announced
// segment is lost: every "synthesisStarted" that produced audio is followed
// by its own "finished", by a newer "synthesisStarted" or by a reload, and
// every "finished" closes exactly one announced segment.
//
// The events carry no segment, so the trail ties them up from the node's
// state at the moment each is emitted:
//  - "synthesisStarted" runs while the node holds its engine lock, so the
//    segment published in between two of them is the first one's: the
//    second listener sees it in nextItem (or the value from before the
//    first, when the engine returned nothing).
//  - a reload reads nextItem under the same lock before it starts, which
//    ties up the last announcement before it in the same way;
//  - "finished" runs on the driver thread inside produce; the segment that
//    ended is the one the driver saw in currentItem after its previous
//    block (segments in this run last well over one block).
// Addresses may be reused once a segment is freed; a "finished" is matched
// with the latest announcement of its address before it. An announcement
// made on the driver thread after that read and before the reload clears
// nextItem cannot be tied up; a "finished" that matches nothing is excused
// once for each such announcement before it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace soak {

class EventTrail {
 public:
  EventTrail() { entries_.reserve(1 << 16); }

  // `published` is nextItem as the "synthesisStarted" listener sees it.
  void started(const void* published, const std::string& text);
  // `playing` is the segment the driver saw playing before this block.
  void finished(const void* playing);
  // A reload drops whatever is published or playing without "finished";
  // `published` is nextItem read under the engine lock before it starts.
  void reloadBegun(const void* published);
  void reloadDone();

  struct Result {
    long started = 0;
    long finished = 0;
    long replaced = 0;
    long untied = 0;  // announcements during a reload that could not be tied up
    std::vector<std::string> faults;
  };
  // `finalPublished` is nextItem once playback has drained.
  Result check(const void* finalPublished) const;

 private:
  enum class Kind { Started, Finished, Reload, ReloadDone };
  struct Entry {
    Kind kind;
    const void* item;
    std::string text;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace soak
