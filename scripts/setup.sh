#!/usr/bin/env bash
# One-command set-up: installs dependencies, fetches the engine, generates the
# demonstration models, builds everything and runs the main job. Every step
# skips work already done, so a second run is quick.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scripts/install-deps.sh
scripts/fetch-engine.sh
if [[ -x scripts/models/generate.sh ]]; then
  scripts/models/generate.sh
fi
scripts/configure.sh default
cmake --build --preset default

exec scripts/main-job.sh
