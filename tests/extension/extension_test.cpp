#include <gtest/gtest.h>

#include <memory>

#include <quorvel/Extension.h>
#include <quorvel/NodeFactory.h>

#include "extension/SherpaNodeFactory.h"
#include "fake_engine/FakeEngine.h"
#include "sherpa/SherpaExtension.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

class ExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    ExtensionManager::getInstance().clear();
  }
  void TearDown() override { ExtensionManager::getInstance().clear(); }
};

}  // namespace

TEST_F(ExtensionTest, LoadRegistersOneExtensionThatTheManagerAloneOwns) {
  SherpaExtension::load();
  auto all = ExtensionManager::getInstance().getExtensions();
  ASSERT_EQ(all.size(), 1u);
  std::weak_ptr<Extension> watch = all.front();
  all.clear();
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(watch.use_count(), 1);  // only the manager's copy
  EXPECT_EQ(ExtensionManager::getInstance().unregisterExtension("Sherpa"), 1u);
  EXPECT_TRUE(watch.expired());  // released at once
}

TEST_F(ExtensionTest, EachLoadRegistersAFurtherExtension) {
  SherpaExtension::load();
  SherpaExtension::load();
  auto all = ExtensionManager::getInstance().getExtensions();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_NE(all[0].get(), all[1].get());
}

TEST_F(ExtensionTest, NameAndDefaultLifecycleResults) {
  SherpaExtension::load();
  auto ext = ExtensionManager::getInstance().findExtension("Sherpa");
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(ext->getName(), "Sherpa");
  EXPECT_TRUE(ext->initialize(QVAnyMap{{"anything", QVAny(true)}}).isOk());
  EXPECT_TRUE(ext->deinitialize().isOk());
  EXPECT_FALSE(ext->callAction("anything", {}).isOk());
  EXPECT_EQ(ExtensionManager::getInstance().findExtension("sherpa"), nullptr);
}

TEST_F(ExtensionTest, EveryFactoryRequestYieldsADistinctFactoryThatOutlivesTheExtension) {
  std::shared_ptr<NodeFactory> a;
  std::shared_ptr<NodeFactory> b;
  {
    SherpaExtension ext;
    a = ext.getNodeFactory();
    b = ext.getNodeFactory();
  }
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(a.use_count(), 1);
  EXPECT_EQ(a->getNodeTypes().size(), 1u);
  EXPECT_EQ(b->getNodeTypes().size(), 1u);
}

TEST_F(ExtensionTest, FactoryRecordHoldsTheSixValues) {
  SherpaNodeFactory factory;
  EXPECT_EQ(factory.getFactoryName(), "Sherpa");
  auto types = factory.getNodeTypes();
  ASSERT_EQ(types.size(), 1u);
  const NodeTypeInfo& info = types.front();
  EXPECT_EQ(info.library, "Sherpa");
  EXPECT_EQ(info.type, "TTS");
  EXPECT_EQ(info.displayName, "Sherpa Text-to-Speech");
  EXPECT_EQ(info.description, "A text-to-speech node using the Sherpa library.");
  EXPECT_EQ(info.categories, (std::vector<std::string>{"Voice", "AI"}));
  EXPECT_TRUE(info.metadata.empty());
}

TEST_F(ExtensionTest, CreatesIndependentTextToSpeechNodes) {
  SherpaNodeFactory factory;
  std::unique_ptr<Node> a(factory.createNode("TTS", {}));
  std::unique_ptr<Node> b(factory.createNode("Sherpa.TTS", {}));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(a->getTypeName(), "SherpaTTSNode");
  EXPECT_NE(dynamic_cast<SingleBusAudioSourceNode*>(a.get()), nullptr);
}

TEST_F(ExtensionTest, UnknownTypesRunNoCode) {
  SherpaNodeFactory factory;
  int before = fake_engine::calls().createTts.load();
  for (const char* type : {"STT", "tts", "Sherpa.STT", "", "SherpaTTSNode", "Sherpa TTS"}) {
    EXPECT_EQ(factory.createNode(type, {}), nullptr) << type;
  }
  EXPECT_EQ(fake_engine::calls().createTts.load(), before);
  for (const auto& info : factory.getNodeTypes()) EXPECT_NE(info.type, "STT");
}
