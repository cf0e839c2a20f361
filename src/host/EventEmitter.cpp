#include "quorvel/EventEmitter.h"

#include <algorithm>

namespace quorvel {

EventEmitter::EventEmitter() : table_(std::make_shared<const Table>()) {}
EventEmitter::~EventEmitter() = default;

// Writers copy the table and swap it in; emitters read a snapshot, so a
// listener may unsubscribe (itself included) while an event is delivered.
EventEmitter::ListenerId EventEmitter::addListener(const std::string& event, Listener listener) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  auto table = std::make_shared<Table>(*std::atomic_load(&table_));
  ListenerId id = nextId_++;
  table->push_back(Entry{id, event, std::move(listener)});
  std::atomic_store(&table_, std::shared_ptr<const Table>(std::move(table)));
  return id;
}

bool EventEmitter::removeListener(ListenerId id) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  auto table = std::make_shared<Table>(*std::atomic_load(&table_));
  auto it = std::find_if(table->begin(), table->end(), [id](const Entry& e) { return e.id == id; });
  if (it == table->end()) return false;
  table->erase(it);
  std::atomic_store(&table_, std::shared_ptr<const Table>(std::move(table)));
  return true;
}

void EventEmitter::removeAllListeners() {
  std::lock_guard<std::mutex> lock(writeMutex_);
  std::atomic_store(&table_, std::make_shared<const Table>());
}

void EventEmitter::emitEvent(const std::string& event, const QVAny& payload) {
  std::shared_ptr<const Table> table = std::atomic_load(&table_);
  for (const Entry& entry : *table) {
    if (entry.event == event && entry.listener) entry.listener(event, payload);
  }
}

}  // namespace quorvel
