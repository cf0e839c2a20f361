// Event delivery of the Quorvel framework.
//
// Applications subscribe per event name and get an id to unsubscribe with.
// emitEvent delivers synchronously on the emitting thread, to the listeners
// subscribed at that moment, in subscription order. An event a node emits
// from its audio callback (for example "finished" from produce) therefore
// reaches listeners on the audio thread: listeners must be quick and must
// not call back into the node's teardown.
//
// Emitting takes no lock, allocates nothing and frees nothing, so it is fit
// for the audio thread. Subscribing and unsubscribing may run on any thread,
// also from inside a listener, and so may a nested emission; none of them
// waits for an emission in progress. They copy the listener table and
// publish the copy; the table it replaces is freed by a later subscribing
// or unsubscribing call (or the destructor) once no emission is running.
// Emissions must not run while the emitter is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QVAny.h"

namespace quorvel {

class EventEmitter {
 public:
  using Listener = std::function<void(const std::string& event, const QVAny& payload)>;
  using ListenerId = uint64_t;

  EventEmitter();
  virtual ~EventEmitter();
  EventEmitter(const EventEmitter&) = delete;
  EventEmitter& operator=(const EventEmitter&) = delete;

  ListenerId addListener(const std::string& event, Listener listener);
  bool removeListener(ListenerId id);
  void removeAllListeners();

 protected:
  void emitEvent(const std::string& event, const QVAny& payload);

 private:
  struct Entry {
    ListenerId id;
    std::string event;
    Listener listener;
  };
  using Table = std::vector<Entry>;

  // Publishes `table` in place of the current one; writeMutex_ held.
  void publish(std::unique_ptr<const Table> table);

  std::mutex writeMutex_;
  ListenerId nextId_ = 1;
  // The table emissions read; owned by current_.
  std::atomic<const Table*> table_{nullptr};
  // Emissions between taking table_ and finishing with it, on all threads.
  std::atomic<uint64_t> emissionsInFlight_{0};
  // Guarded by writeMutex_: the published table, and replaced tables that an
  // emission running when they were replaced may still be reading.
  std::unique_ptr<const Table> current_;
  std::vector<std::unique_ptr<const Table>> retired_;
};

}  // namespace quorvel
