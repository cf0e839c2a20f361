// shared_voice_bench: do two nodes generating at once on one shared voice
// finish as fast as on two voices of their own? The engine is called
// directly, as the nodes call it, with the real-cost voice: each of two
// threads speaks the same sentences, once on one engine voice used by both
// and once on two engine voices (created from the same files, as two
// unshared nodes would), alternating the order each round. One thread alone
// on one voice is timed too, as the cost of the work without contention.
// Every thread's audio is compared with the single thread's, sample for
// sample: concurrent generation on one voice must not mix the two outputs.
//
// Usage: shared_voice_bench [--rounds=N] [--results=FILE]
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {

using bench::fmt;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the whole process: over a two-thread run, CPU / wall near 2
// means the two generations ran at once, near 1 that they took turns.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Run {
  double wall = 0;
  double cpu = 0;
  double blockedShare = 0;  // of the two threads' time: asleep, neither running nor waiting for a core
};

// The calling thread's time on a core and waiting in the run queue for one,
// in seconds. What is left of its wall time it spent asleep (blocked on a
// lock, say): on a busy machine this tells a lock from a lack of cores.
struct SchedTimes {
  double running = 0;
  double waitingForCore = 0;
};
SchedTimes threadSchedTimes() {
  std::ifstream in("/proc/thread-self/schedstat");
  double running = 0, waiting = 0;
  in >> running >> waiting;
  return {running * 1e-9, waiting * 1e-9};
}

// Speaks every sentence on `voice`; `asleep` gets the seconds the thread slept.
bool speakAllTimed(const bench::DirectVoice& voice, const std::vector<std::string>& sentences,
                   const std::vector<std::vector<float>>& reference, double& asleep, double& wall);

// Speaks every sentence on `voice`; false when any audio differs from `reference`.
bool speakAll(const bench::DirectVoice& voice, const std::vector<std::string>& sentences,
              const std::vector<std::vector<float>>& reference) {
  bool same = true;
  for (size_t i = 0; i < sentences.size(); ++i) same = voice.generate(sentences[i]) == reference[i] && same;
  return same;
}

// Two threads, one per voice given (both may be the same).
Run twoThreads(const bench::DirectVoice& a, const bench::DirectVoice& b,
                  const std::vector<std::string>& sentences, const std::vector<std::vector<float>>& reference,
                  bool& same) {
  bool sameA = true, sameB = true;
  double asleepA = 0, asleepB = 0, wallA = 0, wallB = 0;
  const double cpuStart = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::thread first([&] { sameA = speakAllTimed(a, sentences, reference, asleepA, wallA); });
  std::thread second([&] { sameB = speakAllTimed(b, sentences, reference, asleepB, wallB); });
  first.join();
  second.join();
  const Run run{secondsSince(start), processCpuSeconds() - cpuStart, (asleepA + asleepB) / (wallA + wallB)};
  same = same && sameA && sameB;
  return run;
}

bool speakAllTimed(const bench::DirectVoice& voice, const std::vector<std::string>& sentences,
                   const std::vector<std::vector<float>>& reference, double& asleep, double& wall) {
  const SchedTimes before = threadSchedTimes();
  const auto start = std::chrono::steady_clock::now();
  const bool same = speakAll(voice, sentences, reference);
  wall = secondsSince(start);
  const SchedTimes after = threadSchedTimes();
  asleep = std::max(0.0, wall - (after.running - before.running) - (after.waitingForCore - before.waitingForCore));
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string resultsPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--rounds=", 0) == 0) rounds = std::max(1, std::stoi(a.substr(9)));
    else if (a.rfind("--results=", 0) == 0) resultsPath = a.substr(10);
    else {
      std::fprintf(stderr, "usage: shared_voice_bench [--rounds=N] [--results=FILE]\n");
      return 2;
    }
  }
  const std::string loadBefore = bench::loadAverage();
  const bench::VoiceFiles files = bench::costlyVoice();
  bench::DirectVoice shared(files.model, files.tokens, files.dataDir);
  bench::DirectVoice other(files.model, files.tokens, files.dataDir);
  if (shared.tts == nullptr || other.tts == nullptr) {
    std::fprintf(stderr, "shared_voice_bench: the engine did not load %s\n", files.model.c_str());
    return 1;
  }
  const std::vector<std::string> sentences(bench::benchSentences().begin(), bench::benchSentences().begin() + 4);
  std::vector<std::vector<float>> reference;
  double audioSeconds = 0;
  for (const std::string& s : sentences) {
    reference.push_back(shared.generate(s));
    audioSeconds += reference.back().size() / 16000.0;
  }
  other.generate(sentences[0]);  // warm-up of the second voice

  std::vector<double> alone, sharedTimes, separateTimes, sharedCpu, separateCpu, sharedAsleep, separateAsleep;
  auto keep = [](const Run& run, std::vector<double>& wall, std::vector<double>& cpuPerWall,
                 std::vector<double>& asleep) {
    wall.push_back(run.wall);
    cpuPerWall.push_back(run.cpu / run.wall);
    asleep.push_back(run.blockedShare);
  };
  bool same = true;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    same = speakAll(shared, sentences, reference) && same;
    alone.push_back(secondsSince(start));
    if (round % 2 == 0) {
      keep(twoThreads(shared, shared, sentences, reference, same), sharedTimes, sharedCpu, sharedAsleep);
      keep(twoThreads(shared, other, sentences, reference, same), separateTimes, separateCpu, separateAsleep);
    } else {
      keep(twoThreads(shared, other, sentences, reference, same), separateTimes, separateCpu, separateAsleep);
      keep(twoThreads(shared, shared, sentences, reference, same), sharedTimes, sharedCpu, sharedAsleep);
    }
    std::fprintf(stderr, "round %d of %d: alone %.3f s, shared %.3f s, separate %.3f s\n", round + 1, rounds,
                 alone.back(), sharedTimes.back(), separateTimes.back());
  }

  std::ostringstream md;
  md << "## Shared voice: two nodes generating at once\n\n"
     << (files.heavy ? "Real-cost voice" : "Demonstration voice (the real-cost fixture is missing)")
     << ", engine defaults (one thread per generation), each thread speaking " << sentences.size()
     << " sentences (" << fmt("%.2f", audioSeconds) << " s of audio); wall time, median of " << rounds
     << " rounds (min-max); CPU/wall: process CPU time over wall time (2 = both threads ran all "
        "the time at once, 1 = they took turns or shared one core); asleep: the share of the threads' time spent neither on a core nor waiting for one (blocked, on a "
        "lock say), from /proc/thread-self/schedstat, which a busy machine leaves unchanged; load average "
        "before the run: "
     << loadBefore << ".\n\n"
     << "| Case | Wall time | min | max | vs one thread alone | CPU/wall | Asleep | Audio as one thread alone |\n"
     << "|---|---|---|---|---|---|---|---|\n";
  const double base = bench::median(alone);
  auto row = [&](const char* name, const std::vector<double>& t, const std::vector<double>& cpu,
                 const std::vector<double>& asleep) {
    md << "| " << name << " | " << fmt("%.3f s", bench::median(t)) << " | "
       << fmt("%.3f", *std::min_element(t.begin(), t.end())) << " | "
       << fmt("%.3f", *std::max_element(t.begin(), t.end())) << " | " << fmt("%.2fx", bench::median(t) / base)
       << " | " << (cpu.empty() ? std::string("1 thread") : fmt("%.2f", bench::median(cpu))) << " | "
       << (asleep.empty() ? std::string("-") : fmt("%.1f%%", 100 * bench::median(asleep))) << " | " << (same ? "yes" : "**no**") << " |\n";
  };
  row("one thread, one voice", alone, {}, {});
  row("two threads, one shared voice", sharedTimes, sharedCpu, sharedAsleep);
  row("two threads, two voices", separateTimes, separateCpu, separateAsleep);
  std::printf("\n%s", md.str().c_str());
  if (!resultsPath.empty()) {
    std::ofstream out(resultsPath, std::ios::app);
    out << "\n" << md.str();
  }
  return same ? 0 : 1;
}
