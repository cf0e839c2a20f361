// conversations_bench: how many conversations one machine speaks in real
// time. N speech nodes ("prepareAhead", the real-cost voice, shared or each
// its own) each speak the streamed answer, its tokens appended at 15 per
// second by a thread of the conversation's own (as a text generator's
// callback would), all N rendered by one driver thread at real time in
// 10 ms blocks (as one graph renders its nodes), for a fixed time.
//
// A block starves when a segment that is still being generated has nothing
// ready to play: the segment playing runs out of samples before the block
// is full while its generation goes on, or nothing plays and nothing is
// queued while the node's next segment is being generated (after the node
// was first heard; a gap while no text has arrived is the text
// generator's, not counted). The
// driver's passes over all nodes that take longer than a block are counted
// too: a device would have played a gap there for every node.
//
// Blocks are 160 frames at 16000 Hz mono, the voice's own format, so that
// the play position shows exactly what each block took; conversion to the
// graph's rate is measured by qs_bench and is small beside generation.
//
// Usage: conversations_bench N [--seconds=S] [--separate] [--results=FILE]
//   --separate  every node loads its own copy of the token table, so no
//               voice is shared
// Prints one markdown table row.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "support/StreamedAnswer.h"
#include "support/TempDir.h"
#include "tts/SherpaTTSNode.h"
#include "tts/TTSInternals.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 160;  // 10 ms at 16000 Hz
constexpr double kTokensPerSecond = 15.0;

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The voice's generation CPU time over audio time, one thread, in this process.
double measureRtf(const bench::VoiceFiles& files) {
  bench::DirectVoice voice(files.model, files.tokens, files.dataDir);
  voice.generate("Warm up.");
  double audio = 0, cpu = 0;
  for (size_t i = 0; i < 4; ++i) {
    const double start = threadCpuSeconds();
    audio += voice.generate(bench::benchSentences()[i]).size() / 16000.0;
    cpu += threadCpuSeconds() - start;
  }
  return cpu / audio;
}

struct Conversation {
  std::unique_ptr<SherpaTTSNode> node;
  bool heard = false;
  long starvedBlocks = 0;
  long ranDryBlocks = 0;  // of them: the segment playing ran out (the rest: between segments)
  long blocksWithSound = 0;
  long idleBlocks = 0;  // after it was first heard: nothing to play and nothing being generated
};

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  double seconds = 60;
  bool separate = false;
  std::string resultsPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--seconds=", 0) == 0) seconds = std::stod(a.substr(10));
    else if (a == "--separate") separate = true;
    else if (a.rfind("--results=", 0) == 0) resultsPath = a.substr(10);
    else count = std::stoi(a);
  }
  if (count < 1) {
    std::fprintf(stderr, "usage: conversations_bench N [--seconds=S] [--separate] [--results=FILE]\n");
    return 2;
  }
  Logger::setLevel(LogLevel::Warning);
  const std::string loadBefore = bench::loadAverage();
  const bench::VoiceFiles files = bench::costlyVoice();
  const double rtf = measureRtf(files);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

  test_kit::TempDir copies("qs_conversations");
  std::vector<Conversation> conversations(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::string tokens = files.tokens;
    if (separate) {
      tokens = (copies / ("tokens-" + std::to_string(i) + ".txt")).string();
      fs::copy_file(files.tokens, tokens);
    }
    auto& c = conversations[static_cast<size_t>(i)];
    c.node = std::make_unique<SherpaTTSNode>(QVAnyMap{{"prepareAhead", QVAny(true)}});
    AudioBusFormat format{16000, 1};
    if (!c.node->loadModel(files.model, tokens, files.dataDir) || !c.node->setBusFormat(format)) {
      std::fprintf(stderr, "conversations_bench: node %d did not load %s\n", i + 1, files.model.c_str());
      return 1;
    }
  }

  const std::vector<std::string> tokens = streamed_answer::tokensOf(streamed_answer::kAnswer);
  std::atomic<bool> stopping{false};
  const double cpuStart = processCpuSeconds();
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> feeders;
  for (auto& c : conversations) {
    feeders.emplace_back([&c, &tokens, &stopping, start] {
      for (size_t k = 0; k < tokens.size() && !stopping.load(); ++k) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(k / kTokensPerSecond)));
        c.node->appendStreamingText(tokens[k], false);
      }
      if (!stopping.load()) c.node->appendStreamingText("", true);
    });
  }

  bench::Block block(1, kFrames, 16000);
  long passes = 0, overlongPasses = 0;
  double worstPassMs = 0;
  for (auto deadline = start + std::chrono::milliseconds(10); deadline <= end;
       deadline += std::chrono::milliseconds(10)) {
    const auto passStart = Clock::now();
    for (auto& c : conversations) {
      SherpaTTSNode::Internals& in = c.node->internalsForTesting();
      GeneratedAudioItem* before = in.currentItem.load();
      const int32_t positionBefore = before != nullptr ? before->readPosition.load() : 0;
      c.node->produce(block.bus());
      GeneratedAudioItem* after = in.currentItem.load();
      const bool sameSegment = after != nullptr && after == before;
      const int32_t played = sameSegment ? after->readPosition.load() - positionBefore : 0;
      if (played > 0 || (after != nullptr && after != before)) {
        c.heard = true;
        ++c.blocksWithSound;
      }
      if (!c.heard) continue;
      const bool playingRanDry = sameSegment && !after->generationDone.load() && played < kFrames;
      // Nothing played and nothing is queued while the next segment is
      // being generated (its first sentence not there yet). The block in
      // which a segment ends plays its last samples and is not counted.
      const bool nothingWhileGenerating = played == 0 && after == before &&
                                          (after == nullptr || after->complete.load()) &&
                                          in.queuedPieces.back() == nullptr && in.synthesesRunning.load() > 0;
      if (playingRanDry || nothingWhileGenerating) ++c.starvedBlocks;
      if (playingRanDry) ++c.ranDryBlocks;
      else if (played == 0 && after == before && in.synthesesRunning.load() == 0) ++c.idleBlocks;
    }
    const auto passEnd = Clock::now();
    const double passMs = std::chrono::duration<double, std::milli>(passEnd - passStart).count();
    worstPassMs = std::max(worstPassMs, passMs);
    if (passMs > 10.0) ++overlongPasses;
    ++passes;
    std::this_thread::sleep_until(deadline);
  }
  // Cores this process had on average: on a shared machine fewer than it has.
  const double coresUsed = (processCpuSeconds() - cpuStart) /
                           std::chrono::duration<double>(Clock::now() - start).count();
  stopping.store(true);
  for (auto& c : conversations) c.node->stop();
  for (auto& f : feeders) f.join();

  long starved = 0, ranDry = 0, soundBlocks = 0, idle = 0;
  int nodesStarved = 0, nodesHeard = 0;
  for (const auto& c : conversations) {
    starved += c.starvedBlocks;
    ranDry += c.ranDryBlocks;
    soundBlocks += c.blocksWithSound;
    idle += c.idleBlocks;
    nodesStarved += c.starvedBlocks > 0 ? 1 : 0;
    nodesHeard += c.heard ? 1 : 0;
  }
  const std::string row = "| " + std::to_string(count) + " | " + (separate ? "separate" : "shared") + " | " +
                          std::to_string(starved) + " (" + std::to_string(ranDry) + " / " + std::to_string(starved - ranDry) + ") | " +
                          std::to_string(nodesStarved) + " | " +
                          std::to_string(overlongPasses) + " of " + std::to_string(passes) + " | " +
                          bench::fmt("%.2f ms", worstPassMs) + " | " + std::to_string(nodesHeard) + " | " +
                          bench::fmt("%.1f s", soundBlocks / 100.0 / count) + " | " +
                          bench::fmt("%.1f s", idle / 100.0 / count) + " | " + bench::fmt("%.3f", rtf) +
                          " | " + bench::fmt("%.0f", cores / rtf) + " | " + bench::fmt("%.2f", coresUsed) + " | " + loadBefore + " |";
  std::printf("%s\n", row.c_str());
  if (!resultsPath.empty()) std::ofstream(resultsPath, std::ios::app) << row << "\n";
  return 0;
}
