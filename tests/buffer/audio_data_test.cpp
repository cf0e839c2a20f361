// The owning sample block for the three sample types.
#include <gtest/gtest.h>

#include <cstdint>

#include "buffer/AudioData.h"

using quorvel::extensions::sherpa::AudioData;

namespace {

template <typename T>
class AudioDataOfType : public ::testing::Test {};

using SampleTypes = ::testing::Types<int16_t, int32_t, float>;
TYPED_TEST_SUITE(AudioDataOfType, SampleTypes);

}  // namespace

TYPED_TEST(AudioDataOfType, HoldsZeroFilledChannelsOneAfterAnotherInOneBlock) {
  AudioData<TypeParam> data(3, 5);
  EXPECT_EQ(data.getMaxNumberOfChannels(), 3u);
  EXPECT_EQ(data.getMaxNumberOfFrames(), 5u);
  ASSERT_NE(data.getData(), nullptr);
  ASSERT_NE(data.getBuffers(), nullptr);
  for (unsigned c = 0; c < 3; ++c) EXPECT_EQ(data.getBuffers()[c], data.getData() + c * 5) << "channel " << c;
  for (unsigned i = 0; i < 15; ++i) EXPECT_EQ(data.getData()[i], TypeParam{0}) << "sample " << i;
  // Writes through one channel land in that channel's part of the block.
  data.getBuffers()[1][4] = TypeParam{7};
  EXPECT_EQ(data.getData()[1 * 5 + 4], TypeParam{7});
}

TYPED_TEST(AudioDataOfType, OneChannelHasOnePointerToTheStartOfTheBlock) {
  AudioData<TypeParam> data(1, 480000);
  EXPECT_EQ(data.getBuffers()[0], data.getData());
  EXPECT_EQ(data.getData()[0], TypeParam{0});
  EXPECT_EQ(data.getData()[479999], TypeParam{0});
}

#ifndef NDEBUG
TEST(AudioDataDeathTest, ZeroChannelsOrFramesFailTheirAssertions) {
  EXPECT_DEATH({ AudioData<float> data(0, 10); }, "maxNumberOfChannels > 0");
  EXPECT_DEATH({ AudioData<float> data(1, 0); }, "maxNumberOfFrames > 0");
}
#endif
