#!/usr/bin/env bash
# Builds and runs the whole test suite (after scripts/setup.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/configure.sh default
cmake --build --preset default
ctest --preset default
