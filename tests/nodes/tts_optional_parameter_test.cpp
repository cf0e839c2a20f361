// The speech node's one optional action parameter, "isFinal" of
// "appendStreamingText": absent and empty mean "not final", scalars convert
// by the host's rule, and only a map is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/LogCapture.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using Texts = std::vector<std::string>;

namespace {

class OptionalIsFinal : public ::testing::Test {
 protected:
  void SetUp() override { fake_engine::reset(); }
  void TearDown() override { fake_engine::reset(); }

  // Appends a token without a break: held unless the call is final.
  static Result<QVAny> append(SherpaTTSNode& node, const QVAnyMap& params) {
    return node.callAction("appendStreamingText", params);
  }
};

}  // namespace

TEST_F(OptionalIsFinal, AbsentAndEmptyHoldTheTokenAndAFinalOneFlushes) {
  SherpaTTSNode node{QVAnyMap()};
  ASSERT_TRUE(append(node, QVAnyMap{{"token", QVAny("Hello")}}).isOk());
  ASSERT_TRUE(append(node, QVAnyMap{{"token", QVAny(" there")}, {"isFinal", QVAny()}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{});
  ASSERT_TRUE(append(node, QVAnyMap{{"token", QVAny(" you")}, {"isFinal", QVAny(1)}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Hello there you"});
}

TEST_F(OptionalIsFinal, AMapIsRefusedByNameAndLeavesTheBufferAlone) {
  SherpaTTSNode node{QVAnyMap()};
  testing_support::LogCapture log;
  const Result<QVAny> r =
      append(node, QVAnyMap{{"token", QVAny("Hello")}, {"isFinal", QVAny(QVAnyMap{{"x", QVAny(true)}})}});
  ASSERT_FALSE(r.isOk());
  EXPECT_EQ(r.error(), "Wrong type for parameter: isFinal (object, expected boolean)");
  EXPECT_EQ(log.lines(), (Texts{"[SherpaTTSNode] Action 'appendStreamingText' refused: " + r.error()}));
  ASSERT_TRUE(append(node, QVAnyMap{{"token", QVAny("Bye")}, {"isFinal", QVAny(true)}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Bye"});
}
