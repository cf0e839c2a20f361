// RenderGate: where control threads and the speech node's produce meet.
//
// The protocol, in one place:
//  - produce enters through a ProduceScope. The scope is closed (produce
//    renders silence and touches nothing else) while an Exclusion is held,
//    and when another produce of the same node is already running, on this
//    thread (a listener that calls produce) or on another one.
//  - A control thread that needs produce out (teardown, a reload, swapping
//    the conversion) holds an Exclusion: produce calls that begin meanwhile
//    are closed, and the Exclusion waits, blocking in the operating system,
//    for the one running to return. It never outlasts that produce call. It
//    must not be taken on the thread that is inside produce: insideProduce()
//    tells, and such work is requested from the produce call instead
//    (requestAtEndOfProduce), which runs it once it has rendered its block.
//  - Every render step is a render pass (RenderPass). Memory the render step
//    may hold is freed only after a scan during which no pass ran
//    (passMark() even and unchanged across the scan); nothing ever waits for
//    a pass to end.
// The audio thread never waits here: entering, leaving and marking passes
// are atomic operations, and leaving wakes a waiting Exclusion only when
// one is there.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace quorvel::extensions::sherpa {

class RenderGate {
 public:
  // Deferred requests a produce call carries out after rendering its block.
  enum Request : unsigned {
    kReleaseItems = 1u << 0,      // free segments no pointer names any more
    kApplyRate = 1u << 1,         // a new output rate arrived from inside produce
    kRestoreConversion = 1u << 2  // a reload inside produce dropped the conversion
  };

  class ProduceScope {
   public:
    explicit ProduceScope(RenderGate& gate) noexcept;
    ~ProduceScope();
    ProduceScope(const ProduceScope&) = delete;
    ProduceScope& operator=(const ProduceScope&) = delete;
    // False when produce must render silence and touch nothing else.
    bool open() const noexcept { return owner_; }

   private:
    RenderGate& gate_;
    bool owner_ = false;
  };

  class Exclusion {
   public:
    explicit Exclusion(RenderGate& gate) noexcept;
    ~Exclusion();
    Exclusion(const Exclusion&) = delete;
    Exclusion& operator=(const Exclusion&) = delete;

   private:
    RenderGate& gate_;
  };

  class RenderPass {
   public:
    explicit RenderPass(RenderGate& gate) noexcept : gate_(gate) { gate_.passes_.fetch_add(1); }
    ~RenderPass() { gate_.passes_.fetch_add(1); }
    RenderPass(const RenderPass&) = delete;
    RenderPass& operator=(const RenderPass&) = delete;

   private:
    RenderGate& gate_;
  };

  // True on the thread that is inside this node's produce.
  bool insideProduce() const noexcept { return producer_.load() == std::this_thread::get_id(); }
  // Odd while a render pass runs; changes with every pass.
  uint64_t passMark() const noexcept { return passes_.load(); }

  // From inside produce only: asks that produce to carry out `request` after
  // its block. Requests made elsewhere wait for the next produce call.
  void requestAtEndOfProduce(Request request) noexcept { requests_.fetch_or(request); }
  // Takes the pending requests (produce, after rendering).
  unsigned takeRequests() noexcept { return requests_.load() == 0 ? 0 : requests_.exchange(0); }
  // Puts back requests that could not be carried out yet.
  void keepRequests(unsigned requests) noexcept { requests_.fetch_or(requests); }

  // Closes the gate for good (teardown); produce renders silence from now on.
  void closeForGood() noexcept { exclusions_.fetch_add(1); }
  // Teardown, last: returns once no produce call touches the gate any more
  // (the one that woke an Exclusion may still be leaving it).
  void awaitLastExit() const noexcept;

 private:
  std::atomic<int> inFlight_{0};
  std::atomic<int> leaving_{0};  // produce calls between the start and the end of leaving
  std::atomic<int> exclusions_{0};
  std::atomic<std::thread::id> producer_{};
  std::atomic<uint64_t> passes_{0};
  std::atomic<unsigned> requests_{0};
};

}  // namespace quorvel::extensions::sherpa
