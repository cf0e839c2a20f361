#include "quorvel/EventEmitter.h"

#include <algorithm>

namespace quorvel {

static_assert(std::atomic<const void*>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "emission relies on lock-free atomics");

EventEmitter::EventEmitter() : current_(std::make_unique<const Table>()) { table_.store(current_.get()); }
EventEmitter::~EventEmitter() = default;

EventEmitter::ListenerId EventEmitter::addListener(const std::string& event, Listener listener) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  auto table = std::make_unique<Table>(*current_);
  ListenerId id = nextId_++;
  table->push_back(Entry{id, event, std::move(listener)});
  publish(std::move(table));
  return id;
}

bool EventEmitter::removeListener(ListenerId id) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  auto it = std::find_if(current_->begin(), current_->end(), [id](const Entry& e) { return e.id == id; });
  if (it == current_->end()) return false;
  auto table = std::make_unique<Table>(*current_);
  table->erase(table->begin() + (it - current_->begin()));
  publish(std::move(table));
  return true;
}

void EventEmitter::removeAllListeners() {
  std::lock_guard<std::mutex> lock(writeMutex_);
  publish(std::make_unique<const Table>());
}

// An emission counts itself in before it reads table_ and out after its
// last use of the table; all of these are sequentially consistent. So when
// the count is zero after table_ has been replaced, every emission still to
// come reads the new table, and no running one holds an older table: every
// retired table can go. Otherwise they wait for the next call that finds
// the count at zero. A listener that subscribes from inside an emission
// always finds it non-zero (its own emission), which is why nothing here
// waits for the count.
void EventEmitter::publish(std::unique_ptr<const Table> table) {
  retired_.reserve(retired_.size() + 1);  // nothing can throw once table_ moves
  table_.store(table.get());
  retired_.push_back(std::move(current_));
  current_ = std::move(table);
  if (emissionsInFlight_.load() == 0) retired_.clear();
}

void EventEmitter::emitEvent(const std::string& event, const QVAny& payload) {
  struct InFlight {
    explicit InFlight(std::atomic<uint64_t>& count) : count_(count) { count_.fetch_add(1); }
    ~InFlight() { count_.fetch_sub(1); }  // also when a listener throws
    std::atomic<uint64_t>& count_;
  } inFlight(emissionsInFlight_);
  for (const Entry& entry : *table_.load()) {
    if (entry.event == event && entry.listener) entry.listener(event, payload);
  }
}

}  // namespace quorvel
