#include "EventTrail.h"

#include <cstddef>
#include <map>

namespace soak {

void EventTrail::started(const void* published, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Started, published, text});
}

void EventTrail::finished(const void* playing) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Finished, playing, {}});
}

void EventTrail::reloadBegun(const void* published) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Reload, published, {}});
}

void EventTrail::reloadDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::ReloadDone, nullptr, {}});
}

EventTrail::Result EventTrail::check(const void* finalPublished) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  const std::size_t n = entries_.size();

  // The segment each announcement produced (null: none), read at the next
  // announcement or reload or, for the last one, from what is published at
  // the end. Announcements made while a reload runs may not be readable.
  std::vector<const void*> segment(n, nullptr);
  std::vector<bool> untied(n, false);
  std::size_t previous = n;  // index of the latest announcement so far
  bool reloading = false;
  bool previousDuringReload = false;
  for (std::size_t i = 0; i <= n; ++i) {
    if (i < n && entries_[i].kind == Kind::ReloadDone) reloading = false;
    if (i < n && entries_[i].kind != Kind::Started && entries_[i].kind != Kind::Reload) continue;
    if (previous < n) {
      const void* now = i < n ? entries_[i].item : finalPublished;
      if (now != entries_[previous].item) segment[previous] = now;
      untied[previous] = previousDuringReload && segment[previous] == nullptr;
    }
    if (i < n && entries_[i].kind == Kind::Reload) {
      reloading = true;
      previous = n;
    } else {
      previous = i;
      previousDuringReload = reloading;
    }
  }

  std::vector<bool> closed(n, false);
  std::map<const void*, std::size_t> latestAnnouncement;  // address -> entry index
  long excusable = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& e = entries_[i];
    if (e.kind == Kind::Started) {
      ++result.started;
      if (untied[i]) {
        ++result.untied;
        ++excusable;
      }
      if (segment[i] != nullptr) latestAnnouncement[segment[i]] = i;
      continue;
    }
    if (e.kind != Kind::Finished) continue;
    ++result.finished;
    auto found = latestAnnouncement.find(e.item);
    if (found == latestAnnouncement.end() && excusable > 0) {
      --excusable;
      continue;
    }
    if (found == latestAnnouncement.end()) {
      result.faults.push_back("event " + std::to_string(i) + ": \"finished\" for a segment no synthesisStarted announced");
      continue;
    }
    if (closed[found->second]) {
      result.faults.push_back("event " + std::to_string(i) + ": a second \"finished\" for \"" +
                              entries_[found->second].text + "\"");
    }
    closed[found->second] = true;
  }
  // A segment left open must have been cut off by a newer one or dropped
  // by a reload.
  for (std::size_t i = 0; i < n; ++i) {
    if (entries_[i].kind != Kind::Started || segment[i] == nullptr || closed[i]) continue;
    bool followed = false;
    for (std::size_t j = i + 1; j < n && !followed; ++j) {
      followed = entries_[j].kind == Kind::Started || entries_[j].kind == Kind::Reload;
    }
    if (followed) {
      ++result.replaced;
    } else {
      result.faults.push_back("synthesisStarted \"" + entries_[i].text +
                              "\" produced audio that neither finished nor was replaced");
    }
  }
  return result;
}

}  // namespace soak
