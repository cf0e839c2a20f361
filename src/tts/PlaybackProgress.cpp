#include "PlaybackProgress.h"

namespace quorvel::extensions::sherpa {

void PlaybackProgress::start(GeneratedAudioItem* item, const std::atomic<uint64_t>& dropBefore) noexcept {
  const uint64_t n = starts_.load();
  Recent& entering = recent_[(n + 1) % kRecent];
  entering.leftState.store(0);
  entering.item.store(item);  // named before the state names its sequence
  starts_.store(n + 1);
  const uint64_t left = state_.exchange(pack(item->sequence, 0));
  recent_[n % kRecent].leftState.store(left | kLeft);
  // A "stop" raises the cut-off before it seals: one whose seal this start
  // overwrote is seen here, and the item is sealed (unreported) at once.
  if (item->sequence < dropBefore.load()) state_.fetch_or(kSealed);
}

bool PlaybackProgress::claimWord(GeneratedAudioItem* item, int32_t played, uint32_t& word) noexcept {
  uint64_t state = state_.load();
  if ((state & (kSealed | kFinished)) != 0 || sequenceOf(state) != item->sequence) return false;
  const uint64_t next = state & kWordMask;
  if (next >= item->words.published() || item->words.endSample(next) > played) return false;
  if (!state_.compare_exchange_strong(state, state + 1)) return false;  // sealed meanwhile
  word = static_cast<uint32_t>(next);
  return true;
}

bool PlaybackProgress::claimFinished(GeneratedAudioItem* item) noexcept {
  uint64_t state = state_.load();
  if ((state & (kSealed | kFinished)) != 0 || sequenceOf(state) != item->sequence) return false;
  return state_.compare_exchange_strong(state, state | kFinished);
}

PlaybackProgress::Seen PlaybackProgress::seal() noexcept {
  const uint64_t state = state_.fetch_or(kSealed | kReported);
  return (state & kReported) != 0 ? Seen{} : describe(state);
}

PlaybackProgress::Seen PlaybackProgress::cutOffBy(uint64_t cutter) noexcept {
  const uint64_t state = state_.load();
  if (state != 0 && sequenceOf(state) < cutter) return (state & kReported) != 0 ? Seen{} : describe(state);
  // The whole text already plays: what it replaced.
  Recent* cutting = find(cutter);
  if (cutting == nullptr) return {};
  const Recent& before = recent_[(static_cast<std::size_t>(cutting - recent_.data()) + kRecent - 1) % kRecent];
  const uint64_t left = before.leftState.load();
  if ((left & kLeft) == 0 || (left & kReported) != 0) return {};
  return describe(left);
}

void PlaybackProgress::forgetItem(const GeneratedAudioItem* item) noexcept {
  for (Recent& recent : recent_) {
    // The audio thread only ever stores a newer item over it: that wins.
    GeneratedAudioItem* expected = const_cast<GeneratedAudioItem*>(item);
    recent.item.compare_exchange_strong(expected, nullptr);
  }
}

void PlaybackProgress::forget() noexcept {
  state_.store(0);
  for (Recent& recent : recent_) {
    recent.item.store(nullptr);
    recent.leftState.store(0);
  }
}

PlaybackProgress::Recent* PlaybackProgress::find(uint64_t sequence) noexcept {
  for (Recent& recent : recent_) {
    GeneratedAudioItem* item = recent.item.load();
    if (item != nullptr && item->sequence == sequence) return &recent;
  }
  return nullptr;
}

PlaybackProgress::Seen PlaybackProgress::describe(uint64_t state) noexcept {
  Recent* recent = state == 0 ? nullptr : find(sequenceOf(state));
  if (recent == nullptr) return {};
  return Seen{recent->item.load(), static_cast<uint32_t>(state & kWordMask), (state & kFinished) != 0};
}

}  // namespace quorvel::extensions::sherpa
