// EngineLock: serialises every use of a node's engine (syntheses, loads,
// teardown) without ever making a thread wait for itself.
//
//  - Control threads take it blocking (acquire). The audio thread only tries
//    (tryAcquire): it never waits for a control thread.
//  - The thread that holds it may take it again: a "synthesisStarted"
//    listener runs while its synthesis holds the engine, and may synthesise,
//    append or load from there. Such nested work runs at once, between the
//    announcement and the generation of the outer synthesis, which then
//    finds itself superseded or goes on.
//  - Work the audio thread cannot run because another thread holds the
//    engine is handed over (defer): whoever releases the engine last runs it
//    before it lets go, on its own thread, holding the engine. Work handed
//    over by the thread that already holds the engine runs at once, nested.
//  - Teardown closes it for good: handed-over work is dropped from then on.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel::extensions::sherpa {

class EngineLock {
 public:
  // Blocks until this thread holds the engine (at once when it already does).
  void acquire();
  // Takes the engine when it is free or already this thread's; never waits.
  bool tryAcquire();
  // Gives one hold back; the last one runs the handed-over work first.
  void release();
  bool heldByThisThread() const noexcept { return owner_.load() == std::this_thread::get_id(); }

  // Hands `work` to the engine's holder, or runs it now (holding the engine)
  // when the engine can be had without waiting. True when it ran here.
  bool defer(std::function<void()> work);
  bool hasDeferredWork() const noexcept { return deferredCount_.load() > 0; }
  // Drops handed-over work that has not run, and all that is handed over
  // from now on (teardown).
  void closeForGood();

 private:
  void runDeferred();

  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // holds of the owner; touched only by the owner
  std::mutex deferredMutex_;
  std::vector<std::function<void()>> deferred_;
  std::atomic<int> deferredCount_{0};
  bool closed_ = false;  // under deferredMutex_
};

// Holds the engine for a scope, blocking (control threads) or trying (the
// audio thread, and anything that must not wait).
class EngineHold {
 public:
  enum Mode { kWait, kTry };
  EngineHold(EngineLock& lock, Mode mode) : lock_(lock) {
    held_ = mode == kWait ? (lock_.acquire(), true) : lock_.tryAcquire();
  }
  ~EngineHold() {
    if (held_) lock_.release();
  }
  EngineHold(const EngineHold&) = delete;
  EngineHold& operator=(const EngineHold&) = delete;
  bool held() const noexcept { return held_; }

 private:
  EngineLock& lock_;
  bool held_ = false;
};

}  // namespace quorvel::extensions::sherpa
