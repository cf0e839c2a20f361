// Every road by which text reaches the engine asks for speaker 0 at speed
// 1.0: the creation-time text, the "synthesize" action, a streamed piece cut
// at once, and the piece synthesised on the render thread after "finished".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

TEST(TTSGenerationSettings, EveryGenerationAsksForSpeakerZeroAtNormalSpeed) {
  fake_engine::reset();
  fake_engine::knobs().samplesPerText = 320;
  SherpaTTSNode node{QVAnyMap{{"text", QVAny("Created.")}}};
  ASSERT_TRUE(node.callAction("synthesize", QVAnyMap{{"text", QVAny("Asked.")}}).isOk());
  test_kit::TestBlock block(1, 160);
  AudioBus& bus = block.bus();
  const auto append = [&](const char* token) {
    ASSERT_TRUE(node.callAction("appendStreamingText", QVAnyMap{{"token", QVAny(token)}}).isOk());
  };
  for (int i = 0; i < 4; ++i) node.produce(bus);                        // "Asked." plays out
  append("This first sentence is long enough to be cut at once. Then");  // nothing plays now
  node.produce(bus);                                                    // the piece plays
  append(" the second sentence waits until the first one has played out.");
  for (int i = 0; i < 20; ++i) node.produce(bus);

  EXPECT_EQ(fake_engine::generatedTexts(),
            (std::vector<std::string>{"Created.", "Asked.", "This first sentence is long enough to be cut at once.",
                                      "Then the second sentence waits until the first one has played out."}));
  const fake_engine::GenerationSettings speakerZeroNormalSpeed{0, 1.0f};
  EXPECT_EQ(fake_engine::generationSettings(), std::vector<fake_engine::GenerationSettings>(4, speakerZeroNormalSpeed));
  fake_engine::reset();
}
