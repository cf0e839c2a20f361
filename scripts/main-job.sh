#!/usr/bin/env bash
# The main job: what the command-line host shows a newcomer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec "$root/build/default/apps/quorvel-sherpa" nodes
