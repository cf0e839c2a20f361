// Event delivery: order, snapshots, the emitting thread, listeners that
// subscribe, unsubscribe and emit from inside a delivery, and tables that
// are replaced while deliveries read them on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/EventEmitter.h>
#include <quorvel/QVAny.h>

using namespace quorvel;

namespace {

class TestEmitter : public EventEmitter {
 public:
  void emit(const std::string& event, const QVAny& payload) { emitEvent(event, payload); }
};

TEST(EventEmitterTest, DeliversToListenersOfTheEventInSubscriptionOrder) {
  TestEmitter e;
  std::vector<std::string> log;
  auto a = e.addListener("tick", [&](const std::string& ev, const QVAny& p) { log.push_back("a:" + ev + QVAny::convert<std::string>(p)); });
  auto b = e.addListener("tick", [&](const std::string&, const QVAny& p) { log.push_back("b" + QVAny::convert<std::string>(p)); });
  e.addListener("other", [&](const std::string&, const QVAny&) { log.push_back("other"); });
  EXPECT_NE(a, b);
  e.emit("tick", QVAny(1));
  EXPECT_EQ(log, (std::vector<std::string>{"a:tick1", "b1"}));

  log.clear();
  EXPECT_TRUE(e.removeListener(a));
  EXPECT_FALSE(e.removeListener(a));
  e.emit("tick", QVAny(2));
  EXPECT_EQ(log, (std::vector<std::string>{"b2"}));

  log.clear();
  e.removeAllListeners();
  e.emit("tick", QVAny(3));
  e.emit("other", QVAny());
  EXPECT_TRUE(log.empty());
}

TEST(EventEmitterTest, ListenerMayUnsubscribeAndSubscribeDuringDelivery) {
  TestEmitter e;
  std::vector<std::string> log;
  EventEmitter::ListenerId self = 0;
  self = e.addListener("go", [&](const std::string&, const QVAny&) {
    log.push_back("once");
    EXPECT_TRUE(e.removeListener(self));
    e.addListener("go", [&](const std::string&, const QVAny&) { log.push_back("late"); });
  });
  e.addListener("go", [&](const std::string&, const QVAny&) { log.push_back("second"); });
  e.emit("go", QVAny());
  // Delivery goes to the listeners subscribed when the event was emitted.
  EXPECT_EQ(log, (std::vector<std::string>{"once", "second"}));
  log.clear();
  e.emit("go", QVAny());
  EXPECT_EQ(log, (std::vector<std::string>{"second", "late"}));
}

TEST(EventEmitterTest, DeliveryIsSynchronousOnTheEmittingThread) {
  TestEmitter e;
  std::thread::id seen;
  int calls = 0;
  e.addListener("x", [&](const std::string&, const QVAny&) {
    seen = std::this_thread::get_id();
    ++calls;
  });
  std::thread::id emitter;
  int callsWhenEmitReturned = -1;
  std::thread t([&] {
    emitter = std::this_thread::get_id();
    e.emit("x", QVAny());
    callsWhenEmitReturned = calls;
  });
  t.join();
  EXPECT_EQ(callsWhenEmitReturned, 1);
  EXPECT_EQ(seen, emitter);
  EXPECT_NE(seen, std::this_thread::get_id());
}

TEST(EventEmitterTest, ListenersMayEmitAndSubscribeFromInsideADelivery) {
  TestEmitter e;
  std::vector<std::string> log;
  e.addListener("outer", [&](const std::string&, const QVAny& p) {
    log.push_back("outer" + QVAny::convert<std::string>(p));
    e.addListener("inner", [&](const std::string&, const QVAny&) { log.push_back("added inside"); });
    e.emit("inner", QVAny(1));
  });
  e.addListener("inner", [&](const std::string&, const QVAny& p) {
    log.push_back("inner" + QVAny::convert<std::string>(p));
    if (QVAny::convert<int>(p) == 1) e.emit("inner", QVAny(2));  // one level deeper
  });
  e.emit("outer", QVAny(0));
  // The listener added before the inner emissions hears both of them.
  EXPECT_EQ(log, (std::vector<std::string>{"outer0", "inner1", "inner2", "added inside", "added inside"}));
}

// A replaced table stays whole while a delivery reads it, and the emission
// does not free it afterwards either (it may run on the audio thread): the
// next subscribing or unsubscribing call does, once no emission is running.
TEST(EventEmitterTest, ATableReplacedDuringADeliveryIsFreedByTheNextSubscriberNotTheEmission) {
  TestEmitter e;
  auto token = std::make_shared<int>(0);  // owned by the listener's closure
  std::weak_ptr<int> watch = token;
  EventEmitter::ListenerId self = 0;
  long ownersDuringDelivery = 0;
  self = e.addListener("go", [&e, &self, &watch, &ownersDuringDelivery, token](const std::string&, const QVAny&) {
    e.removeListener(self);
    ownersDuringDelivery = watch.use_count();
  });
  token.reset();
  e.emit("go", QVAny());
  EXPECT_EQ(ownersDuringDelivery, 1);  // the table being delivered from
  EXPECT_FALSE(watch.expired()) << "the emission freed the table it delivered from";
  e.addListener("other", [](const std::string&, const QVAny&) {});
  EXPECT_TRUE(watch.expired()) << "the retired table outlived the next subscriber";
}

TEST(EventEmitterTest, DeliveriesOnSeveralThreadsSeeWholeTablesWhileOthersSubscribe) {
  TestEmitter e;
  std::atomic<long> permanentCalls{0}, transientCalls{0};
  e.addListener("tick", [&](const std::string&, const QVAny&) { permanentCalls.fetch_add(1); });
  constexpr int kEmissionsPerThread = 20000;
  std::atomic<bool> emitting{true};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      for (int n = 0; n < kEmissionsPerThread; ++n) e.emit("tick", QVAny());
    });
  }
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      while (emitting.load()) {
        auto id = e.addListener("tick", [&](const std::string&, const QVAny&) { transientCalls.fetch_add(1); });
        std::this_thread::yield();
        e.removeListener(id);
      }
    });
  }
  for (int i : {0, 1}) threads[i].join();  // the emitters
  emitting.store(false);
  for (int i : {2, 3}) threads[i].join();
  // Every delivery reached the listener that was there throughout.
  EXPECT_EQ(permanentCalls.load(), 2L * kEmissionsPerThread);
  e.removeAllListeners();
  e.emit("tick", QVAny());
  EXPECT_EQ(permanentCalls.load(), 2L * kEmissionsPerThread);
}

}  // namespace
