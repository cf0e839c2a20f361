// Emitting an event on the audio thread, watched by the probe: no lock, no
// allocation and no free, also when a listener changes the listeners while
// the event is being delivered (the delivery's table is then retired, and
// must be freed by a later subscriber rather than by the emission), and for
// a payload of an empty map made on the spot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quorvel/EventEmitter.h>
#include <quorvel/QVAny.h>

#include "RealtimeProbe.h"

using quorvel::EventEmitter;
using quorvel::QVAny;
using quorvel::QVAnyMap;

namespace {

class Emitter : public EventEmitter {
 public:
  void emit(const std::string& event, const QVAny& payload) { emitEvent(event, payload); }
};

// Runs a listener's own work outside the watch: it is not the emission's.
template <typename Work>
void outsideTheWatch(realtime_probe::Counts& emission, Work work) {
  emission += realtime_probe::unwatch();
  work();
  realtime_probe::watch();
}

}  // namespace

TEST(EventEmission, TakesNoLockAndNeitherAllocatesNorFrees) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  Emitter emitter;
  std::vector<std::string> heard;
  heard.reserve(16);
  realtime_probe::Counts emission;  // summed over the watched stretches
  EventEmitter::ListenerId self = 0;
  self = emitter.addListener("finished", [&](const std::string& event, const QVAny&) {
    heard.push_back(event);
    // Replaces the table this very delivery is reading, and emits again.
    outsideTheWatch(emission, [&] {
      emitter.removeListener(self);
      emitter.addListener("finished", [&](const std::string&, const QVAny&) { heard.push_back("late"); });
    });
    emitter.emit("nested", QVAny(QVAnyMap()));
  });
  emitter.addListener("nested", [&](const std::string& event, const QVAny&) { heard.push_back(event); });
  emitter.addListener("finished", [&](const std::string&, const QVAny&) { heard.push_back("second"); });

  for (int i = 0; i < 2; ++i) {
    realtime_probe::watch();
    emitter.emit("finished", QVAny(QVAnyMap()));
    emission += realtime_probe::unwatch();
  }

  EXPECT_EQ(heard, (std::vector<std::string>{"finished", "nested", "second", "second", "late"}));
  EXPECT_EQ(realtime_probe::describe(emission), realtime_probe::describe({}));
}
