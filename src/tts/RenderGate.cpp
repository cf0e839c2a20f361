#include "RenderGate.h"

#include <chrono>

namespace quorvel::extensions::sherpa {

RenderGate::ProduceScope::ProduceScope(RenderGate& gate) noexcept : gate_(gate) {
  gate_.inFlight_.fetch_add(1);
  if (gate_.exclusions_.load() > 0) return;
  std::thread::id nobody{};
  owner_ = gate_.producer_.compare_exchange_strong(nobody, std::this_thread::get_id());
}

RenderGate::ProduceScope::~ProduceScope() {
  gate_.leaving_.fetch_add(1);
  // Only a thread compares producer_ with its own id, and it sees its own
  // stores in order: no fence is needed here.
  if (owner_) gate_.producer_.store(std::thread::id{}, std::memory_order_release);
  // An Exclusion raises exclusions_ before it looks at inFlight_, so one of
  // the two sides always sees the other: no wake-up is lost, and none is
  // made (no system call) while nobody waits.
  if (gate_.inFlight_.fetch_sub(1) == 1 && gate_.exclusions_.load() > 0) gate_.inFlight_.notify_all();
  gate_.leaving_.fetch_sub(1);  // the last touch of the gate
}

RenderGate::Exclusion::Exclusion(RenderGate& gate) noexcept : gate_(gate) {
  gate_.exclusions_.fetch_add(1);
  for (int running = gate_.inFlight_.load(); running != 0; running = gate_.inFlight_.load())
    gate_.inFlight_.wait(running);
}

RenderGate::Exclusion::~Exclusion() { gate_.exclusions_.fetch_sub(1); }

void RenderGate::awaitLastExit() const noexcept {
  for (int running = inFlight_.load(); running != 0; running = inFlight_.load()) inFlight_.wait(running);
  // What is left of a leaving produce is a few instructions; sleep rather
  // than spin should it be preempted there.
  while (leaving_.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

}  // namespace quorvel::extensions::sherpa
