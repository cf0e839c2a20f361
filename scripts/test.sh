#!/usr/bin/env bash
# Builds and runs the whole test suite (after scripts/setup.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
