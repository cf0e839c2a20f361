// AudioRingBuffer<float>: all-or-nothing and partial transfers, capacity
// edges, channel mapping and a two-thread stream checked frame by frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include <quorvel/AudioRingBuffer.h>

#include "support/TestBlock.h"

using namespace quorvel;

namespace {

using Block = test_kit::TestBlock;

// The buffer over the first `frames` frames of `block`.
AudioBuffer<float>& view(Block& block, unsigned frames) {
  block.wrap(frames);
  return block.buffer();
}

TEST(RingBufferTransfer, AllOrNothingMovesNothingWhenTooFewFramesOrTooLittleSpace) {
  AudioRingBuffer<float> ring(8, 1, false);
  Block in(1, 16), out(1, 16);
  in.fillCounter(1);
  EXPECT_EQ(ring.produce(view(in, 9), 9), 0u);  // one over capacity
  EXPECT_EQ(ring.getAvailableFramesToConsume(), 0u);
  EXPECT_EQ(ring.produce(view(in, 5), 5), 5u);
  EXPECT_EQ(ring.produce(view(in, 4), 4), 0u);  // only 3 free
  EXPECT_EQ(ring.getAvailableFramesToProduce(), 3u);
  EXPECT_EQ(ring.consume(view(out, 6), 6), 0u);  // only 5 buffered
  EXPECT_EQ(ring.getAvailableFramesToConsume(), 5u);
  out.fill(-1);
  EXPECT_EQ(ring.consume(view(out, 5), 5), 5u);
  for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(out.at(0, i), 1.0f + static_cast<float>(i));
  EXPECT_EQ(out.at(0, 5), -1.0f);  // nothing written past the frames moved
}

TEST(RingBufferTransfer, PartialMovesWhatFits) {
  AudioRingBuffer<float> ring(8, 1, true);
  Block in(1, 16), out(1, 16);
  in.fillCounter(1);
  EXPECT_EQ(ring.produce(view(in, 5), 5), 5u);
  EXPECT_EQ(ring.produce(view(in, 10), 10), 3u);  // fills to capacity
  EXPECT_EQ(ring.getAvailableFramesToProduce(), 0u);
  EXPECT_EQ(ring.produce(view(in, 1), 1), 0u);
  out.fill(-1);
  EXPECT_EQ(ring.consume(view(out, 16), 16), 8u);
  const float expected[8] = {1, 2, 3, 4, 5, 1, 2, 3};
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(out.at(0, i), expected[i]) << i;
  EXPECT_EQ(out.at(0, 8), -1.0f);
  EXPECT_EQ(ring.consume(view(out, 1), 1), 0u);
}

TEST(RingBufferTransfer, FramesAreCappedByTheBufferLength) {
  for (bool partial : {false, true}) {
    AudioRingBuffer<float> ring(16, 1, partial);
    Block in(1, 4), out(1, 4);
    in.fillCounter(0);
    EXPECT_EQ(ring.produce(view(in, 4), 10), 4u) << partial;
    EXPECT_EQ(ring.consume(view(out, 2), 10), 2u) << partial;
    EXPECT_EQ(ring.getAvailableFramesToConsume(), 2u) << partial;
  }
}

TEST(RingBufferCapacity, ExactlyFullThenOneOverAcrossTheWrap) {
  for (bool partial : {false, true}) {
    SCOPED_TRACE(partial);
    AudioRingBuffer<float> ring(6, 1, partial);
    EXPECT_EQ(ring.getCapacity(), 6u);
    Block in(1, 8), out(1, 8);
    // Move the read/write position off zero so the full block wraps.
    in.fillCounter(100);
    ASSERT_EQ(ring.produce(view(in, 4), 4), 4u);
    ASSERT_EQ(ring.consume(view(out, 4), 4), 4u);
    in.fillCounter(10);
    EXPECT_EQ(ring.produce(view(in, 6), 6), 6u);  // exactly full
    EXPECT_EQ(ring.getAvailableFramesToProduce(), 0u);
    EXPECT_EQ(ring.getAvailableFramesToConsume(), 6u);
    EXPECT_EQ(ring.produce(view(in, 1), 1), 0u);  // one over
    out.fill(-1);
    EXPECT_EQ(ring.consume(view(out, 6), 6), 6u);
    for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(out.at(0, i), 10.0f + static_cast<float>(i)) << i;
    EXPECT_EQ(ring.getAvailableFramesToProduce(), 6u);
    EXPECT_EQ(ring.getAvailableFramesToConsume(), 0u);
  }
}

TEST(RingBufferChannels, ChannelsStaySeparateAndMismatchesAreHandled) {
  AudioRingBuffer<float> ring(32, 3, false);
  EXPECT_EQ(ring.getNumberOfChannels(), 3u);
  Block in3(3, 8), out3(3, 8);
  in3.fillCounter(0);
  ASSERT_EQ(ring.produce(view(in3, 8), 8), 8u);
  out3.fill(-1);
  ASSERT_EQ(ring.consume(view(out3, 8), 8), 8u);
  for (unsigned c = 0; c < 3; ++c)
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(out3.at(c, i), static_cast<float>(i + 1000 * c)) << c << "/" << i;

  // A 5-channel source: the extra channels are ignored.
  Block in5(5, 4);
  in5.fillCounter(50);
  ASSERT_EQ(ring.produce(view(in5, 4), 4), 4u);
  // A 1-channel source: the ring's missing channels are written silent.
  Block in1(1, 4);
  in1.fillCounter(70);
  ASSERT_EQ(ring.produce(view(in1, 4), 4), 4u);
  out3.fill(-1);
  ASSERT_EQ(ring.consume(view(out3, 8), 8), 8u);
  for (unsigned i = 0; i < 4; ++i) {
    for (unsigned c = 0; c < 3; ++c) EXPECT_EQ(out3.at(c, i), 50.0f + static_cast<float>(i + 1000 * c));
    EXPECT_EQ(out3.at(0, 4 + i), 70.0f + static_cast<float>(i));
    for (unsigned c : {1u, 2u}) EXPECT_EQ(out3.at(c, 4 + i), 0.0f) << c << "/" << i;
  }

  // A 4-channel destination: its extra channel is left untouched.
  ASSERT_EQ(ring.produce(view(in3, 2), 2), 2u);
  Block out4(4, 2);
  out4.fill(-7);
  ASSERT_EQ(ring.consume(view(out4, 2), 2), 2u);
  EXPECT_EQ(out4.at(2, 1), 1.0f + 2000.0f);
  for (unsigned i : {0u, 1u}) EXPECT_EQ(out4.at(3, i), -7.0f) << i;
}

// Producer and consumer threads move a running counter (channel 1 carries
// its negation) in random block sizes; the consumer checks every frame, so
// a lost, doubled or reordered frame, or a torn channel, is found.
void streamCounter(bool allowPartial, unsigned capacity, uint64_t total) {
  AudioRingBuffer<float> ring(capacity, 2, allowPartial);
  const unsigned maxBlock = allowPartial ? capacity + capacity / 2 : capacity / 2;
  std::thread producer([&] {
    std::mt19937 rng(1);
    std::uniform_int_distribution<unsigned> size(1, maxBlock);
    Block block(2, maxBlock);
    uint64_t next = 0;
    while (next < total) {
      unsigned n = static_cast<unsigned>(std::min<uint64_t>(size(rng), total - next));
      for (unsigned i = 0; i < n; ++i) {
        block.channel(0)[i] = static_cast<float>(next + i);
        block.channel(1)[i] = -static_cast<float>(next + i);
      }
      unsigned moved = 0;
      while (moved == 0) {
        moved = ring.produce(view(block, n), n);
        if (moved == 0) std::this_thread::yield();
      }
      next += moved;  // a partial produce resends the rest next round
    }
  });

  std::mt19937 rng(2);
  std::uniform_int_distribution<unsigned> size(1, maxBlock);
  Block block(2, maxBlock);
  uint64_t expected = 0, errors = 0, emptyPolls = 0;
  while (expected < total) {
    unsigned n = static_cast<unsigned>(std::min<uint64_t>(size(rng), total - expected));
    unsigned moved = ring.consume(view(block, n), n);
    if (moved == 0) {
      ++emptyPolls;
      std::this_thread::yield();
      continue;
    }
    if (!allowPartial && moved != n) ++errors;
    for (unsigned i = 0; i < moved; ++i) {
      float want = static_cast<float>(expected + i);
      if (block.at(0, i) != want || block.at(1, i) != -want) ++errors;
    }
    expected += moved;
  }
  producer.join();
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(expected, total);
  EXPECT_EQ(ring.getAvailableFramesToConsume(), 0u);
  EXPECT_EQ(ring.getAvailableFramesToProduce(), capacity);
}

// Floats hold every integer below 2^24 exactly; both streams stay below.
constexpr uint64_t kStreamFrames = 10'000'000;
static_assert(kStreamFrames < (1u << 24));

TEST(RingBufferThreads, TenMillionFramesArriveOnceAndInOrderWithAllOrNothing) {
  streamCounter(false, 4096, kStreamFrames);
}

TEST(RingBufferThreads, TenMillionFramesArriveOnceAndInOrderWithPartialTransfers) {
  streamCounter(true, 3000, kStreamFrames);
}

}  // namespace
