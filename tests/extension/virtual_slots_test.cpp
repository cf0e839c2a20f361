// The order of the virtual slots of the library's classes and of the host
// bases they derive from. A host built against the closed framework's
// headers calls through these slots, so a declaration out of place (or one
// too many) in a base shifts every later slot of the node.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include <quorvel/Extension.h>
#include <quorvel/Node.h>
#include <quorvel/NodeFactory.h>

#include "extension/SherpaNodeFactory.h"
#include "sherpa/SherpaExtension.h"
#include "stt/SherpaSTTNode.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

// Itanium C++ ABI (gcc and clang on Linux): a pointer to a virtual member
// function holds one plus the byte offset of its slot in the vtable. The
// two destructor entries take slots 0 and 1.
template <typename Member>
long slotOf(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
  std::ptrdiff_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  if ((raw[0] & 1) == 0) return -1;  // not virtual
  return static_cast<long>((raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}

// The list forms are named through the single-bus base: a node's own
// override of the bus form hides them.
template <typename Node>
std::vector<long> sinkSlots() {
  return {slotOf(&Node::setValue),
          slotOf(&Node::getValue),
          slotOf(&Node::callAction),
          slotOf(&Node::getDisplayName),
          slotOf(&Node::setBusFormats),
          slotOf(static_cast<bool (SingleBusAudioSinkNode::*)(AudioBusList&)>(&SingleBusAudioSinkNode::consume)),
          slotOf(&Node::setBusFormat),
          slotOf(static_cast<bool (Node::*)(AudioBus&)>(&Node::consume))};
}

template <typename Node>
std::vector<long> sourceSlots() {
  return {slotOf(&Node::setValue),
          slotOf(&Node::getValue),
          slotOf(&Node::callAction),
          slotOf(&Node::getDisplayName),
          slotOf(&Node::setBusFormats),
          slotOf(static_cast<bool (SingleBusAudioSourceNode::*)(AudioBusList&)>(&SingleBusAudioSourceNode::produce)),
          slotOf(&Node::setBusFormat),
          slotOf(static_cast<bool (Node::*)(AudioBus&)>(&Node::produce))};
}

const std::vector<long> kAfterTheDestructors = {2, 3, 4, 5, 6, 7, 8, 9};

}  // namespace

TEST(VirtualSlots, SinkNodesRunDestructorObjectOperationsDisplayNameFormatsThenTheirIntake) {
  EXPECT_EQ(sinkSlots<SingleBusAudioSinkNode>(), kAfterTheDestructors);
  EXPECT_EQ(sinkSlots<SherpaSTTNode>(), kAfterTheDestructors);
}

TEST(VirtualSlots, SourceNodesFollowTheSameOrderWithProduce) {
  EXPECT_EQ(sourceSlots<SingleBusAudioSourceNode>(), kAfterTheDestructors);
  EXPECT_EQ(sourceSlots<SherpaTTSNode>(), kAfterTheDestructors);
}

TEST(VirtualSlots, ExtensionAndFactory) {
  EXPECT_EQ((std::vector<long>{slotOf(&SherpaExtension::setValue), slotOf(&SherpaExtension::getValue),
                               slotOf(&SherpaExtension::callAction), slotOf(&SherpaExtension::initialize),
                               slotOf(&SherpaExtension::deinitialize), slotOf(&SherpaExtension::getName),
                               slotOf(&SherpaExtension::getNodeFactory)}),
            (std::vector<long>{2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ((std::vector<long>{slotOf(&SherpaNodeFactory::getFactoryName), slotOf(&SherpaNodeFactory::getNodeTypes),
                               slotOf(&SherpaNodeFactory::createNode)}),
            (std::vector<long>{2, 3, 4}));
}
