// The framework's value, object, factory, extension, node, logger and bus
// types, each against its documented behaviour (events: event_emitter_test).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Extension.h>
#include <quorvel/Logger.h>
#include <quorvel/Node.h>
#include <quorvel/NodeFactory.h>
#include <quorvel/QVAny.h>
#include <quorvel/QuorvelObject.h>
#include <quorvel/Result.h>

#include "support/LogCapture.h"

using namespace quorvel;

namespace {

QVAnyMap sampleMap() { return QVAnyMap{{"k", QVAny(1)}}; }

// convert<T> of each row's value gives the row's result; a failure names the row.
template <typename T>
void expectConversions(const std::vector<std::pair<QVAny, T>>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(QVAny::convert<T>(rows[i].first), rows[i].second) << i;
}

TEST(QVAnyConvert, ToBool) {
  expectConversions<bool>({{true, true}, {false, false}, {-3, true}, {0, false}, {0.25, true}, {0.0, false},
                           {"true", true}, {"1", true}, {"True", false}, {"TRUE", false}, {"yes", false}, {"0", false},
                           {"", false}, {"11", false}, {" true", false}, {QVAny(), false}, {sampleMap(), false}});
}

TEST(QVAnyConvert, ToString) {
  expectConversions<std::string>({{"text", "text"}, {true, "true"}, {false, "false"}, {-42, "-42"},
                                  {int64_t{9007199254740993}, "9007199254740993"}, {2.5, "2.5"}, {0.1, "0.1"},
                                  {QVAny(), ""}, {sampleMap(), ""}});
  // Shortest form that reads back as the same double.
  for (double d : {1.0 / 3.0, 1e300, -2.2250738585072014e-308, 123456.789}) {
    std::string s = QVAny::convert<std::string>(QVAny(d));
    EXPECT_EQ(std::stod(s), d) << s;
    EXPECT_LE(s.size(), 24u) << s;
  }
}

TEST(QVAnyConvert, ToIntegers) {
  const int64_t max64 = std::numeric_limits<int64_t>::max(), min64 = std::numeric_limits<int64_t>::min();
  expectConversions<int64_t>({{int64_t{1} << 40, int64_t{1} << 40}, {true, 1}, {false, 0}, {2.9, 2}, {-2.9, -2},
                              {std::nan(""), 0}, {1e300, max64}, {-1e300, min64}, {"42", 42}, {"-12 apples", -12},
                              {"3.9", 3}, {"abc", 0}, {"", 0}, {QVAny(), 0}, {sampleMap(), 0}});
  expectConversions<int>({{int64_t{1} << 40, std::numeric_limits<int>::max()},
                          {-(int64_t{1} << 40), std::numeric_limits<int>::min()},
                          {1e300, std::numeric_limits<int>::max()}, {-7, -7}, {"77", 77}});
}

TEST(QVAnyConvert, ToFloatingPoint) {
  expectConversions<double>({{0.125, 0.125}, {-3, -3.0}, {true, 1.0}, {false, 0.0}, {"2.5", 2.5}, {"1e3", 1000.0},
                             {"nope", 0.0}, {QVAny(), 0.0}, {sampleMap(), 0.0}});
  expectConversions<float>({{0.25f, 0.25f}, {4, 4.0f}, {"-1.5", -1.5f}});
}

TEST(QVAnyConvert, ToMap) {
  EXPECT_EQ(QVAny::convert<QVAnyMap>(QVAny(sampleMap())), sampleMap());
  for (const QVAny& v : {QVAny(), QVAny(1), QVAny("x"), QVAny(true), QVAny(1.5)}) EXPECT_TRUE(QVAny::convert<QVAnyMap>(v).empty());
}

TEST(QVAnyValue, ConstructorsHoldTheMatchingType) {
  using T = QVAny::Type;
  const std::pair<QVAny, T> rows[] = {{QVAny(), T::Empty}, {true, T::Bool},    {3, T::Int},
                                      {int64_t{3}, T::Int}, {3.0, T::Float},    {3.0f, T::Float},
                                      {"s", T::String},     {std::string("s"), T::String},
                                      {QVAnyMap(), T::Map}};
  for (const auto& [value, type] : rows) EXPECT_EQ(value.type(), type) << typeName(type);
  EXPECT_TRUE(QVAny().isEmpty());
  const char* none = nullptr;
  ASSERT_NE(QVAny(none).asString(), nullptr);
  EXPECT_EQ(*QVAny(none).asString(), "");
  EXPECT_EQ(QVAny(3).asString(), nullptr);
  EXPECT_EQ(*QVAny(3).asInt(), 3);
  EXPECT_NE(QVAny(1), QVAny(1.0));  // different held types
  EXPECT_STREQ(typeName(QVAny::Type::Bool), "boolean");
  EXPECT_STREQ(typeName(QVAny::Type::Map), "object");
  EXPECT_STREQ(typeName(QVAny::Type::Float), "float");
}

TEST(QVAnyMapTest, IteratesInKeyOrderAndMissingKeysAreEmpty) {
  QVAnyMap m;
  for (const char* k : {"delta", "alpha", "charlie", "bravo"}) m.set(k, QVAny(k));
  std::vector<std::string> keys;
  for (const auto& [k, v] : m) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
  EXPECT_TRUE(m.at("missing").isEmpty());
  EXPECT_FALSE(m.hasKey("missing"));
  EXPECT_TRUE(m.hasKey("alpha"));
  m.set("alpha", QVAny(5));  // replaces
  EXPECT_EQ(m.at("alpha"), QVAny(5));
  EXPECT_EQ(m.size(), 4u);
  EXPECT_TRUE(m.erase("alpha"));
  EXPECT_FALSE(m.erase("alpha"));
  EXPECT_EQ(m.size(), 3u);
}

TEST(QVAnyMapTest, CopiesAreDeep) {
  QVAnyMap inner{{"x", QVAny(1)}};
  QVAnyMap outer{{"inner", QVAny(inner)}, {"name", QVAny("a")}};
  QVAnyMap copy = outer;
  QVAnyMap changed = QVAny::convert<QVAnyMap>(copy.at("inner"));
  changed.set("x", QVAny(2));
  copy.set("inner", QVAny(changed));
  copy.set("name", QVAny("b"));
  EXPECT_EQ(QVAny::convert<int>(QVAny::convert<QVAnyMap>(outer.at("inner")).at("x")), 1);
  EXPECT_EQ(QVAny::convert<std::string>(outer.at("name")), "a");
  EXPECT_FALSE(copy == outer);

  QVAny holder(outer);
  QVAny holderCopy = holder;
  outer.set("name", QVAny("c"));
  EXPECT_EQ(QVAny::convert<std::string>(holderCopy.asMap()->at("name")), "a");
  EXPECT_EQ(holder, holderCopy);

  QVAnyMap assigned;
  assigned = copy;
  copy.erase("name");
  EXPECT_TRUE(assigned.hasKey("name"));
}

// An empty map holds no storage until its first entry (see QVAny.h); copies
// of one, and copies into one, still behave as independent maps.
TEST(QVAnyMapTest, EmptyMapsCopyAssignAndFillIndependently) {
  const QVAnyMap empty;
  QVAnyMap copy = empty;
  copy.set("k", QVAny(1));
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(copy.size(), 1u);
  EXPECT_TRUE(QVAnyMap{} == empty);
  EXPECT_TRUE((QVAnyMap{{"k", QVAny(1)}} == copy));

  QVAnyMap full{{"a", QVAny(1)}, {"b", QVAny(2)}};
  full = empty;
  EXPECT_TRUE(full.empty());
  EXPECT_EQ(full.begin(), full.end());
  full.set("c", QVAny(3));
  EXPECT_EQ(full.size(), 1u);
  EXPECT_TRUE(empty.empty());

  QVAny holder{QVAnyMap()};
  ASSERT_NE(holder.asMap(), nullptr);
  EXPECT_TRUE(holder.asMap()->empty());
  EXPECT_EQ(holder, QVAny(QVAnyMap{}));
}

TEST(ResultTest, SuccessAndFailure) {
  Result<int> ok = Result<int>::success(7);
  EXPECT_TRUE(ok.isOk());
  EXPECT_TRUE(static_cast<bool>(ok));
  EXPECT_EQ(ok.value(), 7);
  EXPECT_TRUE(ok.error().empty());
  Result<int> implicitOk = 9;
  EXPECT_EQ(implicitOk.value(), 9);
  Result<int> bad = Result<int>::failure("broken");
  EXPECT_FALSE(bad.isOk());
  EXPECT_FALSE(static_cast<bool>(bad));
  EXPECT_EQ(bad.error(), "broken");

  EXPECT_TRUE(Result<void>::success().isOk());
  EXPECT_TRUE(Result<void>().isOk());
  Result<void> v = Result<void>::failure("no");
  EXPECT_FALSE(static_cast<bool>(v));
  EXPECT_EQ(v.error(), "no");
}

class TestObject : public QuorvelObject {
 public:
  TestObject() {
    registerAction("speak", {{"description", QVAny("first")}});
    registerAction("stop", {{"description", QVAny("halt")}});
    registerAction("speak", {{"description", QVAny("replaced")}});
    registerEvent("finished", {{"name", QVAny("finished")}});
    registerEvent("error", {{"name", QVAny("error")}});
  }
};

TEST(QuorvelObjectTest, RegistrationsAreListedInOrderAndReplacedInPlace) {
  TestObject o;
  ASSERT_EQ(o.getActions().size(), 2u);
  EXPECT_EQ(o.getActions()[0].first, "speak");
  EXPECT_EQ(QVAny::convert<std::string>(o.getActions()[0].second.at("description")), "replaced");
  EXPECT_EQ(o.getActions()[1].first, "stop");
  ASSERT_EQ(o.getEvents().size(), 2u);
  EXPECT_EQ(o.getEvents()[0].first, "finished");
  EXPECT_EQ(o.getEvents()[1].first, "error");
}

TEST(QuorvelObjectTest, DefaultAccessorsNameTheUnknownKey) {
  TestObject o;
  auto expectFailure = [](const auto& result, const std::string& error) {
    EXPECT_FALSE(result.isOk());
    EXPECT_EQ(result.error(), error);
  };
  expectFailure(o.setValue("volume", QVAny(1)), "Unknown value: volume");
  expectFailure(o.getValue("pitch"), "Unknown value: pitch");
  expectFailure(o.callAction("speak", {}), "Unknown action: speak");  // registered, but not handled by the base
}

class TestNode : public Node {
 public:
  explicit TestNode(std::string config) : config(std::move(config)) { typeName = "TestNode"; }
  std::string config;
};

class TestFactory : public NodeFactory {
 public:
  int created = 0;
  void add(const NodeTypeInfo& info) {
    registerNode(info, [this](const QVAnyMap& config) -> Node* {
      ++created;
      return new TestNode(QVAny::convert<std::string>(config.at("voice")));
    });
  }
};

TEST(NodeFactoryTest, RegisterCopiesTheRecordAndCreateAcceptsBothNameForms) {
  TestFactory f;
  auto info = std::make_unique<NodeTypeInfo>();
  info->library = "Lib";
  info->type = "TTS";
  info->displayName = "Speech";
  info->categories = {"Voice", "AI"};
  info->metadata.set("version", QVAny(2));
  f.add(*info);
  info->type = "Changed";
  info->library = "Other";
  info->categories.clear();
  info.reset();

  auto types = f.getNodeTypes();
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].type, "TTS");
  EXPECT_EQ(types[0].library, "Lib");
  EXPECT_EQ(types[0].displayName, "Speech");
  EXPECT_EQ(types[0].categories, (std::vector<std::string>{"Voice", "AI"}));
  EXPECT_EQ(types[0].metadata.at("version"), QVAny(2));

  for (const char* name : {"TTS", "Lib.TTS"}) {
    std::unique_ptr<Node> node(f.createNode(name, {{"voice", QVAny("anna")}}));
    ASSERT_NE(node, nullptr) << name;
    EXPECT_EQ(node->getTypeName(), "TestNode");
    EXPECT_EQ(static_cast<TestNode*>(node.get())->config, "anna");
  }
  EXPECT_EQ(f.created, 2);
  for (const char* name : {"Changed", "Other.TTS", "Lib.Changed", "lib.TTS", "tts", "TTS.Lib", "Lib.", ".TTS", ""}) {
    EXPECT_EQ(f.createNode(name, {}), nullptr) << name;
  }
  EXPECT_EQ(f.created, 2);  // no creator ran for unknown names
}

class NamedExtension : public Extension {
 public:
  explicit NamedExtension(std::string name) : name_(std::move(name)) {}
  std::string getName() override { return name_; }

 private:
  std::string name_;
};

class ExtensionManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ExtensionManager::getInstance().clear(); }
  void TearDown() override { ExtensionManager::getInstance().clear(); }
};

TEST_F(ExtensionManagerTest, RegisterFindListUnregister) {
  ExtensionManager& m = ExtensionManager::getInstance();
  auto a1 = std::make_shared<NamedExtension>("A");
  auto b = std::make_shared<NamedExtension>("B");
  auto a2 = std::make_shared<NamedExtension>("A");
  for (const auto& e : std::vector<std::shared_ptr<Extension>>{a1, nullptr, b, a2}) m.registerExtension(e);
  auto all = m.getExtensions();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all, (std::vector<std::shared_ptr<Extension>>{a1, b, a2}));
  EXPECT_EQ(m.findExtension("A"), a1);  // earliest of that name
  EXPECT_EQ(m.findExtension("B"), b);
  EXPECT_EQ(m.findExtension("C"), nullptr);

  std::weak_ptr<Extension> watch = a1;
  a1.reset();
  a2.reset();
  all.clear();
  EXPECT_EQ(m.unregisterExtension("A"), 2u);
  EXPECT_TRUE(watch.expired());  // the manager held the last reference
  EXPECT_EQ(m.unregisterExtension("A"), 0u);
  EXPECT_EQ(m.findExtension("A"), nullptr);
  ASSERT_EQ(m.getExtensions().size(), 1u);
  m.clear();
  EXPECT_TRUE(m.getExtensions().empty());
}

TEST_F(ExtensionManagerTest, DefaultExtensionSucceedsAndHasNoFactory) {
  Extension e;
  EXPECT_TRUE(e.initialize({}).isOk());
  EXPECT_TRUE(e.deinitialize().isOk());
  EXPECT_EQ(e.getName(), "");
  EXPECT_EQ(e.getNodeFactory(), nullptr);
}

// A single-bus node that records the formats and buffers it is handed.
template <typename Base>
class Recording : public Base {
 public:
  bool setBusFormat(AudioBusFormat& format) override {
    formats.push_back(format.sampleRate);
    return format.sampleRate > 0;
  }
  bool handle(AudioBus& bus) {
    buffers.push_back(bus.getBuffer());
    return answer;
  }
  std::vector<int> formats;
  std::vector<AudioBuffer<float>*> buffers;
  bool answer = true;
};

class RecordingSource : public Recording<SingleBusAudioSourceNode> {
 public:
  using SingleBusAudioSourceNode::produce;
  bool produce(AudioBus& bus) override { return handle(bus); }
};

class RecordingSink : public Recording<SingleBusAudioSinkNode> {
 public:
  using SingleBusAudioSinkNode::consume;
  bool consume(AudioBus& bus) override { return handle(bus); }
};

template <typename NodeT, typename Call>
void checkListForwarding(Call call) {
  NodeT node;
  AudioBusFormatList formats{{22050, 1}, {48000, 2}};
  EXPECT_TRUE(node.setBusFormats(formats));
  AudioBusFormatList bad{{0, 1}, {48000, 2}};
  EXPECT_FALSE(node.setBusFormats(bad));  // the single form's answer
  AudioBusFormatList none;
  EXPECT_FALSE(node.setBusFormats(none));
  EXPECT_EQ(node.formats, (std::vector<int>{22050, 0}));  // first format only; none for an empty list

  float samples[4] = {1, 2, 3, 4};
  float* ptrs[1] = {samples};
  AudioBuffer<float> buffer(1, 4, false, 48000, ptrs);
  AudioBusArray<2> buses;
  buses.getBus(0)->setBuffer(&buffer);
  EXPECT_TRUE(call(node, buses));
  node.answer = false;
  EXPECT_FALSE(call(node, buses));
  node.answer = true;
  AudioBusArray<0> empty;
  EXPECT_FALSE(call(node, empty));
  AudioBusArray<1> noBuffer;
  EXPECT_FALSE(call(node, noBuffer));
  EXPECT_EQ(node.buffers, (std::vector<AudioBuffer<float>*>{&buffer, &buffer}));
}

TEST(SingleBusNodes, ListFormsForwardToTheFirstBusAndFormat) {
  checkListForwarding<RecordingSource>([](RecordingSource& n, AudioBusList& l) { return n.produce(l); });
  checkListForwarding<RecordingSink>([](RecordingSink& n, AudioBusList& l) { return n.consume(l); });
}

TEST(SingleBusNodes, DefaultsAndDisplayName) {
  SingleBusAudioSourceNode source;
  float samples[3] = {1, 2, 3};
  float* ptrs[1] = {samples};
  AudioBuffer<float> buffer(1, 3, false, 16000, ptrs);
  AudioBus bus(&buffer);
  EXPECT_TRUE(source.produce(bus));  // the default source renders silence
  EXPECT_EQ(samples[0], 0.0f);
  EXPECT_EQ(samples[2], 0.0f);
  EXPECT_EQ(source.getDisplayName(), "AudioNode");
  TestNode typed("x");
  EXPECT_EQ(typed.getTypeName(), "TestNode");

  AudioSourceNode plainSource;
  AudioSinkNode plainSink;
  AudioBusArray<1> buses;
  AudioBusFormatList formats{{48000, 1}};
  EXPECT_FALSE(plainSource.setBusFormats(formats));
  EXPECT_FALSE(plainSource.produce(buses));
  EXPECT_FALSE(plainSink.setBusFormats(formats));
  EXPECT_FALSE(plainSink.consume(buses));
}

TEST(LoggerTest, ThresholdFiltersBeforeTheSink) {
  testing_support::LogCapture capture(LogLevel::Warning);
  Logger::error("e");
  Logger::warning("w");
  Logger::info("i");
  Logger::debug("d");
  Logger::trace("t");
  Logger::log(LogLevel::None, "never");
  auto entries = capture.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries, (std::vector<std::pair<LogLevel, std::string>>{{LogLevel::Error, "e"}, {LogLevel::Warning, "w"}}));

  capture.clear();
  Logger::setLevel(LogLevel::Trace);
  Logger::trace("t2");
  Logger::setLevel(LogLevel::None);
  Logger::error("silenced");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"t2"}));
}

TEST(LoggerTest, DefaultSinkWritesLevelAndLineToStandardError) {
  LogLevel previous = Logger::getLevel();
  Logger::setSink(nullptr);
  Logger::setLevel(LogLevel::Info);
  ::testing::internal::CaptureStderr();
  Logger::warning("disk low");
  Logger::debug("hidden");
  std::string err = ::testing::internal::GetCapturedStderr();
  Logger::setLevel(previous);
  EXPECT_EQ(err, "[warning] disk low\n");
}

TEST(LoggerTest, LevelNamesRoundTrip) {
  for (LogLevel l : {LogLevel::None, LogLevel::Error, LogLevel::Warning, LogLevel::Info, LogLevel::Debug, LogLevel::Trace}) {
    LogLevel parsed = l == LogLevel::None ? LogLevel::Trace : LogLevel::None;
    EXPECT_TRUE(Logger::parseLevel(Logger::levelName(l), parsed));
    EXPECT_EQ(parsed, l);
  }
  EXPECT_STREQ(Logger::levelName(LogLevel::Warning), "warning");
  LogLevel untouched = LogLevel::Debug;
  EXPECT_FALSE(Logger::parseLevel("Warning", untouched));
  EXPECT_FALSE(Logger::parseLevel("verbose", untouched));
  EXPECT_EQ(untouched, LogLevel::Debug);
}

TEST(AudioBusTest, ClearZeroesEveryChannelAndFrame) {
  float a[5] = {1, 2, 3, 4, 5}, b[5] = {6, 7, 8, 9, 10};
  float* ptrs[2] = {a, b};
  AudioBuffer<float> buffer(2, 4, false, 48000, ptrs);
  EXPECT_EQ(a[0], 1.0f);  // clearOnWrap false keeps the contents
  AudioBus bus(&buffer);
  bus.clear();
  EXPECT_EQ(std::vector<float>(a, a + 5), (std::vector<float>{0, 0, 0, 0, 5}));  // a[4] is beyond the buffer's frames
  EXPECT_EQ(std::vector<float>(b, b + 4), std::vector<float>(4, 0.0f));
  AudioBus empty;
  empty.clear();
  EXPECT_EQ(empty.getBuffer(), nullptr);

  float c[2] = {1, 1};
  float* cp[1] = {c};
  AudioBuffer<float> cleared(1, 2, true, 8000, cp);
  EXPECT_EQ(std::vector<float>(c, c + 2), std::vector<float>(2, 0.0f));
}

TEST(AudioBusTest, BusListsAndBufferAccessors) {
  AudioBusArray<0> none;
  EXPECT_EQ(none.getNumberOfBuses(), 0u);
  EXPECT_EQ(none.getBus(0), nullptr);
  AudioBusArray<2> two;
  EXPECT_EQ(two.getNumberOfBuses(), 2u);
  EXPECT_NE(two.getBus(1), nullptr);
  EXPECT_NE(two.getBus(0), two.getBus(1));
  EXPECT_EQ(two.getBus(2), nullptr);
  EXPECT_EQ(two.getBus(0)->getBuffer(), nullptr);

  std::vector<std::vector<float>> data(20, std::vector<float>(2));
  std::vector<float*> ptrs;
  for (auto& d : data) ptrs.push_back(d.data());
  AudioBuffer<float> wide(20, 2, false, 44100, ptrs.data());
  EXPECT_EQ(wide.getNumberOfChannels(), AudioBuffer<float>::kMaxChannels);
  EXPECT_EQ(wide.getWritePointer(15), data[15].data());
  EXPECT_EQ(wide.getWritePointer(16), nullptr);
  EXPECT_EQ(wide.getReadPointer(16), nullptr);
  EXPECT_EQ(wide.getSampleRate(), 44100);
  wide.setSampleRate(8000);
  EXPECT_EQ(wide.getSampleRate(), 8000);
  EXPECT_EQ(wide.getNumberOfFrames(), 2u);
}

}  // namespace
