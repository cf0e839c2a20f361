// Resident memory of a process holding N speech or N recognition nodes, as a
// server holding N conversations would, with the nodes sharing one engine
// voice or recognizer (every node loads the same files) or each holding its
// own (every node loads its own copy of the token table, which defeats
// sharing as copies of all the files would, without 60 MB of disk a node).
// Each node, once loaded, speaks one sentence played to its end (16000 Hz
// mono) or decodes one known recording, so that what the engine allocates
// on first use is counted too.
//
// Usage: shared_memory_bench speech|recognition N shared|separate [VOICE_MODEL]
//   VOICE_MODEL  the speech nodes' model, its tokens.txt and espeak-ng-data
//                beside it (default: the demonstration voice); the
//                real-size voice is written by scripts/models/generate_real_size.sh
// Prints one markdown table row: nodes, N, sharing, VmRSS before the first
// node, with one node, with N nodes, and the cost of each further node,
// (with N - with 1) / (N - 1).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "BenchSupport.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "support/TempDir.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

struct Files {
  std::string model, tokens, third;
};

// The token table node `i` loads: the shared one, or a copy of its own.
std::string tokensFor(const Files& files, int i, bool shared, const test_kit::TempDir& copies) {
  if (shared) return files.tokens;
  const fs::path copy = copies / ("tokens-" + std::to_string(i) + ".txt");
  fs::copy_file(files.tokens, copy);
  return copy.string();
}

// Speaks one sentence at the voice's rate and plays it to its end.
bool speakOnce(SherpaTTSNode& node) {
  AudioBusFormat format{16000, 1};
  if (!node.setBusFormat(format)) return false;
  bool finished = false;
  node.addListener("finished", [&finished](const std::string&, const QVAny&) { finished = true; });
  node.synthesize("The morning train left the station on time and carried people home.");
  bench::Block block(1, 160, 16000);
  for (int b = 0; b < 3000 && !finished; ++b) node.produce(block.bus());
  return finished;
}

// Feeds a recording in 10 ms blocks and decodes it; true when text came out.
bool decodeOnce(SherpaSTTNode& node, std::vector<float> samples, int rate) {
  AudioBusFormat format{rate, 1};
  if (!node.setBusFormat(format)) return false;
  const size_t step = static_cast<size_t>(rate / 100);
  for (size_t i = 0; i < samples.size(); i += step) {
    float* start = samples.data() + i;
    AudioBuffer<float> buffer(1, static_cast<unsigned>(std::min(step, samples.size() - i)), false, 0, &start);
    AudioBus bus(&buffer);
    node.consume(bus);
  }
  return !node.processAudio().empty();
}

double mib(long kib) { return kib / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: shared_memory_bench speech|recognition N shared|separate [VOICE_MODEL]\n");
    return 2;
  }
  Logger::setLevel(LogLevel::Warning);
  const bool speech = std::string(argv[1]) == "speech";
  const int count = std::max(1, std::stoi(argv[2]));
  const bool shared = std::string(argv[3]) == "shared";
  Files files;
  if (speech) {
    const fs::path model = argc > 4 ? fs::path(argv[4]) : fs::path(defaultTTSModelPath("en"));
    files = {model.string(), (model.parent_path() / "tokens.txt").string(),
             (model.parent_path() / "espeak-ng-data").string()};
  } else {
    files = {defaultSTTModelPath(), defaultSTTTokensPath(), defaultSTTGraphPath()};
  }
  int rate = 0;
  const std::vector<float> recording = bench::readWav(bench::testdataDir() + "/hello_world_16000.wav", &rate);
  test_kit::TempDir copies("qs_shared_memory");

  const long before = bench::residentKiB();
  long withOne = 0;
  std::vector<std::unique_ptr<SherpaTTSNode>> speakers;
  std::vector<std::unique_ptr<SherpaSTTNode>> listeners;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string tokens = tokensFor(files, i, shared, copies);
    bool ok = false;
    if (speech) {
      speakers.push_back(std::make_unique<SherpaTTSNode>(QVAnyMap{}));
      ok = speakers.back()->loadModel(files.model, tokens, files.third) && speakOnce(*speakers.back());
    } else {
      listeners.push_back(std::make_unique<SherpaSTTNode>());
      ok = listeners.back()->loadSherpaModel(files.model, tokens, files.third) &&
           decodeOnce(*listeners.back(), recording, rate);
    }
    if (!ok) {
      std::fprintf(stderr, "shared_memory_bench: node %d did not load or work (%s)\n", i + 1, files.model.c_str());
      return 1;
    }
    if (i == 0) withOne = bench::residentKiB();
  }
  const long withAll = bench::residentKiB();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string perNode =
      count > 1 ? bench::fmt("%.2f MiB", mib(withAll - withOne) / (count - 1)) : std::string("-");
  std::printf("| %s | %d | %s | %.1f MiB | %.1f MiB | %.1f MiB | %s | %.1f s |\n", speech ? "speech" : "recognition",
              count, shared ? "shared" : "separate", mib(before), mib(withOne), mib(withAll), perNode.c_str(),
              seconds);
  return 0;
}
