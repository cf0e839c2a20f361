#include "EventTrail.h"

#include <cstddef>
#include <map>

namespace soak {

void EventTrail::started(uint64_t sequence, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Started, sequence, text});
}

void EventTrail::finished(uint64_t sequence) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Finished, sequence, {}});
}

void EventTrail::reloadBegun() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({Kind::Reload, 0, {}});
}

EventTrail::Result EventTrail::check(const std::set<uint64_t>& audibleAtEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  const std::size_t n = entries_.size();
  std::map<uint64_t, std::size_t> announcement;  // sequence -> entry index
  std::vector<bool> closed(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& e = entries_[i];
    if (e.kind == Kind::Started) {
      ++result.started;
      announcement[e.sequence] = i;
      continue;
    }
    if (e.kind != Kind::Finished) continue;
    ++result.finished;
    const auto found = announcement.find(e.sequence);
    if (found == announcement.end()) {
      result.faults.push_back("event " + std::to_string(i) + ": \"finished\" for a segment no synthesisStarted announced");
      continue;
    }
    if (closed[found->second]) {
      result.faults.push_back("event " + std::to_string(i) + ": a second \"finished\" for \"" +
                              entries_[found->second].text + "\"");
    }
    closed[found->second] = true;
  }
  // A synthesis left open was cut off by a newer one or dropped by a reload,
  // or it made no audio; one that is neither and still holds audio is lost.
  for (std::size_t i = 0; i < n; ++i) {
    if (entries_[i].kind != Kind::Started || closed[i]) continue;
    bool followed = false;
    for (std::size_t j = i + 1; j < n && !followed; ++j) {
      followed = entries_[j].kind == Kind::Started || entries_[j].kind == Kind::Reload;
    }
    if (followed) {
      ++result.replaced;
    } else if (audibleAtEnd.count(entries_[i].sequence) != 0) {
      result.faults.push_back("synthesisStarted \"" + entries_[i].text +
                              "\" produced audio that neither finished nor was replaced");
    }
  }
  return result;
}

}  // namespace soak
