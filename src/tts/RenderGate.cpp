#include "RenderGate.h"

namespace quorvel::extensions::sherpa {

RenderGate::ProduceScope::ProduceScope(RenderGate& gate) noexcept : gate_(gate) {
  gate_.inFlight_.fetch_add(1);
  if (gate_.exclusions_.load() > 0) return;
  std::thread::id nobody{};
  owner_ = gate_.producer_.compare_exchange_strong(nobody, std::this_thread::get_id());
}

RenderGate::ProduceScope::~ProduceScope() {
  if (owner_) gate_.producer_.store(std::thread::id{});
  // An Exclusion raises exclusions_ before it looks at inFlight_, so one of
  // the two sides always sees the other: no wake-up is lost, and none is
  // made (no system call) while nobody waits.
  if (gate_.inFlight_.fetch_sub(1) == 1 && gate_.exclusions_.load() > 0) gate_.inFlight_.notify_all();
}

RenderGate::Exclusion::Exclusion(RenderGate& gate) noexcept : gate_(gate) {
  gate_.exclusions_.fetch_add(1);
  for (int running = gate_.inFlight_.load(); running != 0; running = gate_.inFlight_.load())
    gate_.inFlight_.wait(running);
}

RenderGate::Exclusion::~Exclusion() { gate_.exclusions_.fetch_sub(1); }

}  // namespace quorvel::extensions::sherpa
