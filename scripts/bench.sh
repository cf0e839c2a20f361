#!/usr/bin/env bash
# Configures the "bench" build (Release, benchmarks on, tests off), builds the
# four benchmark programs and runs them. Prints the Google Benchmark output and
# then the result tables in markdown; the tables also go to
# build/bench/results.md. Takes about three minutes on a 2-core machine (the
# word timing benchmark generates every word prefix of its texts twice).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$root/build/bench"
results="$build/results.md"

scripts/configure.sh bench
cmake --build --preset bench --target qs_bench qs_bench_memory voice_cost_bench stt_turn_bench word_timing_bench

bin="$build/bench"
"$bin/qs_bench" --benchmark_display_aggregates_only=true --benchmark_color=false --results="$results"

memory_table="$(
  echo "| Run | Syntheses (early / late) | VmRSS at start (voice loaded) | VmRSS early | VmRSS late | Ratio late/early | Goal (within 5%) | C heap in use early / late | Time |"
  echo "|---|---|---|---|---|---|---|---|---|"
  "$bin/qs_bench_memory" node 2000
  "$bin/qs_bench_memory" engine 2000
)"
{
  echo
  echo "## 7. Memory (demonstration voice, short texts, each run in a process of its own)"
  echo
  echo "$memory_table"
} | tee -a "$results"
"$bin/voice_cost_bench" --results="$results"
"$bin/stt_turn_bench" --results="$results"
"$bin/word_timing_bench" --results="$results"
echo
echo "Tables written to $results"
