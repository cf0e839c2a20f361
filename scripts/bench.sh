#!/usr/bin/env bash
# Configures the "bench" build (Release, benchmarks on, tests off), builds the
# benchmark programs and runs them. Prints the Google Benchmark output and
# then the result tables in markdown; the tables also go to
# build/bench/results.md. Takes about three minutes on a 2-core machine (the
# word timing benchmark generates every word prefix of its texts twice), and
# with --conversations (below) about ten minutes more.
#   scripts/bench.sh [--conversations]
# --conversations also writes the real-size voice (60 MB, once, see
#   scripts/models/generate_real_size.sh) and runs the shared-engine tables:
#   resident memory with 1, 10 and 50 nodes with and without sharing, two
#   generations at once on one voice, and the largest number of streamed
#   conversations one driver thread renders without a starved block
#   (CONVERSATION_SECONDS, default 60, sets each trial's length).
set -euo pipefail

conversations=0
if [[ "${1:-}" == "--conversations" ]]; then conversations=1; fi

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$root/build/bench"
results="$build/results.md"

scripts/configure.sh bench
cmake --build --preset bench --target qs_bench qs_bench_memory voice_cost_bench stt_turn_bench word_timing_bench \
  shared_voice_bench shared_memory_bench conversations_bench

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

if [[ $conversations == 1 ]]; then
  scripts/models/generate_real_size.sh
  big_voice="$root/.cache/real-size-voice/en_GB-southern_english_female-low-real-size.onnx"
  # The fixture must speak as the demonstration voice, sample for sample.
  "$bin/voice_cost_bench" --rounds=1 --heavy="$big_voice" >/dev/null 2>&1 ||
    { echo "bench.sh: the real-size voice does not speak as the demonstration voice" >&2; exit 1; }
  shared_memory_table="$(
    echo "| Nodes | N | Engine objects | VmRSS before the first node | with 1 node | with N nodes | Each further node | Time |"
    echo "|---|---|---|---|---|---|---|---|"
    for kind in speech recognition; do
      for n in 1 10 50; do
        for sharing in shared separate; do
          if [[ $kind == speech ]]; then
            "$bin/shared_memory_bench" speech "$n" "$sharing" "$big_voice"
          else
            "$bin/shared_memory_bench" recognition "$n" "$sharing"
          fi
        done
      done
    done
  )"
  {
    echo
    echo "## 9. Memory of many nodes: speech nodes on the real-size voice, recognition nodes on the generated recognizer (each run in a process of its own)"
    echo
    echo "$shared_memory_table"
  } | tee -a "$results"

  "$bin/shared_voice_bench" --results="$results"

  # The largest N without a starved block: doubling, then halving the gap.
  seconds="${CONVERSATION_SECONDS:-60}"
  rows=()
  # Runs N conversations; true when some block starved, a pass took longer
  # than a block, or a node was never heard (its first piece not ready
  # within the trial: nothing of it could starve, but it did not keep up).
  starved_at() {
    local row
    row="$("$bin/conversations_bench" "$1" --seconds="$seconds")"
    echo "$row" >&2
    rows+=("$row")
    awk -F'|' '{ split($6, late, " "); exit !($4 + 0 > 0 || late[1] + 0 > 0 || $8 + 0 < $2 + 0) }' <<<"$row"
  }
  good=0
  bad=0
  n=1
  # Two cores carry at most 2 / RTF conversations (about 15 to 32 here):
  # 64 is well beyond, and more would only load the machine.
  while (( bad == 0 && n <= 64 )); do
    if starved_at "$n" 2>/dev/null; then bad=$n; else good=$n; n=$((n * 2)); fi
  done
  while (( bad > good + 1 )); do
    n=$(((good + bad) / 2))
    if starved_at "$n" 2>/dev/null; then bad=$n; else good=$n; fi
  done
  {
    echo
    echo "## 10. Conversations per machine: streamed answers (15 tokens/s, prepareAhead, real-cost voice, shared), one driver thread, ${seconds} s each"
    echo
    echo "| N | Voice | Starved blocks (segment ran dry / between segments) | Nodes with a starved block | Driver passes longer than a block | Worst pass | Nodes heard | Blocks with sound per node | Waiting for text per node | Voice RTF (CPU) | Cores / RTF | Cores the process used | Load before |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
    echo
    if (( bad == 0 )); then
      echo "Largest N tried, without a starved block or a driver pass longer than a block: $good (more not tried)"
    else
      echo "Largest N without a starved block, a driver pass longer than a block or a node not heard: $good"
    fi
  } | tee -a "$results"
fi
echo
echo "Tables written to $results"
