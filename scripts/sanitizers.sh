#!/usr/bin/env bash
# Builds and runs the test suite under AddressSanitizer with
# UndefinedBehaviorSanitizer (preset "asan", build/asan), then under
# ThreadSanitizer (preset "tsan", build/tsan), after scripts/setup.sh. The
# test presets carry the sanitizer options and the suppressions of
# tests/sanitizers, so `ctest --preset asan` by hand runs the same way.
# Usage: scripts/sanitizers.sh [asan|tsan ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
presets=("$@")
if [[ ${#presets[@]} -eq 0 ]]; then presets=(asan tsan); fi
for preset in "${presets[@]}"; do
  start=$SECONDS
  scripts/configure.sh "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  echo "sanitizers: $preset configure, build and tests took $((SECONDS - start)) s"
done
