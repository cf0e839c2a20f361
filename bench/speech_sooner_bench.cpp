// Speech sooner, and the engine off the audio thread, measured with the
// voice that costs what a real voice costs (the demonstration voice when
// that one is not generated):
//  - first audio of "synthesize" for 1, 3 and 10 sentences: the node (a
//    render thread at real time, 48000 Hz stereo, 10 ms blocks) against the
//    engine's own time to its first sentence and to the whole text (when a
//    node that publishes whole texts could first play);
//  - a streamed answer of about 1 kB at 100 tokens per second of audio time,
//    its final token sent while the first piece plays (and at 10 tokens per
//    second, slower than the voice speaks, so that pieces end before the
//    next is complete), with and without
//    "prepareAhead": the worst produce call, the generations on the audio
//    thread, the blocks in which nothing played between two pieces, and
//    whether every piece was heard to its end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "engine/EngineConfig.h"
#include "models/ModelPaths.h"
#include "support/StreamedAnswer.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using Clock = std::chrono::steady_clock;

namespace bench {

namespace {

constexpr int kRate = 48000;
constexpr unsigned kFrames = 480;
constexpr float kThreshold = 1e-3f;


std::string sentences(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (i > 0) text += ' ';
    text += benchSentences()[static_cast<size_t>(i) % benchSentences().size()];
  }
  return text;
}

double msSince(Clock::time_point t0, Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(t - t0).count();
}

// The engine alone on the chosen voice.
struct Engine {
  explicit Engine(const VoiceFiles& voice) : files(voice), config(voice.model, voice.tokens, voice.dataDir) {
    tts = SherpaOnnxCreateOfflineTts(&config.record());
  }
  ~Engine() {
    if (tts) SherpaOnnxDestroyOfflineTts(tts);
  }
  // Milliseconds to the first sentence's samples (the generation stops there).
  double firstCallbackMs(const std::string& text) const {
    const auto t0 = Clock::now();
    auto stopAtFirst = [](const float*, int32_t, void*) -> int32_t { return 0; };
    const SherpaOnnxGeneratedAudio* audio =
        SherpaOnnxOfflineTtsGenerateWithCallbackWithArg(tts, text.c_str(), 0, 1.0f, stopAtFirst, nullptr);
    const double ms = msSince(t0, Clock::now());
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return ms;
  }
  // Milliseconds of near-silence the text's audio begins with.
  double leadingQuietMs(const std::string& text) const {
    const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts, text.c_str(), 0, 1.0f);
    int32_t quiet = 0;
    while (audio && quiet < audio->n && std::fabs(audio->samples[quiet]) < kThreshold) ++quiet;
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return 1000.0 * quiet / 16000.0;
  }
  // Milliseconds for the whole text, and its audio's length in seconds.
  double wholeMs(const std::string& text, double* seconds = nullptr) const {
    const auto t0 = Clock::now();
    const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts, text.c_str(), 0, 1.0f);
    const double ms = msSince(t0, Clock::now());
    if (seconds && audio) *seconds = audio->n / 16000.0;
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return ms;
  }
  VoiceFiles files;
  VoiceConfig config;
  const SherpaOnnxOfflineTts* tts = nullptr;
};

// A render thread at `speedup` times real time; notes when sound first comes
// after `armed`, the worst produce call, and the blocks in which nothing
// played between the first piece and the end.
class Renderer {
 public:
  Renderer(SherpaTTSNode& node, int speedup) : node_(node), speedup_(speedup), block_(2, kFrames, kRate) {
    thread_ = std::thread([this] { run(); });
  }
  ~Renderer() {
    stop_.store(true);
    thread_.join();
  }
  void arm(Clock::time_point t0) {
    t0_ = t0;
    firstSoundMs_.store(-1);
    armed_.store(true);
  }
  double firstSoundMs() const { return firstSoundMs_.load(); }
  double worstProduceMicros() const { return worstMicros_.load(); }
  long idleBlocksBetweenPieces() const { return idleBetween_.load(); }
  long blocks() const { return blocks_.load(); }

 private:
  void run() {
    const auto period = std::chrono::microseconds(10000 / speedup_);
    auto next = Clock::now();
    auto& state = node_.internalsForTesting();
    bool started = false;
    long idleRun = 0;
    while (!stop_.load()) {
      const auto blockStart = Clock::now();
      GeneratedAudioItem* before = state.currentItem.load();
      const int32_t positionBefore = before ? before->readPosition.load() : 0;
      node_.produce(block_.bus());
      const double micros = std::chrono::duration<double, std::micro>(Clock::now() - blockStart).count();
      if (micros > worstMicros_.load()) worstMicros_.store(micros);
      // Was anything read this block? (The item may have changed.)
      GeneratedAudioItem* after = state.currentItem.load();
      const bool played = after != nullptr && (after != before || after->readPosition.load() != positionBefore);
      if (played) {
        if (started) idleBetween_.fetch_add(idleRun);
        started = true;
        idleRun = 0;
      } else if (started) {
        ++idleRun;  // counted only if another piece follows
      }
      if (armed_.load()) {
        const float* out = block_.channel(0);
        for (unsigned i = 0; i < kFrames; ++i) {
          if (std::fabs(out[i]) >= kThreshold) {
            // The sample is heard i frames into a block that starts playing now.
            firstSoundMs_.store(msSince(t0_, blockStart) + 1000.0 * i / kRate);
            armed_.store(false);
            break;
          }
        }
      }
      blocks_.fetch_add(1);
      next += period;
      std::this_thread::sleep_until(next);
    }
  }

  SherpaTTSNode& node_;
  int speedup_;
  Block block_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> armed_{false};
  Clock::time_point t0_;
  std::atomic<double> firstSoundMs_{-1};
  std::atomic<double> worstMicros_{0};
  std::atomic<long> idleBetween_{0};
  std::atomic<long> blocks_{0};
  std::thread thread_;
};

QVAnyMap voiceParams(const VoiceFiles& v) {
  return QVAnyMap{{"modelPath", QVAny(v.model)}, {"tokensPath", QVAny(v.tokens)}, {"dataPath", QVAny(v.dataDir)}};
}

void measureFirstAudio(const VoiceFiles& voice) {
  Engine engine(voice);
  SherpaTTSNode node{QVAnyMap{}};
  node.callAction("loadModel", voiceParams(voice));
  AudioBusFormat format{kRate, 2};
  node.setBusFormat(format);
  Renderer renderer(node, 1);
  double rtfSeconds = 0;
  const double rtfMs = engine.wholeMs(sentences(10), &rtfSeconds);
  put("sooner/rtf", rtfMs / 1000.0 / rtfSeconds);
  for (int n : {1, 3, 10}) {
    const std::string text = sentences(n);
    std::vector<double> nodeMs, firstMs, wholeMs;
    for (int trial = 0; trial < 5; ++trial) {
      firstMs.push_back(engine.firstCallbackMs(text));
      wholeMs.push_back(engine.wholeMs(text));
      const auto t0 = Clock::now();
      renderer.arm(t0);
      node.synthesize(text);
      while (renderer.firstSoundMs() < 0 && msSince(t0, Clock::now()) < 60000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      nodeMs.push_back(renderer.firstSoundMs());
      node.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string k = "sooner/" + std::to_string(n);
    put(k + "/node_ms", median(nodeMs));
    put(k + "/first_callback_ms", median(firstMs));
    put(k + "/whole_ms", median(wholeMs));
    put(k + "/quiet_ms", engine.leadingQuietMs(text));
  }
}

void measureStreamedAnswer(const VoiceFiles& voice, int tokensPerSecond, bool prepareAhead) {
  constexpr int kSpeedup = 4;
  std::atomic<int> onAudioThread{0};
  Logger::setLevel(LogLevel::Debug);
  Logger::setSink([&](LogLevel, const std::string& line) {
    if (line.rfind("[SherpaTTSNode] Synthesizing buffered text after audio finished", 0) == 0) ++onAudioThread;
  });
  {
    SherpaTTSNode node{QVAnyMap{{"prepareAhead", QVAny(prepareAhead)}}};
    node.callAction("loadModel", voiceParams(voice));
    AudioBusFormat format{kRate, 2};
    node.setBusFormat(format);
    std::atomic<int> started{0}, finished{0};
    node.addListener("synthesisStarted", [&](const std::string&, const QVAny&) { ++started; });
    node.addListener("finished", [&](const std::string&, const QVAny&) { ++finished; });
    Renderer renderer(node, kSpeedup);
    const long firstBlock = renderer.blocks();
    long sent = 0;
    for (const std::string& token : streamed_answer::tokensOf(streamed_answer::kAnswer)) {
      while (renderer.blocks() < firstBlock + sent * 100 / tokensPerSecond)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      node.appendStreamingText(token, false);
      ++sent;
    }
    const bool finalWhilePlaying = finished.load() == 0;
    node.appendStreamingText("", true);
    const auto t0 = Clock::now();
    // A prepared piece is announced only when it starts: done when the
    // counts agree and stay so for a while.
    for (int quiet = 0; quiet < 40 && msSince(t0, Clock::now()) < 120000;) {
      const bool settled = finished.load() > 0 && finished.load() == started.load();
      quiet = settled ? quiet + 1 : 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string k = "sooner/stream/" + std::to_string(tokensPerSecond) + (prepareAhead ? "/ahead" : "/default");
    put(k + "/worst_us", renderer.worstProduceMicros());
    put(k + "/idle_blocks", static_cast<double>(renderer.idleBlocksBetweenPieces()));
    put(k + "/pieces", started.load());
    put(k + "/whole", finished.load() == started.load() ? 1 : 0);
    put(k + "/final_while_playing", finalWhilePlaying ? 1 : 0);
  }
  Logger::setSink({});
  Logger::setLevel(LogLevel::Warning);
  put("sooner/stream/" + std::to_string(tokensPerSecond) + (prepareAhead ? "/ahead" : "/default") +
          "/audio_thread_generations",
      onAudioThread.load());
}

}  // namespace

void measureSpeechSooner() {
  const VoiceFiles voice = costlyVoice();
  put("sooner/heavy", voice.heavy ? 1 : 0);
  measureFirstAudio(voice);
  for (int tokensPerSecond : {100, 10}) {
    measureStreamedAnswer(voice, tokensPerSecond, false);
    measureStreamedAnswer(voice, tokensPerSecond, true);
  }
}

}  // namespace bench
