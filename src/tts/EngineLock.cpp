#include "EngineLock.h"

#include <utility>

namespace quorvel::extensions::sherpa {

void EngineLock::acquire() {
  if (heldByThisThread()) {
    ++depth_;
    return;
  }
  mutex_.lock();
  owner_.store(std::this_thread::get_id());
  depth_ = 1;
}

bool EngineLock::tryAcquire() {
  if (heldByThisThread()) {
    ++depth_;
    return true;
  }
  if (!mutex_.try_lock()) return false;
  owner_.store(std::this_thread::get_id());
  depth_ = 1;
  return true;
}

void EngineLock::release() {
  if (depth_ > 1) {
    --depth_;
    return;
  }
  // Handed-over work runs before the engine is let go. Work handed over
  // after the last look, while this thread still held the engine, found it
  // busy: look again once free, and take it back if nobody else did.
  for (;;) {
    runDeferred();
    depth_ = 0;
    owner_.store(std::thread::id{});
    mutex_.unlock();
    if (!hasDeferredWork() || !mutex_.try_lock()) return;
    owner_.store(std::this_thread::get_id());
    depth_ = 1;
  }
}

bool EngineLock::defer(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(deferredMutex_);
    if (closed_) return false;
    deferred_.push_back(std::move(work));
    deferredCount_.fetch_add(1);
  }
  // Free after all, or already this thread's: run it here and now (a nested
  // hold releases without running handed-over work, so run it explicitly).
  if (!tryAcquire()) return false;
  runDeferred();
  release();
  return true;
}

void EngineLock::closeForGood() {
  std::lock_guard<std::mutex> lock(deferredMutex_);
  closed_ = true;
  deferredCount_.fetch_sub(static_cast<int>(deferred_.size()));
  deferred_.clear();
}

void EngineLock::runDeferred() {
  while (hasDeferredWork()) {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard<std::mutex> lock(deferredMutex_);
      batch.swap(deferred_);
      deferredCount_.fetch_sub(static_cast<int>(batch.size()));
    }
    for (auto& work : batch) {
      try {
        work();
      } catch (...) {
        // Work is the node's own and reports its failures itself; nothing
        // may leave the thread that happened to release the engine.
      }
    }
  }
}

}  // namespace quorvel::extensions::sherpa
