// Event delivery of the Quorvel framework.
//
// Applications subscribe per event name and get an id to unsubscribe with.
// emitEvent delivers synchronously on the emitting thread, to the listeners
// subscribed at that moment, in subscription order. An event a node emits
// from its audio callback (for example "finished" from produce) therefore
// reaches listeners on the audio thread: listeners must be quick and must
// not call back into the node's teardown. Emitting takes no lock and
// allocates nothing; subscribing and unsubscribing may run on any thread,
// including from inside a listener.
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

  std::mutex writeMutex_;
  ListenerId nextId_ = 1;
  std::shared_ptr<const Table> table_;  // replaced whole, read atomically
};

}  // namespace quorvel
